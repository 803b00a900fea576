#pragma once
// MD5 digests: fed piece by piece, or of one block of bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Platform {

class CMd5Digest {
 public:
  CMd5Digest();
  ~CMd5Digest();
  CMd5Digest(const CMd5Digest&) = delete;
  CMd5Digest& operator=(const CMd5Digest&) = delete;

  // False when the digest service could not be started; Update and the results then fail too.
  bool Ready() const { return m_ready; }
  bool Update(const void* data, size_t size);
  // The 16 bytes; nothing when the digest could not be finished. Ends the digest.
  std::optional<std::array<uint8_t, 16>> Digest();
  // 32 lowercase hexadecimal digits; nothing when the digest could not be finished.
  std::optional<std::string> HexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
  bool m_ready = false;
};

// The digest of `data`; throws std::runtime_error when MD5 is not available.
std::array<uint8_t, 16> Md5(std::string_view data);
// The same as 32 lowercase hexadecimal digits.
std::string Md5Hex(std::string_view data);

}  // namespace Platform
