#include "network/md5_digest.h"

#include <openssl/evp.h>

namespace Cxx::Network::Downloader {

struct CMd5Digest::Context {
  EVP_MD_CTX* ctx = nullptr;
  ~Context() { EVP_MD_CTX_free(ctx); }
};

CMd5Digest::CMd5Digest() : m_context(std::make_unique<Context>()) {
  m_context->ctx = EVP_MD_CTX_new();
  m_ready = m_context->ctx && EVP_DigestInit_ex(m_context->ctx, EVP_md5(), nullptr) == 1;
}

CMd5Digest::~CMd5Digest() = default;

bool CMd5Digest::Update(const void* data, size_t size) {
  return m_ready && EVP_DigestUpdate(m_context->ctx, data, size) == 1;
}

std::optional<std::string> CMd5Digest::HexDigest() {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!m_ready || EVP_DigestFinal_ex(m_context->ctx, value, &length) != 1 || length != 16) return std::nullopt;
  m_ready = false;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kDigits[value[i] >> 4]);
    hex.push_back(kDigits[value[i] & 0x0F]);
  }
  return hex;
}

}  // namespace Cxx::Network::Downloader
