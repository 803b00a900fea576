// The built omk-setup started as a process, as download pages and other programs start it.
#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using TestSupport::RunProcess;

TEST(SetupProcessTest, TrackingUidRequestFailsWithExitCodeOneAndWritesNothing) {
  TestSupport::TempDir dir;
  const auto answer = dir.Path() / "trackingUID.txt";
  for (const std::string& arg : {"-extractTrackingUID=" + answer.string(), std::string("-extractTrackingUID")}) {
    const auto result = RunProcess(OMK_SETUP_PATH, {arg});
    EXPECT_EQ(result.exitCode, 1) << arg;
    EXPECT_NE(result.err.find("-extractTrackingUID"), std::string::npos) << result.err;
  }
  EXPECT_FALSE(std::filesystem::exists(answer));
}

TEST(SetupProcessTest, SaysWhatItCannotDoYet) {
  const auto result = RunProcess(OMK_SETUP_PATH, {"/S", "/BUILD_ID=12", "/TRACKING=a b"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.err.find("nothing was installed"), std::string::npos) << result.err;
}

TEST(SetupProcessTest, MalformedArgumentsDoNotCrash) {
  const auto result = RunProcess(OMK_SETUP_PATH, {"/S", "\xFF\xFE/\xC0", "/DELAY=\"", std::string(100000, '/')});
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

}  // namespace
