// Command-line splitting and quoting by the Windows rules, and the default URL handler lookup.
#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/text.h"
#include "tests/support/env.h"
#include "tests/support/event.h"
#include "tests/support/file_wait.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

// Lets every user reach the folder (the program started for another user runs from it).
void OpenToAll(const std::filesystem::path& folder) {
  std::filesystem::permissions(folder, std::filesystem::perms::all, std::filesystem::perm_options::replace);
}

using Platform::QuoteWindowsArgument;
using Platform::SplitWindowsCommandLine;
using Args = std::vector<std::wstring>;

TEST(ShellTest, SplitsCommandLinesByTheWindowsRules) {
  const std::vector<std::pair<std::wstring, Args>> cases = {
      {L"", {}},
      {L"  prog", {L"prog"}},
      {L"\"C:\\Program Files\\a\\\" b", {L"C:\\Program Files\\a\\", L"b"}},
      {L"p a\\\\b \"c d\"  e", {L"p", L"a\\\\b", L"c d", L"e"}},
      {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
      {L"p a\\\"b", {L"p", L"a\"b"}},
      {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
      {L"p \"\" x", {L"p", L"", L"x"}},
      {L"p \"unterminated", {L"p", L"unterminated"}},
  };
  for (const auto& [line, args] : cases) EXPECT_EQ(SplitWindowsCommandLine(line), args) << line.size();
}

TEST(ShellTest, QuotedArgumentsSplitBackWhole) {
  const Args args = {L"prog", L"", L"a b", L"q\"uote", L"tail\\", L"tail \\", L"\\\\\"x", L"plain"};
  std::wstring line;
  for (const auto& a : args) line += (line.empty() ? L"" : L" ") + QuoteWindowsArgument(a);
  EXPECT_EQ(SplitWindowsCommandLine(line), args);
}

class DefaultHandlerTest : public ::testing::Test {
 protected:
  DefaultHandlerTest() {
    m_env.Set("PATH", (m_dir.Path() / "bin").string());
    m_env.Set("XDG_DATA_HOME", (m_dir.Path() / "data").string());
    m_env.Set("XDG_DATA_DIRS", (m_dir.Path() / "none").string());
  }
  // A stand-in xdg-mime that names `desktopId` as the handler of every scheme.
  void Handler(const std::string& desktopId) {
    const auto script = m_dir.Path() / "bin/xdg-mime";
    TestSupport::WriteFile(script, "#!/bin/sh\necho '" + desktopId + "'\nexit 0\n");
    chmod(script.c_str(), 0755);
  }
  TestSupport::TempDir m_dir;
  TestSupport::ScopedEnv m_env;
};

TEST_F(DefaultHandlerTest, TurnsTheDesktopFileExecLineIntoACommandTemplate) {
  Handler("browser.desktop");
  TestSupport::WriteFile(m_dir.Path() / "data/applications/browser.desktop",
                         "[Desktop Action new]\nExec=wrong %u\n"
                         "[Desktop Entry]\nName=B\nExec = \"/opt/my browser/b\" --flag %i --x=%%y %U\n");
  EXPECT_EQ(Platform::GetDefaultUrlHandlerCommand("https"), L"\"/opt/my browser/b\" --flag --x=%y \"%1\"");
}

TEST_F(DefaultHandlerTest, GivesNothingWhenAStepFails) {
  EXPECT_EQ(Platform::GetDefaultUrlHandlerCommand("https"), L"");  // no xdg-mime
  Handler("missing.desktop");
  EXPECT_EQ(Platform::GetDefaultUrlHandlerCommand("https"), L"");
  Handler("../escape.desktop");
  TestSupport::WriteFile(m_dir.Path() / "data/escape.desktop", "[Desktop Entry]\nExec=x %u\n");
  EXPECT_EQ(Platform::GetDefaultUrlHandlerCommand("https"), L"");
  EXPECT_EQ(Platform::GetDefaultUrlHandlerCommand("a b"), L"");
}

TEST_F(DefaultHandlerTest, FindsProgramsOnPath) {
  Handler("x.desktop");
  EXPECT_EQ(Platform::FindProgramOnPath("xdg-mime"), m_dir.Path() / "bin/xdg-mime");
  EXPECT_TRUE(Platform::FindProgramOnPath("absent").empty());
  EXPECT_TRUE(Platform::FindProgramOnPath("../bin/xdg-mime").empty());
}

// Who a setup running as root works for, and a link opened for that user: xdg-open runs as the
// user with the user's home and name, never as root, and its failing exit code is a failure.
TEST(DesktopUserTest, LinksOpenAsTheInvokingUserAndAFailingXdgOpenFails) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act for another user";
  TestSupport::TempDir dir;
  OpenToAll(dir.Path());
  const auto out = dir.Path() / "opened.txt";
  const auto program = dir.Path() / "xdg-open";
  std::ofstream(program) << "#!/bin/sh\n"
                            "echo \"$(id -u) $HOME $USER $1\" > " << out.string() << ".new\n"
                            "mv " << out.string() << ".new " << out.string() << "\n"
                            "exit ${FAKE_XDG_EXIT:-0}\n";
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);

  TestSupport::ScopedEnv env;
  env.Set("PATH", dir.Path().string() + ":/usr/bin:/bin").Set("PKEXEC_UID", std::nullopt).Set("DISPLAY", std::nullopt);
  struct Case {
    const char* variable;
    const char* value;
    bool forUser;
  };
  for (const Case& c : {Case{"SUDO_UID", "65534", true}, Case{"PKEXEC_UID", "65534", true}, Case{"SUDO_UID", "0", false}}) {
    SCOPED_TRACE(std::string(c.variable) + "=" + c.value);
    TestSupport::ScopedEnv one;
    one.Set("SUDO_UID", std::nullopt).Set(c.variable, c.value);
    const auto user = Platform::InvokingDesktopUser();
    ASSERT_EQ(user.has_value(), c.forUser);
    if (!c.forUser) continue;
    EXPECT_EQ(user->uid, 65534u);
    std::filesystem::remove(out);
    ASSERT_TRUE(Platform::OpenForDesktopUser(L"https://example.test/a?b=1"));
    ASSERT_TRUE(TestSupport::WaitForLines(out, 1));
    EXPECT_EQ(TestSupport::ReadFile(out), "65534 " + user->home + " " + user->name + " https://example.test/a?b=1\n");
  }
  // Without either variable, the owner of the X display's socket.
  {
    const std::string number = std::to_string(900 + getpid() % 90);
    const std::filesystem::path socketPath = "/tmp/.X11-unix/X" + number;
    std::filesystem::create_directories(socketPath.parent_path());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_FALSE(std::filesystem::exists(socketPath));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(chown(socketPath.c_str(), 65534, 65534), 0);
    TestSupport::ScopedEnv one;
    one.Set("SUDO_UID", std::nullopt).Set("DISPLAY", ":" + number + ".0");
    const auto user = Platform::InvokingDesktopUser();
    close(fd);
    std::filesystem::remove(socketPath);
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->uid, 65534u);
  }
  // The failing code comes after the call returned: it is told through the callback.
  env.Set("SUDO_UID", "65534").Set("FAKE_XDG_EXIT", "3");
  TestSupport::Event openedNothing;
  EXPECT_TRUE(Platform::OpenForDesktopUser(L"https://example.test/", [&] { openedNothing.Set(); }));
  EXPECT_TRUE(openedNothing.Wait());
}

// Only a URL reaches xdg-open: text it would read as a path or an option starts nothing. And
// a root process with no non-root desktop user starts nothing at all.
TEST(DesktopUserTest, OnlyUrlsAndNeverAsRootAlone) {
  TestSupport::TempDir dir;
  OpenToAll(dir.Path());
  const auto log = dir.Path() / "calls.log";
  TestSupport::WriteFile(log, "");
  std::filesystem::permissions(log, std::filesystem::perms::all, std::filesystem::perm_options::replace);
  const auto program = dir.Path() / "xdg-open";
  TestSupport::WriteFile(program, "#!/bin/sh\necho \"$# $1\" >> " + log.string() + "\n");
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);
  TestSupport::ScopedEnv env;
  env.Set("PATH", dir.Path().string()).Set("PKEXEC_UID", std::nullopt).Set("DISPLAY", std::nullopt);
  env.Set("SUDO_UID", geteuid() == 0 ? std::optional<std::string>("65534") : std::nullopt);

  for (const wchar_t* refused : {L"", L"licence.html", L"-v", L"--help:x", L"1http://x/", L"file://x/y", L"FILE:y",
                                 L"https://x/\nfile://y", L" https://x/", L"https//x"}) {
    EXPECT_FALSE(Platform::IsOpenableUrl(refused)) << Platform::WideToUtf8(refused);
    EXPECT_FALSE(Platform::OpenForDesktopUser(refused)) << Platform::WideToUtf8(refused);
  }
  for (const wchar_t* url : {L"https://x/a b", L"mailto:a@b", L"file:///tmp/x", L"web+x.y-z:1"}) {
    EXPECT_TRUE(Platform::IsOpenableUrl(url)) << Platform::WideToUtf8(url);
  }
  if (geteuid() == 0) {
    TestSupport::ScopedEnv alone;
    alone.Set("SUDO_UID", std::nullopt);
    EXPECT_FALSE(Platform::CanStartForDesktopUser());
    EXPECT_FALSE(Platform::OpenForDesktopUser(L"https://x/as-root"));
    EXPECT_FALSE(Platform::StartForDesktopUser({program.wstring(), L"https://x/as-root"}));
  }
  EXPECT_TRUE(Platform::CanStartForDesktopUser());
  ASSERT_TRUE(Platform::OpenForDesktopUser(L"https://x/a b"));
  ASSERT_TRUE(TestSupport::WaitForLines(log, 1));
  EXPECT_EQ(TestSupport::ReadFile(log), "1 https://x/a b\n");  // the only call
}

// A handler lookup whose xdg-mime never answers ends after its time limit.
TEST_F(DefaultHandlerTest, AnXdgMimeThatHangsIsCutOff) {
  const auto script = m_dir.Path() / "bin/xdg-mime";
  TestSupport::WriteFile(script, "#!/bin/sh\nexec /bin/sleep 60\n");
  chmod(script.c_str(), 0755);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Platform::GetDefaultUrlHandlerCommand("https"), L"");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
