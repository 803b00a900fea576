// The uninstaller check with a real "~nsu.tmp" folder, real version notes, real processes and
// their windows on a test display.
#include "gui/uninstaller_check.h"

#include <sys/stat.h>

#include <optional>

#include "config/identity.h"
#include "platform/text.h"
#include "platform/version_info.h"
#include "tests/gui/guard_fixture.h"
#include "tests/support/fixtures.h"
#include "tests/support/process.h"
#include "tests/support/x_client.h"
#include "tests/support/xvfb.h"

namespace GuardTests {
namespace {

using CustomInstaller::Gui::CUninstallerCheck;

const std::string kDescription = "Quarro Omnikit Uninstaller";
const std::string kMutex = "{051B3265-3B59-4609-BD79-80FB92617939}";

// A copy of the helper program, with a version note holding this description when given.
void CopyHelper(const fs::path& to, const std::optional<std::string>& description) {
  fs::create_directories(to.parent_path());
  if (!description) {
    fs::copy_file(OMK_GUARD_HELPER, to, fs::copy_options::overwrite_existing);
    return;
  }
  const fs::path note = to.string() + ".note";
  TestSupport::WriteFile(note, Platform::MakeVersionNote({{"ProductVersion", "3.10.1.2"}, {"FileDescription", *description}}));
  const auto result = TestSupport::RunProcess("/usr/bin/objcopy",
                                              {"--add-section", ".note.omk.version=" + note.string(),
                                               "--set-section-flags", ".note.omk.version=noload,readonly",
                                               OMK_GUARD_HELPER, to.string()});
  fs::remove(note);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  fs::permissions(to, fs::perms::owner_all);
}

class UninstallerCheckTest : public GuardTest {
 protected:
  UninstallerCheckTest() { m_env.Set("DISPLAY", m_xvfb.Display()); }
  fs::path CopyFolder() const { return TempFolder() / "~nsu.tmp"; }

  TestSupport::Xvfb m_xvfb;
};

TEST_F(UninstallerCheckTest, RunningUninstallerIsFoundAndShown) {
  struct Case {
    const char* what;
    std::optional<std::string> note = kDescription;  // the copy's description; none: no note
    std::string configured = kDescription;
    bool mutex = true;
    std::string runAs = "copy";  // "copy": the copy in ~nsu.tmp runs; else a file of this name
    bool window = true;
    bool folder = true;
    bool ownSession = false;
    bool expected = false;
  };
  const std::vector<Case> cases = {
      {.what = "uninstaller runs with its window", .expected = true},
      {.what = "letter case of the description and the program's name differ",
       .note = "QUARRO omnikit UNINSTALLER", .runAs = "AU_\u00e9.EXE", .expected = true},
      {.what = "no one holds the mutex", .mutex = false},
      {.what = "another description", .note = "Quarro Omnikit Cleaner"},
      {.what = "copy without version note", .note = std::nullopt},
      {.what = "no process of that file name", .runAs = "other-program"},
      {.what = "process without a window", .window = false},
      {.what = "no ~nsu.tmp folder", .folder = false},
      {.what = "process in another login session", .ownSession = true},
      {.what = "empty description never matches", .note = "", .configured = ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(CopyFolder());
    const fs::path copy = CopyFolder() / "Au_\u00e9.exe";
    if (c.folder) {
      // Entries that are no program files are passed over without reading (a FIFO would block).
      fs::create_directories(CopyFolder() / "sub folder");
      ASSERT_EQ(mkfifo((CopyFolder() / "pipe").c_str(), 0600), 0);
      CopyHelper(copy, c.note);
    }
    const fs::path program = c.runAs == "copy" && c.folder ? copy : Root() / "bin" / (c.runAs == "copy" ? "Au_\u00e9.exe" : c.runAs);
    if (program != copy) CopyHelper(program, std::nullopt);

    std::vector<std::string> args;
    if (c.mutex) args.insert(args.end(), {"--mutex", kMutex});
    if (c.window) args.insert(args.end(), {"--window", "Uninstall wizard"});
    if (c.ownSession) args.push_back("--new-session");
    std::vector<std::string> lines;
    auto uninstaller = StartHelper(args, &lines, program.string());
    if (c.ownSession && std::find(lines.begin(), lines.end(), "session failed") != lines.end()) {
      std::cout << "[  SKIPPED ] " << c.what << ": no right to open a login session here\n";
      continue;
    }
    TestSupport::XWindowId window = 0;
    for (const auto& line : lines) {
      if (line.rfind("window ", 0) == 0) window = std::stoul(line.substr(7));
    }

    TestSupport::XClient desktop(m_xvfb.Display());
    const auto cover = desktop.CreateWindow({.title = "Text editor"});
    const bool running = CUninstallerCheck(Platform::Utf8ToWide(c.configured)).IsUninstallerRunning();
    EXPECT_EQ(running, c.expected);
    const auto requests = desktop.ActivationRequests();
    if (c.expected) {
      EXPECT_EQ(desktop.StackingTopFirst().front(), window);
      ASSERT_EQ(requests.size(), 1u);
      EXPECT_EQ(requests[0].first, window);
    } else {
      EXPECT_EQ(desktop.StackingTopFirst().front(), cover);
      EXPECT_TRUE(requests.empty());
    }
    desktop.DestroyWindow(cover);
    uninstaller->CloseStdin();
    EXPECT_EQ(uninstaller->Wait(), 0);
    fs::remove_all(Root() / "bin");
  }
}

// The setup's own check, with the compiled-in (empty) description: never an uninstaller.
TEST_F(UninstallerCheckTest, CompiledInDescriptionMatchesNothing) {
  CopyHelper(CopyFolder() / "Au_.exe", kDescription);
  auto uninstaller = StartHelper({"--mutex", kMutex, "--window", "Uninstall wizard"}, nullptr,
                                 (CopyFolder() / "Au_.exe").string());
  EXPECT_FALSE(CUninstallerCheck().IsUninstallerRunning());
  uninstaller->CloseStdin();
  uninstaller->Wait();
}

// Without anyone holding the mutex the check creates no lock file.
TEST_F(UninstallerCheckTest, LookingCreatesNoLockFile) {
  EXPECT_FALSE(CUninstallerCheck(Platform::Utf8ToWide(kDescription)).IsUninstallerRunning());
  EXPECT_TRUE(fs::is_empty(RuntimeFolder()));
  EXPECT_TRUE(fs::is_empty(TempFolder()));
}

}  // namespace
}  // namespace GuardTests
