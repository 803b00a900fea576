// The "process" object with real child processes.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "browser/js_launcher.h"
#include "platform/text.h"
#include "tests/browser/script_test_support.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace BrowserControl;
using BrowserTest::Call;
using BrowserTest::CallResult;
using BrowserTest::Str;
namespace fs = std::filesystem;

std::wstring W(const fs::path& path) { return Platform::Utf8ToWide(path.string()); }

class ProcessObjectTest : public testing::Test {
 protected:
  CallResult Run(const std::wstring& member, const std::wstring& path, const std::wstring& parameters) {
    return Call(m_process.get(), member, {Str(path), Str(parameters)});
  }
  TestSupport::TempDir m_temp;
  CComPtr<IDispatch> m_process = MakeComObject<JS::CLauncher>();
};

TEST_F(ProcessObjectTest, ExecuteAndWaitReturnsOnceTheProgramHasEnded) {
  const fs::path out = m_temp.Path() / "out";
  // The child takes a moment before it writes: the file is there only if the call waited.
  const CallResult r =
      Run(L"executeAndWait", L"/bin/sh", L"-c \"sleep 0.2; echo ran > '" + W(out) + L"'\"");
  EXPECT_EQ(r.hr, S_OK);
  ASSERT_EQ(r.value.vt, VT_BOOL);
  EXPECT_EQ(r.value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(TestSupport::ReadFile(out), "ran\n");
}

TEST_F(ProcessObjectTest, ExecuteReturnsWhileTheProgramRuns) {
  const fs::path toTest = m_temp.Path() / "to-test";
  const fs::path toChild = m_temp.Path() / "to-child";
  ASSERT_EQ(mkfifo(toTest.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(toChild.c_str(), 0600), 0);
  // The child reports that it runs, then waits for the test to let it end.
  const CallResult r = Run(L"execute", L"/bin/sh",
                           L"-c \"echo running > '" + W(toTest) + L"'; read x < '" + W(toChild) + L"'\"");
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.value.boolVal, VARIANT_TRUE);

  const int in = open(toTest.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(in, 0);
  pollfd p{in, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 30000), 1) << "the child did not start";
  char buffer[16] = {};
  EXPECT_EQ(read(in, buffer, sizeof buffer), 8);
  EXPECT_EQ(std::string(buffer), "running\n");
  close(in);
  const int release = open(toChild.c_str(), O_WRONLY);  // the child is at its read
  ASSERT_GE(release, 0);
  EXPECT_EQ(write(release, "x\n", 2), 2);
  close(release);
}

TEST_F(ProcessObjectTest, PathsAndResults) {
  // A program in a folder whose name holds a blank stays one argument.
  const fs::path folder = m_temp.Path() / "my programs";
  fs::create_directories(folder);
  const fs::path program = folder / "report.sh";
  const fs::path out = m_temp.Path() / "args";
  TestSupport::WriteFile(program, "#!/bin/sh\nprintf '%s|' \"$@\" > '" + out.string() + "'\n");
  fs::permissions(program, fs::perms::owner_all);
  CallResult r = Run(L"executeAndWait", W(program), L"one \"two three\"");
  EXPECT_EQ(r.value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(TestSupport::ReadFile(out), "one|two three|");

  // The parameters may be the null string; the result slot is optional.
  EXPECT_EQ(Call(m_process.get(), L"executeAndWait", {Str(L"/bin/true"), MakeVariantBstr(std::nullopt)}).value.boolVal,
            VARIANT_TRUE);
  EXPECT_EQ(Call(m_process.get(), L"executeAndWait", {Str(L"/bin/true"), Str(L"")}, false).hr, S_OK);

  // A bare program name is found on PATH, waited for or not.
  EXPECT_EQ(Run(L"executeAndWait", L"true", L"").value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Run(L"execute", L"true", L"").value.boolVal, VARIANT_TRUE);

  // An empty path starts nothing and gives false; so does a program that does not exist.
  for (const auto& member : {L"execute", L"executeAndWait"}) {
    r = Run(member, L"", L"x");
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.value.boolVal, VARIANT_FALSE);
    r = Run(member, W(m_temp.Path() / "missing"), L"");
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.value.boolVal, VARIANT_FALSE);
  }

  // Argument errors.
  EXPECT_EQ(Call(m_process.get(), L"execute", {Str(L"/bin/true")}).hr, E_INVALIDARG);
  EXPECT_EQ(Call(m_process.get(), L"execute", {MakeVariantBstr(std::nullopt), Str(L"")}).hr, E_INVALIDARG);
  EXPECT_EQ(Call(m_process.get(), L"execute", {Str(L"/bin/true"), MakeVariantI4(1)}).hr, E_INVALIDARG);
  EXPECT_EQ(JS::LauncherCommandLine(L"\"/a b/c\"", L"x"), L"\"/a b/c\" x");
}

}  // namespace
