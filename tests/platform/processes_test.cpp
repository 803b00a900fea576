#include "platform/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace Platform {
namespace {

namespace fs = std::filesystem;

std::wstring NameOf(int pid) {
  for (const auto& process : ListProcesses()) {
    if (process.pid == pid) return process.exeFileName;
  }
  return L"<not listed>";
}

TEST(ProcessesTest, ListedByTheirProgramFileName) {
  EXPECT_EQ(NameOf(getpid()), L"omk_platform_tests");

  TestSupport::TempDir dir;
  const fs::path copy = dir.Path() / "Au_.exe";
  fs::copy_file("/bin/sh", copy);
  TestSupport::ChildProcess child(copy.string(), {"-c", "echo up; read line"});
  ASSERT_EQ(child.ReadLine(), "up");
  EXPECT_EQ(NameOf(child.Pid()), L"Au_.exe");
  // A program file removed while it runs keeps its name.
  fs::remove(copy);
  EXPECT_EQ(NameOf(child.Pid()), L"Au_.exe");
  child.CloseStdin();
  child.Wait();
  EXPECT_EQ(NameOf(child.Pid()), L"<not listed>");
}

TEST(ProcessesTest, SessionOfAProcess) {
  const auto own = GetProcessSessionId(getpid());
  ASSERT_TRUE(own);
  TestSupport::ChildProcess child("/bin/sh", {"-c", "echo up; read line"});
  ASSERT_EQ(child.ReadLine(), "up");
  EXPECT_EQ(GetProcessSessionId(child.Pid()), own);
  EXPECT_TRUE(IsInCurrentSession(child.Pid()));
  child.CloseStdin();
  const int pid = child.Pid();
  child.Wait();
  EXPECT_FALSE(GetProcessSessionId(pid));
  EXPECT_FALSE(IsInCurrentSession(pid));
  EXPECT_FALSE(IsInCurrentSession(-1));
}

}  // namespace
}  // namespace Platform
