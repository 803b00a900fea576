#include "gui/page_resources.h"

#include <gio/gio.h>

#include <array>
#include <fstream>
#include <mutex>
#include <system_error>

#include "platform/paths.h"
#include "platform/termination.h"
#include "platform/text.h"

// The bundle made by glib-compile-resources from the staged page (gui/CMakeLists.txt).
extern "C" GResource* omk_program_get_resource(void);
extern "C" void omk_program_register_resource(void);

namespace CustomInstaller::Gui {

namespace {

constexpr const char* kFailed = "index/rc/failed_page";
constexpr const char* kProgress = "index/rc/progress_page";
constexpr const char* kSucceeded = "index/rc/succeeded_page";
constexpr const char* kRc = "index/rc";
constexpr const char* kJs = "index/js";
constexpr const char* kTranslations = "index/translations";
constexpr const char* kIndex = "index";

constexpr PageResource kResources[] = {
    {104, kResourceTypeHtml, "", "index.html"},
    {151, "PNG", kFailed, "cross-icon.png"},
    {152, "PNG", kProgress, "backup-icon.png"},
    {153, "PNG", kProgress, "bulb-icon.png"},
    {154, "PNG", kProgress, "click-icon.png"},
    {155, "PNG", kProgress, "cloud-icon.png"},
    {157, "PNG", kProgress, "pc-icon.png"},
    {158, "PNG", kProgress, "windows-icon.png"},
    {159, "PNG", kSucceeded, "checmark-icon.png"},
    {160, "PNG", kRc, "close.png"},
    {172, "PNG", kRc, "close_hover.png"},
    {161, "PNG", kRc, "gear-icon.png"},
    {162, "PNG", kRc, "logo-big.png"},
    {163, "PNG", kRc, "minimize_normal.png"},
    {171, "PNG", kRc, "bg.png"},
    {164, "PNG", kRc, "minimize_hovered.png"},
    {111, "JS", kJs, "installer.js"},
    {112, "JS", kJs, "jquery-1.12.2.min.js"},
    {113, "JS", kJs, "jquery-migrate-1.4.1.min.js"},
    {115, "JS", kJs, "supress-errors.js"},
    {116, "JS", kTranslations, "da.json"},
    {117, "JS", kTranslations, "de.json"},
    {118, "JS", kTranslations, "en.json"},
    {119, "JS", kTranslations, "es.json"},
    {120, "JS", kTranslations, "fi.json"},
    {121, "JS", kTranslations, "fr.json"},
    {122, "JS", kTranslations, "it.json"},
    {123, "JS", kTranslations, "ja.json"},
    {124, "JS", kTranslations, "nl.json"},
    {125, "JS", kTranslations, "no.json"},
    {126, "JS", kTranslations, "pt-br.json"},
    {127, "JS", kTranslations, "ru.json"},
    {128, "JS", kTranslations, "sv.json"},
    {129, "JS", kTranslations, "tr.json"},
    {130, "JS", kTranslations, "zh-tw.json"},
    {141, "CSS", kIndex, "reset.css"},
    {142, "CSS", kIndex, "general.css"},
    {143, "CSS", kIndex, "controls.css"},
    {144, "CSS", kIndex, "popup.css"},
    // The 2x images of scaled screens.
    {1151, "PNG", kFailed, "cross-icon@2x.png"},
    {1152, "PNG", kProgress, "backup-icon@2x.png"},
    {1153, "PNG", kProgress, "bulb-icon@2x.png"},
    {1154, "PNG", kProgress, "click-icon@2x.png"},
    {1155, "PNG", kProgress, "cloud-icon@2x.png"},
    {1157, "PNG", kProgress, "pc-icon@2x.png"},
    {1158, "PNG", kProgress, "windows-icon@2x.png"},
    {1159, "PNG", kSucceeded, "checmark-icon@2x.png"},
    {1160, "PNG", kRc, "close@2x.png"},
    {1172, "PNG", kRc, "close_hover@2x.png"},
    {1161, "PNG", kRc, "gear-icon@2x.png"},
    {1162, "PNG", kRc, "logo-big@2x.png"},
    {1163, "PNG", kRc, "minimize_normal@2x.png"},
    {1171, "PNG", kRc, "bg@2x.png"},
    {1164, "PNG", kRc, "minimize_hovered@2x.png"},
};

// The folders to create; "index" and "index/rc" come into being as their parents.
constexpr std::array kFolders = {kJs, kTranslations, kFailed, kProgress, kSucceeded};

std::wstring Wide(const std::filesystem::path& path) { return Platform::Utf8ToWide(path.string()); }

// Replaces the file's content in place (an existing file keeps its identity).
bool WriteWhole(const std::filesystem::path& path, std::string_view data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

// The program's resource bundle, set up on first use rather than at start: GIO may be loaded
// only when the window is about to show.
GResource* ProgramResource() {
  static std::once_flag once;
  std::call_once(once, [] { omk_program_register_resource(); });
  return omk_program_get_resource();
}

}  // namespace

std::span<const PageResource> PageResources() { return kResources; }

bool FindProgramResource(uint16_t id, std::string_view type, std::string_view& data) {
  GResource* resources = ProgramResource();
  if (!resources) return false;
  const std::string path = "/omk/" + std::string(type) + "/" + std::to_string(id);
  GBytes* bytes = g_resource_lookup_data(resources, path.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
  if (!bytes) return false;
  gsize size = 0;
  const void* begin = g_bytes_get_data(bytes, &size);
  // The bundle is static data of the program: the bytes stay valid after the release.
  data = std::string_view(static_cast<const char*>(begin), size);
  g_bytes_unref(bytes);
  return true;
}

std::wstring ExtractPageResources(CInstallerPageFiles& files) {
  std::filesystem::path temp;
  try {
    temp = Platform::GetTempFolder();
  } catch (const std::exception&) {
    return {};
  }
  return ExtractPageResourcesTo(temp, files);
}

std::wstring ExtractPageResourcesTo(const std::filesystem::path& folder, CInstallerPageFiles& files) {
  if (!ProgramResource()) return {};
  files.indexHtml = Wide(folder / "index.html");
  files.indexFolder = Wide(folder / "index");
  // Registered before anything is written: a signal that ends the program, also in the middle
  // of this, takes what was written (RemovePageFiles forgets them again).
  Platform::RemoveOnTermination(folder / "index.html");
  Platform::RemoveTreeOnTermination(folder / "index");
  for (const char* sub : kFolders) {
    std::error_code ignored;
    std::filesystem::create_directories(folder / sub, ignored);
  }
  for (const PageResource& resource : kResources) {
    std::string_view data;
    if (!FindProgramResource(resource.id, resource.type, data)) continue;
    const std::filesystem::path target = std::string_view(resource.folder).empty()
                                             ? folder / resource.file
                                             : folder / resource.folder / resource.file;
    (void)WriteWhole(target, data);  // a file that cannot be written is skipped
  }
  return files.indexHtml;
}

void RemovePageFiles(const CInstallerPageFiles& files) {
  std::error_code ignored;
  if (!files.indexHtml.empty()) {
    const std::filesystem::path index = Platform::WideToUtf8(files.indexHtml);
    std::filesystem::remove(index, ignored);
    Platform::ForgetOnTermination(index);
  }
  if (!files.indexFolder.empty()) {
    const std::filesystem::path folder = Platform::WideToUtf8(files.indexFolder);
    std::filesystem::remove_all(folder, ignored);
    Platform::ForgetOnTermination(folder);
  }
}

}  // namespace CustomInstaller::Gui
