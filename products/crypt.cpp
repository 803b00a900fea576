#include "products/crypt.h"

#include <boost/property_tree/json_parser.hpp>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/plain_file.h"
#include "products/input_limits.h"

namespace Security {

namespace {
constexpr std::uintmax_t kMaxDescriptionSize = 4u << 20;
}

CCrypt::CCrypt(std::string_view passphrase) {
  try {
    m_key = Platform::DeriveAes128Key(passphrase);
  } catch (const std::exception&) {
    // Without a key every decryption fails.
  }
}

std::optional<std::string> CCrypt::Decrypt(std::string_view cipherText) const {
  if (!m_key || cipherText.empty()) return std::nullopt;
  return Platform::Aes128CbcDecrypt(*m_key, cipherText);
}

bool ParseJson(std::string_view text, boost::property_tree::ptree& tree) {
  if (ProductList::NestingDepth(text, '{', '[', '}', ']') > ProductList::kMaxNestingDepth) return false;
  try {
    std::istringstream in{std::string(text)};
    boost::property_tree::ptree parsed;
    boost::property_tree::read_json(in, parsed);
    tree.swap(parsed);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool ReadEncryptedJson(const std::filesystem::path& file, boost::property_tree::ptree& tree) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxDescriptionSize) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto plain = CCrypt(kDescriptionPassphrase).Decrypt(data);
  return plain && ParseJson(*plain, tree);
}

bool ReadTrustedEncryptedJson(const std::filesystem::path& file, boost::property_tree::ptree& tree) {
  const auto data = Platform::ReadTrustedFile(file, kMaxDescriptionSize + 1);
  if (!data || data->size() > kMaxDescriptionSize) return false;
  const auto plain = CCrypt(kDescriptionPassphrase).Decrypt(*data);
  return plain && ParseJson(*plain, tree);
}

}  // namespace Security
