// Fuzzes the XML settings load: any bytes as a per-user and a common settings file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "products/suite_settings.h"

namespace {

// Hands the fuzzer's bytes to the product as both of its files.
class BytesFactory : public ProductSettings::ISettingsFactory {
 public:
  BytesFactory(std::string bytes, std::wstring userTag, std::wstring commonTag)
      : m_bytes(std::move(bytes)), m_userTag(std::move(userTag)), m_commonTag(std::move(commonTag)) {}
  ProductSettings::SettingsStreams OpenSettingsStreams() override {
    return {{m_userTag, std::make_shared<std::istringstream>(m_bytes)},
            {m_commonTag, std::make_shared<std::istringstream>(m_bytes)}};
  }

 private:
  std::string m_bytes;
  std::wstring m_userTag, m_commonTag;
};

template <class Settings>
void Load(const std::string& bytes, const wchar_t* userTag, const wchar_t* commonTag) {
  Settings settings(std::make_shared<BytesFactory>(bytes, userTag, commonTag));
  const int user = settings.LoadUserSettings();
  const int common = settings.LoadCommonSettings();
  if ((user != 0 && user != 2) || (common != 0 && common != 2)) std::abort();
  // A loaded per-user file always gives its last key, with its type.
  if (user == 0 && settings.GetParameter("TrackingUID").type() != typeid(std::wstring) &&
      settings.GetParameter("UsageTracking").type() != typeid(bool)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Load<ProductSettings::CVRSettings>(bytes, L"VR_CURRENT_USER_SETTINGS", L"VR_COMMON_SETTINGS");
  Load<ProductSettings::CTMSettings>(bytes, L"TM_CURRENT_USER_SETTINGS", L"TM_COMMON_SETTINGS");
  Load<ProductSettings::CHXSettings>(bytes, L"HX_CURRENT_USER_SETTINGS", L"HX_COMMON_SETTINGS");
  return 0;
}
