#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <set>

#include "platform/termination.h"
#include "tests/support/temp_dir.h"

namespace Platform {
namespace {

namespace fs = std::filesystem;

TEST(RunProcessTest, PassesArgumentsAndReturnsTheExitCode) {
  TestSupport::TempDir dir;
  const fs::path script = dir.Path() / "my tool.sh";
  const fs::path record = dir.Path() / "args.txt";
  std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > '" << record.string()
                        << "'\nexit 7\n";
  fs::permissions(script, fs::perms::owner_all);
  uint32_t exitCode = 0;
  const std::wstring commandLine = L"\"" + script.wstring() + L"\" /S /TRACKING=\"a b\" /LANG=de";
  ASSERT_TRUE(RunProcess(commandLine, exitCode));
  EXPECT_EQ(exitCode, 7u);
  std::string received;
  std::getline(std::ifstream(record), received);
  EXPECT_EQ(received, "[/S][/TRACKING=a b][/LANG=de]");
}

TEST(RunProcessTest, MissingOrEmptyProgramIsNotStarted) {
  uint32_t exitCode = 99;
  EXPECT_FALSE(RunProcess(L"/nonexistent/program /S", exitCode));
  EXPECT_FALSE(RunProcess(L"", exitCode));
  EXPECT_FALSE(RunProcess(L"\"\" /S", exitCode));
  EXPECT_EQ(exitCode, 99u);
}

// Signal handling this process inherited or a library set must not change what the started
// program sees, nor hide its exit code.
TEST(RunProcessTest, SignalDispositionsDoNotLeakOrHideTheEnd) {
  TestSupport::TempDir dir;
  const fs::path script = dir.Path() / "ignored.sh";
  const fs::path record = dir.Path() / "ignored.txt";
  std::ofstream(script) << "#!/bin/sh\ngrep SigIgn /proc/$$/status > '" << record.string() << "'\nexit 3\n";
  fs::permissions(script, fs::perms::owner_all);
  const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  const auto oldChild = std::signal(SIGCHLD, SIG_IGN);

  // Children are reaped at once: the program ran, its outcome is unknown, and it is not
  // reported as "not started" (which would start it again).
  uint32_t exitCode = 0;
  EXPECT_TRUE(RunProcess(L"\"" + script.wstring() + L"\"", exitCode));
  EXPECT_EQ(exitCode, UINT32_MAX);
  RestoreChildSignalDefault();
  EXPECT_TRUE(RunProcess(L"\"" + script.wstring() + L"\"", exitCode));
  EXPECT_EQ(exitCode, 3u);
  // The program starts with SIGPIPE and SIGCHLD at their defaults.
  std::string line;
  std::getline(std::ifstream(record), line);
  const unsigned long ignored = std::stoul(line.substr(line.find_first_of("0123456789abcdef")), nullptr, 16);
  EXPECT_EQ(ignored & ((1ul << (SIGPIPE - 1)) | (1ul << (SIGCHLD - 1))), 0u) << line;

  std::signal(SIGPIPE, oldPipe);
  std::signal(SIGCHLD, oldChild);
}

TEST(UniqueTempFileTest, NewEmptyPrivateFiles) {
  TestSupport::TempDir dir;
  std::set<fs::path> seen;
  for (int i = 0; i < 20; ++i) {
    const fs::path file = CreateUniqueTempFile(dir.Path(), "sm");
    EXPECT_TRUE(seen.insert(file).second);
    EXPECT_EQ(file.parent_path(), dir.Path());
    EXPECT_EQ(file.filename().string().substr(0, 2), "sm");
    EXPECT_EQ(file.extension(), ".tmp");
    EXPECT_EQ(fs::file_size(file), 0u);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  struct stat st {};
  const fs::path runnable = CreateUniqueTempFile(dir.Path(), "", true);
  ASSERT_EQ(stat(runnable.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_THROW(CreateUniqueTempFile(dir.Path() / "missing", ""), std::system_error);
  for (const auto& file : seen) ForgetOnTermination(file);
  ForgetOnTermination(runnable);
}

}  // namespace
}  // namespace Platform
