#pragma once
// MD5 digest fed piece by piece.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace Cxx::Network::Downloader {

class CMd5Digest {
 public:
  CMd5Digest();
  ~CMd5Digest();
  CMd5Digest(const CMd5Digest&) = delete;
  CMd5Digest& operator=(const CMd5Digest&) = delete;

  // False when the digest service could not be started; Update and HexDigest then fail too.
  bool Ready() const { return m_ready; }
  bool Update(const void* data, size_t size);
  // 32 lowercase hexadecimal digits; nothing when the digest could not be finished.
  std::optional<std::string> HexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
  bool m_ready = false;
};

}  // namespace Cxx::Network::Downloader
