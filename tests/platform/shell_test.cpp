// Command-line splitting and quoting by the Windows rules, and the default URL handler lookup.
#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

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

}  // namespace
