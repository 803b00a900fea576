#include "app/extract_tracking_uid.h"

#include <filesystem>

#include "platform/plain_file.h"
#include "platform/text.h"
#include "products/product_settings.h"

namespace CustomInstaller {

bool CExtractTrackingUid::ExtractTrackingUid(const std::wstring& path) {
  if (path.empty()) return false;
  const auto settings = ProductSettings::CreateProductSettings("OMK");
  if (!settings) return false;
  try {
    if (settings->LoadUserSettings() != ProductSettings::kLoaded) return false;
  } catch (const std::exception&) {
    return false;  // a malformed file or a missing key
  }
  const boost::any value = settings->GetParameter("TrackingUID");
  const auto* uid = boost::any_cast<std::wstring>(&value);
  if (uid == nullptr || uid->empty()) return false;

  // The answer goes into a folder others of the user may write to: never through a link.
  const std::filesystem::path file(Platform::WideToUtf8(path));
  if (!Platform::WritePlainFile(file, Platform::WideToUtf8(*uid))) {
    // A partly written answer would be read as a wrong UID.
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(file, ec))) std::filesystem::remove(file, ec);
    return false;
  }
  return true;
}

}  // namespace CustomInstaller
