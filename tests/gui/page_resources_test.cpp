// The page files compiled into the program: found by id and type, written under the names the
// page uses, overwritten in place, skipped one by one when they cannot be written, removed.
#include "gui/page_resources.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "platform/termination.h"
#include "platform/text.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace CustomInstaller::Gui {
namespace {

namespace fs = std::filesystem;

const fs::path kStaged = OMK_PAGE_STAGED_DIR;

fs::path Target(const fs::path& folder, const PageResource& r) {
  return std::string_view(r.folder).empty() ? folder / r.file : folder / r.folder / r.file;
}

ino_t Inode(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// "id:type:path" of every resource the build staged (the page's own list), with the HTML
// type written as its number.
std::set<std::string> StagedTable() {
  std::set<std::string> table;
  std::stringstream list(OMK_PAGE_RESOURCES);
  for (std::string entry; std::getline(list, entry, '|');) {
    const size_t html = entry.find(":HTML:");
    if (html != std::string::npos) entry.replace(html, 6, ":#23:");
    table.insert(entry);
  }
  return table;
}

TEST(PageResourcesTest, TheTableMatchesTheStagedPageAndEveryResourceIsCompiledIn) {
  std::set<std::string> ours;
  for (const PageResource& r : PageResources()) {
    const std::string path = (std::string_view(r.folder).empty() ? fs::path(r.file) : fs::path(r.folder) / r.file).string();
    std::string_view data;
    ASSERT_TRUE(FindProgramResource(r.id, r.type, data)) << r.id << " " << r.type;
    EXPECT_EQ(std::string(data), TestSupport::ReadFile(kStaged / path)) << path;
    if (r.id < 1000) ours.insert(std::to_string(r.id) + ":" + r.type + ":" + path);
  }
  EXPECT_EQ(ours, StagedTable());
  EXPECT_EQ(ours.size(), 39u);

  std::string_view data;
  EXPECT_TRUE(FindProgramResource(kWindowIconId, kResourceTypeIcon, data));
  EXPECT_EQ(data.substr(1, 3), "PNG");
  // Ids that do not exist, and a known id under another type.
  const std::pair<uint16_t, const char*> absent[] = {{114, "JS"}, {156, "PNG"}, {165, "PNG"}, {170, "PNG"},
                                                      {151, "JS"}, {104, "HTML"}};
  for (const auto& [id, type] : absent) EXPECT_FALSE(FindProgramResource(id, type, data)) << id << " " << type;
}

TEST(PageResourcesTest, ExtractionWritesEveryFileUnderItsOwnName) {
  TestSupport::TempDir dir;
  CInstallerPageFiles files;
  const std::wstring index = ExtractPageResourcesTo(dir.Path(), files);
  EXPECT_EQ(index, Platform::Utf8ToWide((dir.Path() / "index.html").string()));
  EXPECT_EQ(files.indexHtml, index);
  EXPECT_EQ(files.indexFolder, Platform::Utf8ToWide((dir.Path() / "index").string()));
  for (const char* name : {"index.html", "index/rc/succeeded_page/checmark-icon.png", "index/js/supress-errors.js",
                           "index/rc/close_hover.png", "index/translations/zh-tw.json", "index/translations/pt-br.json",
                           "index/popup.css", "index/rc/bg@2x.png"}) {
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / name)) << name;
  }
  for (const PageResource& r : PageResources()) {
    EXPECT_EQ(TestSupport::ReadFile(Target(dir.Path(), r)), TestSupport::ReadFile(Target(kStaged, r))) << r.file;
  }
}

TEST(PageResourcesTest, ExtractingAgainOverwritesInPlace) {
  TestSupport::TempDir dir;
  CInstallerPageFiles files;
  ExtractPageResourcesTo(dir.Path(), files);
  const fs::path index = dir.Path() / "index.html", script = dir.Path() / "index/js/installer.js";
  const ino_t indexInode = Inode(index), scriptInode = Inode(script);
  TestSupport::WriteFile(index, std::string(500000, 'x'));  // longer than the resource
  TestSupport::WriteFile(script, "");
  ExtractPageResourcesTo(dir.Path(), files);
  EXPECT_EQ(TestSupport::ReadFile(index), TestSupport::ReadFile(kStaged / "index.html"));
  EXPECT_EQ(TestSupport::ReadFile(script), TestSupport::ReadFile(kStaged / "index/js/installer.js"));
  EXPECT_EQ(Inode(index), indexInode);
  EXPECT_EQ(Inode(script), scriptInode);
}

TEST(PageResourcesTest, AFileThatCannotBeWrittenIsSkipped) {
  TestSupport::TempDir dir;
  // A folder where a file should go.
  fs::create_directories(dir.Path() / "index/rc/close.png");
  CInstallerPageFiles files;
  EXPECT_FALSE(ExtractPageResourcesTo(dir.Path(), files).empty());
  EXPECT_TRUE(fs::is_directory(dir.Path() / "index/rc/close.png"));
  EXPECT_TRUE(fs::is_regular_file(dir.Path() / "index/rc/close_hover.png"));  // the next one
  EXPECT_TRUE(fs::is_regular_file(dir.Path() / "index/popup.css"));            // the last one
}

TEST(PageResourcesTest, ExtractionUsesThePrivateTemporaryFolderAndRemovalTakesOnlyThePage) {
  TestSupport::TempDir dir;
  const char* previous = std::getenv("TMPDIR");
  const std::string saved = previous ? previous : "";
  setenv("TMPDIR", dir.Path().c_str(), 1);
  CInstallerPageFiles files;
  const std::wstring index = ExtractPageResources(files);
  if (previous) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
  EXPECT_EQ(index, Platform::Utf8ToWide((dir.Path() / "index.html").string()));
  TestSupport::WriteFile(dir.Path() / "other.tmp", "kept");
  TestSupport::WriteFile(dir.Path() / "index/extra/added.txt", "also removed");

  RemovePageFiles(files);
  EXPECT_FALSE(fs::exists(dir.Path() / "index.html"));
  EXPECT_FALSE(fs::exists(dir.Path() / "index"));
  EXPECT_TRUE(fs::exists(dir.Path() / "other.tmp"));
  RemovePageFiles(files);  // nothing left: no error
  RemovePageFiles(CInstallerPageFiles{});
  EXPECT_TRUE(fs::exists(dir.Path() / "other.tmp"));
}

// Ended by a signal while the window shows the page: the page files go, what else is in the
// folder stays. Many runs' removals before it leave room for the last run's registration.
TEST(PageResourcesTest, ATerminationSignalRemovesThePageFiles) {
  TestSupport::TempDir dir;
  TestSupport::WriteFile(dir.Path() / "installer.tmp", "kept");
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    EXPECT_EXIT(
        {
          Platform::InstallTerminationCleanup();
          CInstallerPageFiles files;
          for (int run = 0; run < 40; ++run) {
            ExtractPageResourcesTo(dir.Path(), files);
            RemovePageFiles(files);
          }
          if (ExtractPageResourcesTo(dir.Path(), files).empty()) std::exit(1);
          TestSupport::WriteFile(dir.Path() / "index/rc/added-later.png", "x");
          std::raise(signal);
        },
        testing::KilledBySignal(signal), "");
    EXPECT_FALSE(fs::exists(dir.Path() / "index.html")) << signal;
    EXPECT_FALSE(fs::exists(dir.Path() / "index")) << signal;
    EXPECT_TRUE(fs::exists(dir.Path() / "installer.tmp"));
  }
}

}  // namespace
}  // namespace CustomInstaller::Gui
