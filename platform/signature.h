#pragma once
// Code-signing check of a file that carries an appended CMS signature:
//   content | DER PKCS#7 detached signature over the content | 12-byte trailer
//   (algorithm 0, hash 0, id type 2, two zero lengths, three zero bytes, big-endian signature
//   length) | "~Module signature appended~\n"
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Platform {

struct SignerInfo {
  std::vector<uint8_t> serialNumber;  // big-endian, as the certificate holds it
  std::wstring issuerName;            // issuer's common name
  std::wstring subjectName;           // subject's common name
  std::string signatureAlgorithm;     // dotted object identifier
  int64_t validFrom = 0;              // seconds since the Unix epoch
  int64_t validTo = 0;
};

enum class ESignatureCheck {
  Trusted,      // the signature verifies, its chain ends at a trusted root, code signing allowed
  Untrusted,    // no signature, a broken one, an unknown root, or a certificate not for code signing
  Error,        // the file or the trust store could not be read
};

// Verifies the file's appended signature against the roots in the PEM file `trustStore`. An
// expired signing certificate is accepted; the signer's certificate must allow code signing.
// On Trusted, `signer` describes the first signer's certificate.
ESignatureCheck VerifyFileSignature(const std::filesystem::path& file,
                                    const std::filesystem::path& trustStore, SignerInfo& signer);

}  // namespace Platform
