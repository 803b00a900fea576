// omk-crypt: encrypts or decrypts a product description file with the description passphrase.
//   omk-crypt encrypt IN OUT
//   omk-crypt decrypt IN OUT
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "platform/crypto.h"
#include "products/crypt.h"

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[1]) != "encrypt" && std::string(argv[1]) != "decrypt")) {
    std::cerr << "usage: omk-crypt encrypt|decrypt IN OUT\n";
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::cerr << "omk-crypt: cannot read " << argv[2] << '\n';
    return 1;
  }
  const std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto key = Platform::DeriveAes128Key(Security::kDescriptionPassphrase);
  std::string output;
  if (std::string(argv[1]) == "encrypt") {
    output = Platform::Aes128CbcEncrypt(key, input);
  } else {
    const auto plain = Platform::Aes128CbcDecrypt(key, input);
    if (!plain) {
      std::cerr << "omk-crypt: " << argv[2] << " does not decrypt with the description passphrase\n";
      return 1;
    }
    output = *plain;
  }
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  out << output;
  out.close();
  if (!out) {
    std::cerr << "omk-crypt: cannot write " << argv[3] << '\n';
    return 1;
  }
  return 0;
}
