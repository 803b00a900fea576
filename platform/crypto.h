#pragma once
// AES-128 as the system crypto provider does it for a passphrase: the key is derived from the
// MD5 of the passphrase (key = MD5 of a 64-byte buffer of 0x36 whose first 16 bytes are XOR-ed
// with that digest), AES-128-CBC with a zero IV and PKCS#7 padding.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/md5.h"

namespace Platform {

using Aes128Key = std::array<uint8_t, 16>;

Aes128Key DeriveAes128Key(std::string_view passphrase);

// Nothing when the data is empty, not whole blocks, or its padding is wrong.
std::optional<std::string> Aes128CbcDecrypt(const Aes128Key& key, std::string_view cipherText);
std::string Aes128CbcEncrypt(const Aes128Key& key, std::string_view plainText);

}  // namespace Platform
