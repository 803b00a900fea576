// Fuzzes the INI settings load of the suite: any bytes either load or raise a property-tree
// error; nothing else escapes and a failed load leaves the map as it was.
#include <boost/property_tree/exceptions.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "products/suite_settings.h"

namespace {

class BytesFactory : public ProductSettings::ISettingsFactory {
 public:
  explicit BytesFactory(std::string bytes) : m_bytes(std::move(bytes)) {}
  ProductSettings::SettingsStreams OpenSettingsStreams() override {
    return {{L"LMV_CURRENT_USER_SETTINGS", std::make_shared<std::istringstream>(m_bytes)},
            {L"LMV_COMMON_SETTINGS", std::make_shared<std::istringstream>(m_bytes)}};
  }

 private:
  std::string m_bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ProductSettings::CLMVSettings settings(
      std::make_shared<BytesFactory>(std::string(reinterpret_cast<const char*>(data), size)));
  settings.SetParameter("TrackingUID", std::wstring(L"before"));
  try {
    if (settings.LoadUserSettings() != 0) std::abort();
    if (settings.GetParameter("ShowServerNotifications").type() != typeid(bool)) std::abort();
  } catch (const boost::property_tree::ptree_error&) {
    if (boost::any_cast<std::wstring>(settings.GetParameter("TrackingUID")) != L"before") std::abort();
  }
  try {
    (void)settings.LoadCommonSettings();
  } catch (const boost::property_tree::ptree_error&) {
  }
  return 0;
}
