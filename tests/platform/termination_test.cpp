#include "platform/termination.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace Platform {
namespace {

namespace fs = std::filesystem;

TEST(TerminationTest, SignalDeletesRegisteredFilesAndEndsTheProcess) {
  TestSupport::TempDir dir;
  const fs::path registered = dir.Path() / "installer.tmp";
  const fs::path forgotten = dir.Path() / "kept.tmp";
  const fs::path other = dir.Path() / "other.tmp";
  for (const auto& file : {registered, forgotten, other}) TestSupport::WriteFile(file, "x");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    EXPECT_EXIT(
        {
          InstallTerminationCleanup();
          RemoveOnTermination(registered);
          RemoveOnTermination(forgotten);
          ForgetOnTermination(forgotten);
          std::raise(signal);
        },
        testing::KilledBySignal(signal), "");
    EXPECT_FALSE(fs::exists(registered)) << signal;
    EXPECT_TRUE(fs::exists(forgotten));
    EXPECT_TRUE(fs::exists(other));
    TestSupport::WriteFile(registered, "x");
  }
}

// Fixed room: registering fails once it is full and works again after a file is forgotten.
TEST(TerminationTest, RegistrationIsBounded) {
  std::vector<fs::path> files;
  while (files.size() < 1000) {
    const fs::path file = "/nonexistent/omk-" + std::to_string(files.size());
    if (!RemoveOnTermination(file)) break;
    files.push_back(file);
  }
  ASSERT_FALSE(files.empty());
  EXPECT_LT(files.size(), 1000u);
  ForgetOnTermination(files.front());
  EXPECT_TRUE(RemoveOnTermination("/nonexistent/omk-fits-again"));
  EXPECT_FALSE(RemoveOnTermination("/nonexistent/omk-one-too-many"));
  EXPECT_FALSE(RemoveOnTermination(std::string(5000, 'a')));
  EXPECT_FALSE(RemoveOnTermination(""));
  for (const auto& file : files) ForgetOnTermination(file);
  ForgetOnTermination("/nonexistent/omk-fits-again");
}

}  // namespace
}  // namespace Platform
