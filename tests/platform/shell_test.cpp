// Command-line splitting and quoting by the Windows rules, and the default URL handler lookup.
#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

#include <fstream>
#include <thread>

#include "tests/support/env.h"
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
                            "echo \"$(id -u) $HOME $USER $1\" > " << out.string() << "\n"
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
  env.Set("SUDO_UID", "65534").Set("FAKE_XDG_EXIT", "3");
  EXPECT_FALSE(Platform::OpenForDesktopUser(L"https://example.test/"));  // the handler path runs next
}

}  // namespace
