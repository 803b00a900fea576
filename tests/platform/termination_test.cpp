#include "platform/termination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

// A registered folder goes with everything under it, also when one listing read does not hold
// it all; links in it are deleted, never followed; a folder that is itself a link is left.
TEST(TerminationTest, SignalDeletesARegisteredFolderTreeWithoutFollowingLinks) {
  TestSupport::TempDir dir;
  const fs::path tree = dir.Path() / "index";
  const fs::path outside = dir.Path() / "outside";
  const fs::path linked = dir.Path() / "linked";
  TestSupport::WriteFile(outside / "keep.txt", "x");
  TestSupport::WriteFile(dir.Path() / "beside.txt", "x");
  fs::create_directories(linked / "inner");
  TestSupport::WriteFile(linked / "inner" / "keep.txt", "x");
  const fs::path linkToTree = dir.Path() / "link-to-tree";
  fs::create_directory_symlink(linked, linkToTree);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    TestSupport::WriteFile(tree / "index.css", "x");
    TestSupport::WriteFile(tree / "rc" / "failed_page" / "cross-icon.png", "x");
    fs::create_directories(tree / "empty" / "deeper");
    for (int i = 0; i < 300; ++i) {  // far more names than one listing read returns
      TestSupport::WriteFile(tree / "many" / ("file-with-a-rather-long-name-" + std::to_string(i) + ".json"), "x");
    }
    ASSERT_EQ(::mkfifo((tree / "pipe").c_str(), 0600), 0);
    fs::create_directory_symlink(outside, tree / "rc" / "link-to-folder");
    fs::create_symlink(outside / "keep.txt", tree / "link-to-file");
    fs::create_symlink(dir.Path() / "nowhere", tree / "dangling");
    EXPECT_EXIT(
        {
          InstallTerminationCleanup();
          RemoveTreeOnTermination(tree);
          RemoveTreeOnTermination(linkToTree);
          std::raise(signal);
        },
        testing::KilledBySignal(signal), "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree))) << signal;
    EXPECT_TRUE(fs::exists(outside / "keep.txt"));
    EXPECT_TRUE(fs::exists(dir.Path() / "beside.txt"));
    EXPECT_TRUE(fs::is_symlink(linkToTree));
    EXPECT_TRUE(fs::exists(linked / "inner" / "keep.txt"));
  }
}

// A tree deeper than the bound is emptied only down to it; the process still ends by the signal.
TEST(TerminationTest, TreeRemovalIsBoundedInDepth) {
  TestSupport::TempDir dir;
  const fs::path tree = dir.Path() / "deep";
  fs::path leaf = tree;
  for (int level = 0; level < kTerminationTreeDepth + 4; ++level) leaf /= "d";
  TestSupport::WriteFile(leaf / "bottom.txt", "x");
  TestSupport::WriteFile(tree / "top.txt", "x");
  EXPECT_EXIT(
      {
        InstallTerminationCleanup();
        RemoveTreeOnTermination(tree);
        std::raise(SIGTERM);
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(fs::exists(tree / "top.txt"));
  EXPECT_TRUE(fs::exists(leaf / "bottom.txt"));
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
  EXPECT_TRUE(RemoveTreeOnTermination("/nonexistent/omk-fits-again"));
  EXPECT_TRUE(RemoveTreeOnTermination("/nonexistent/omk-fits-again"));  // already registered: no new room taken
  EXPECT_FALSE(RemoveOnTermination("/nonexistent/omk-one-too-many"));
  EXPECT_FALSE(RemoveOnTermination(std::string(5000, 'a')));
  EXPECT_FALSE(RemoveOnTermination(""));
  for (const auto& file : files) ForgetOnTermination(file);
  ForgetOnTermination("/nonexistent/omk-fits-again");
}

}  // namespace
}  // namespace Platform
