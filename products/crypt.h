#pragma once
// The encrypted product description file.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <boost/property_tree/ptree.hpp>

#include "platform/crypto.h"

namespace Security {

// The passphrase the description file is encrypted with.
inline constexpr std::string_view kDescriptionPassphrase = "Q7RM-bW2xTz8Lk4N";

// AES-128 with a key derived from a passphrase.
class CCrypt {
 public:
  explicit CCrypt(std::string_view passphrase);
  // The plain text, or nothing when the data is empty or does not decrypt.
  std::optional<std::string> Decrypt(std::string_view cipherText) const;

 private:
  std::optional<Platform::Aes128Key> m_key;
};

// Reads, decrypts and parses a description file as JSON. False when the file is missing,
// unreadable, does not decrypt, or is not JSON (then `tree` is unchanged).
bool ReadEncryptedJson(const std::filesystem::path& file, boost::property_tree::ptree& tree);

// The same for a file in a folder others may write to: read only when it belongs to this user
// or root and no one else may write it (see Platform::ReadTrustedFile).
bool ReadTrustedEncryptedJson(const std::filesystem::path& file, boost::property_tree::ptree& tree);

// Parses JSON text into a tree; false on any parse error or nesting deeper than the
// description ever needs (so that hostile input cannot exhaust the stack).
bool ParseJson(std::string_view text, boost::property_tree::ptree& tree);

}  // namespace Security
