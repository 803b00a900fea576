#include "platform/crypto.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace Platform {

namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::optional<std::string> Run(const Aes128Key& key, std::string_view input, bool encrypt) {
  CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  const unsigned char iv[16] = {};
  if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv, encrypt ? 1 : 0) != 1 ||
      input.size() > static_cast<size_t>(INT32_MAX) - 32) {
    return std::nullopt;
  }
  std::string out(input.size() + 32, '\0');
  int written = 0, final = 0;
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  if (EVP_CipherUpdate(ctx.get(), o, &written, reinterpret_cast<const unsigned char*>(input.data()),
                       static_cast<int>(input.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), o + written, &final) != 1) {
    return std::nullopt;
  }
  out.resize(static_cast<size_t>(written + final));
  return out;
}

}  // namespace

Aes128Key DeriveAes128Key(std::string_view passphrase) {
  const auto base = Md5(passphrase);
  std::string buffer(64, '\x36');
  for (size_t i = 0; i < base.size(); ++i) buffer[i] = static_cast<char>(buffer[i] ^ base[i]);
  return Md5(buffer);
}

std::optional<std::string> Aes128CbcDecrypt(const Aes128Key& key, std::string_view cipherText) {
  if (cipherText.empty() || cipherText.size() % 16 != 0) return std::nullopt;
  return Run(key, cipherText, false);
}

std::string Aes128CbcEncrypt(const Aes128Key& key, std::string_view plainText) {
  auto out = Run(key, plainText, true);
  if (!out) throw std::runtime_error("AES encryption failed");
  return *out;
}

}  // namespace Platform
