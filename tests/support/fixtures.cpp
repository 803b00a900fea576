#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/environment.h"
#include "platform/reg_file.h"
#include "platform/text.h"
#include "platform/version_info.h"
#include "tests/support/process.h"

namespace TestSupport {

void ImportReg(const std::string& regText) {
  Platform::ApplyRegFile(Platform::ParseRegFile("Windows Registry Editor Version 5.00\n" + regText),
                         Platform::RegistryView::View64);
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void MakeExecutable(const std::filesystem::path& path,
                    const std::vector<std::pair<std::string, std::string>>& versionStrings) {
  std::filesystem::create_directories(path.parent_path());
  if (versionStrings.empty()) {
    std::filesystem::copy_file("/bin/true", path, std::filesystem::copy_options::overwrite_existing);
    return;
  }
  const auto note = path.string() + ".note";
  WriteFile(note, Platform::MakeVersionNote(versionStrings));
  const auto result = RunProcess("/usr/bin/objcopy",
                                 {"--add-section", ".note.omk.version=" + note, "--set-section-flags",
                                  ".note.omk.version=noload,readonly", "/bin/true", path.string()});
  std::filesystem::remove(note);
  ASSERT_EQ(result.exitCode, 0) << result.err;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::filesystem::path SuiteSettingsPath(const std::filesystem::path& programData) {
  return programData / "Quarro" / "Quarro Omnikit" / Platform::WideToUtf8(Platform::GetInteractiveUserKey()) /
         "Lumevo.ini";
}

std::string SuiteSettingsIni(const std::string& uidLine) {
  return "[Common]\nlanguage=English\nsplashShow=true\ncreateSystemRestorePoints=true\nshowScanInProgressDialog=true\n"
         "showOptimizeConfirmDialog=true\nenableScheduledTasks=true\nenableCheckUpdatesOnStartup=true\n"
         "allScannersStarts=false\nenableTracking=true\n" +
         uidLine + "allowOffers=true\n";
}

}  // namespace TestSupport
