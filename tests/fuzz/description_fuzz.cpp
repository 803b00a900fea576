// Fuzzes the product description: any bytes as the built-in text, as a plain description
// file, and (encrypted) as a description file that decrypts. The registry root is an empty
// temporary folder, so every lookup runs and finds nothing.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/crypto.h"
#include "products/crypt.h"
#include "products/product_list.h"

namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    char pattern[] = "/tmp/omk-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    setenv("OMK_REGISTRY_ROOT", (std::string(pattern) + "/registry").c_str(), 1);
    setenv("OMK_PROGRAMDATA", pattern, 1);
    return std::filesystem::path(pattern);
  }();
  return folder;
}

void Exercise(const ProductList::CProductList& list) {
  for (const auto& code : list.GetProductCodes()) {
    ProductList::ProductInfo product;
    if (list.IsInstalled(code) || list.GetProduct(code, product) || list.IsVersionSupported(code)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto& folder = Folder();
  Exercise(ProductList::CProductList(L"", folder / "none", bytes));
  const auto file = folder / "desc";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << Platform::Aes128CbcEncrypt(Platform::DeriveAes128Key(Security::kDescriptionPassphrase), bytes);
  }
  Exercise(ProductList::CProductList(file.wstring(), folder / "none", ""));
  (void)ProductList::ParseVersion(bytes);
  return 0;
}
