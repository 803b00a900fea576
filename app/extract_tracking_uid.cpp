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

  // The answer goes only into a file that holds nothing yet (the hand-over file the asking copy
  // made, or a new one): never through a link, never over content or another user's file.
  return Platform::WriteIntoEmptyFile(std::filesystem::path(Platform::WideToUtf8(path)), Platform::WideToUtf8(*uid));
}

}  // namespace CustomInstaller
