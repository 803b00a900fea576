// omk-sign: appends a CMS code signature to a file.
//   omk-sign --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] IN [OUT]
// The signature is a DER PKCS#7 detached SHA-256 signature over the file's bytes, carrying the
// signer's certificate and the chain, followed by a 12-byte trailer (algorithm 0, hash 0,
// id type 2, zero lengths, big-endian signature length) and "~Module signature appended~\n".
// OUT defaults to IN; it is replaced atomically.
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& what) {
  std::cerr << "omk-sign: " << what << '\n';
  ERR_print_errors_fp(stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string keyPath, certPath, chainPath;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--key" || arg == "--cert" || arg == "--chain") && i + 1 < argc) {
      (arg == "--key" ? keyPath : arg == "--cert" ? certPath : chainPath) = argv[++i];
    } else {
      files.push_back(arg);
    }
  }
  if (keyPath.empty() || certPath.empty() || files.empty() || files.size() > 2) {
    std::cerr << "usage: omk-sign --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] IN [OUT]\n";
    return 2;
  }
  const std::string in = files[0];
  const std::string out = files.size() == 2 ? files[1] : files[0];

  std::ifstream input(in, std::ios::binary);
  if (!input) return Fail("cannot read " + in);
  const std::string content((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());

  FILE* f = std::fopen(keyPath.c_str(), "r");
  EVP_PKEY* key = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
  if (f) std::fclose(f);
  f = std::fopen(certPath.c_str(), "r");
  X509* cert = f ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
  if (f) std::fclose(f);
  if (!key || !cert) return Fail("cannot read the key or the certificate");
  STACK_OF(X509)* chain = sk_X509_new_null();
  if (!chainPath.empty()) {
    f = std::fopen(chainPath.c_str(), "r");
    if (!f) return Fail("cannot read " + chainPath);
    while (X509* extra = PEM_read_X509(f, nullptr, nullptr, nullptr)) sk_X509_push(chain, extra);
    ERR_clear_error();
    std::fclose(f);
  }

  BIO* data = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
  CMS_ContentInfo* cms = CMS_sign(cert, key, chain, data, CMS_BINARY | CMS_DETACHED | CMS_NOSMIMECAP);
  if (!cms) return Fail("signing failed");
  unsigned char* der = nullptr;
  const int derLength = i2d_CMS_ContentInfo(cms, &der);
  if (derLength <= 0) return Fail("cannot encode the signature");

  std::string signedFile = content;
  signedFile.append(reinterpret_cast<char*>(der), static_cast<size_t>(derLength));
  const auto length = static_cast<uint32_t>(derLength);
  const char trailer[12] = {0, 0, 2, 0, 0, 0, 0, 0,
                            static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                            static_cast<char>(length >> 8), static_cast<char>(length)};
  signedFile.append(trailer, sizeof trailer);
  signedFile += "~Module signature appended~\n";

  const std::string temp = out + ".signing";
  {
    std::ofstream output(temp, std::ios::binary | std::ios::trunc);
    output.write(signedFile.data(), static_cast<std::streamsize>(signedFile.size()));
    if (!output) return Fail("cannot write " + temp);
  }
  std::error_code ec;
  if (std::filesystem::exists(in)) {
    std::filesystem::permissions(temp, std::filesystem::status(in).permissions(), ec);
  }
  std::filesystem::rename(temp, out, ec);
  if (ec) return Fail("cannot replace " + out + ": " + ec.message());

  OPENSSL_free(der);
  CMS_ContentInfo_free(cms);
  BIO_free(data);
  sk_X509_pop_free(chain, X509_free);
  X509_free(cert);
  EVP_PKEY_free(key);
  return 0;
}
