#pragma once
// Code-signing check of a file that carries an appended CMS signature:
//   content | DER PKCS#7 detached signature over the content | 12-byte trailer
//   (algorithm 0, hash 0, id type 2, two zero lengths, three zero bytes, big-endian signature
//   length) | "~Module signature appended~\n"
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
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

// The signed content's digest of a file, taken while its bytes arrive.
struct ContentDigest {
  enum class EState {
    Ready,     // `sha256` is the content's digest, `signature` the appended signature
    Unsigned,  // the bytes do not end in a well-formed appended signature
    Unknown,   // the content's end lies before the held-back bytes: only the file can tell
  };
  EState state = EState::Unknown;
  uint64_t fileSize = 0;
  uint64_t contentLength = 0;
  std::array<uint8_t, 32> sha256{};
  std::string signature;  // DER
};

// Feeds every byte of a file, in order, to SHA-256 exactly once. The signature and its trailer
// sit at the end and must not reach the digest, so the last kHeldBack bytes are held back (in a
// ring of that fixed size) until the end, where the trailer says how many of them are content.
class CContentDigester {
 public:
  // The largest signature taken from the held-back bytes, plus its trailer and marker; a
  // larger one leaves the digest Unknown.
  static constexpr size_t kHeldBack = 256 * 1024;

  CContentDigester();
  ~CContentDigester();
  CContentDigester(const CContentDigester&) = delete;
  CContentDigester& operator=(const CContentDigester&) = delete;

  // Forgets everything fed so far (a new attempt). False when SHA-256 is not available.
  bool Reset();
  // The whole file will be about `size` bytes (a hint, given before the first byte): all but
  // its last kHeldBack bytes then go to the digest without being held back. Should the file
  // turn out shorter, the digest is Unknown.
  void Expect(uint64_t size);
  // False when the digest failed (it stays failed until Reset).
  bool Update(const uint8_t* data, size_t size);
  // Ends the digest of everything fed since Reset; nothing when it failed.
  std::optional<ContentDigest> Finish();

 private:
  bool Feed(const uint8_t* data, size_t size);
  bool Evict(size_t count);
  struct Context;
  std::unique_ptr<Context> m_context;
  std::vector<uint8_t> m_ring;
  size_t m_head = 0;   // oldest held-back byte
  size_t m_count = 0;  // bytes held back
  uint64_t m_total = 0;
  uint64_t m_direct = 0;  // bytes before this offset are hashed without being held back
  bool m_failed = false;
};

// Verifies the file's appended signature against the roots in the PEM file `trustStore`. An
// expired signing certificate is accepted; the signer's certificate must allow code signing.
// On Trusted, `signer` describes the first signer's certificate.
ESignatureCheck VerifyFileSignature(const std::filesystem::path& file,
                                    const std::filesystem::path& trustStore, SignerInfo& signer);

// The same check over a digest taken while the file was written, without reading it: the
// signed attributes' message digest must equal `digest.sha256`, and the signature, the chain
// and the code-signing usage are checked as above. A signature over another digest algorithm,
// or one without signed attributes, and an Unknown digest are checked by reading `file`.
ESignatureCheck VerifyFileSignature(const std::filesystem::path& file, const ContentDigest& digest,
                                    const std::filesystem::path& trustStore, SignerInfo& signer);

}  // namespace Platform
