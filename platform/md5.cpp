#include "platform/md5.h"

#include <openssl/evp.h>

#include <stdexcept>

#include "platform/text.h"

namespace Platform {

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

std::optional<std::array<uint8_t, 16>> CMd5Digest::Digest() {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!m_ready || EVP_DigestFinal_ex(m_context->ctx, value, &length) != 1 || length != 16) return std::nullopt;
  m_ready = false;
  std::array<uint8_t, 16> digest{};
  std::copy(value, value + 16, digest.begin());
  return digest;
}

std::optional<std::string> CMd5Digest::HexDigest() {
  const auto digest = Digest();
  if (!digest) return std::nullopt;
  return LowerHex(digest->data(), digest->size());
}

std::array<uint8_t, 16> Md5(std::string_view data) {
  CMd5Digest digest;
  digest.Update(data.data(), data.size());
  const auto value = digest.Digest();
  if (!value) throw std::runtime_error("MD5 is not available");
  return *value;
}

std::string Md5Hex(std::string_view data) {
  const auto value = Md5(data);
  return LowerHex(value.data(), value.size());
}

}  // namespace Platform
