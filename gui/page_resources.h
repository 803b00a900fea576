#pragma once
// The installer page's files, compiled into the program as resources and written into the
// private temporary folder for the installer window: "index.html" beside an "index" folder.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace CustomInstaller::Gui {

// What ExtractPageResources wrote: the full paths of "index.html" and of the "index" folder.
struct CInstallerPageFiles {
  std::wstring indexHtml;
  std::wstring indexFolder;
};

// Resource types: named types, and the numeric ones written "#<number>".
inline constexpr const char* kResourceTypeHtml = "#23";
inline constexpr const char* kResourceTypeIcon = "#14";
inline constexpr uint16_t kWindowIconId = 101;

// One page resource: its id and type, and where it goes under the temporary folder (folder
// empty: the temporary folder itself).
struct PageResource {
  uint16_t id;
  const char* type;
  const char* folder;
  const char* file;
};

// Every page resource, in the order in which they are written. The 2x images that the page
// uses on scaled screens carry the id of their 1x image plus 1000.
std::span<const PageResource> PageResources();

// The data of a compiled-in resource; false when there is none of that id and type.
bool FindProgramResource(uint16_t id, std::string_view type, std::string_view& data);

// Writes every page resource into the temporary folder and returns the path of
// "index.html"; empty (nothing written) when the program's resources or the temporary folder
// cannot be had. A resource or file that fails is skipped; an existing file is overwritten.
// "index.html" and the "index" folder are registered for deletion should the program be ended
// by a signal (platform/termination.h) until RemovePageFiles.
std::wstring ExtractPageResources(CInstallerPageFiles& files);
// The same into `folder`.
std::wstring ExtractPageResourcesTo(const std::filesystem::path& folder, CInstallerPageFiles& files);

// Deletes "index.html", then the "index" folder with everything under it, and forgets their
// registration for deletion at a signal; errors are ignored.
void RemovePageFiles(const CInstallerPageFiles& files);

}  // namespace CustomInstaller::Gui
