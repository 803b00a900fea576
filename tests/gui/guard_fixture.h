#pragma once
// A machine of its own for each test: lock folders, temporary folder and registry in a fresh
// folder, named through the environment (which started helpers inherit).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace GuardTests {

namespace fs = std::filesystem;

class GuardTest : public testing::Test {
 protected:
  GuardTest() {
    for (const char* folder : {"lock", "run", "tmp", "registry"}) {
      fs::create_directories(Root() / folder);
      fs::permissions(Root() / folder, fs::perms::owner_all, fs::perm_options::replace);
    }
    fs::permissions(LockFolder(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
    m_env.Set("OMK_LOCK_DIR", LockFolder().string())
        .Set("XDG_RUNTIME_DIR", RuntimeFolder().string())
        .Set("TMPDIR", TempFolder().string())
        .Set("OMK_REGISTRY_ROOT", (Root() / "registry").string());
  }

  const fs::path& Root() const { return m_dir.Path(); }
  fs::path LockFolder() const { return Root() / "lock"; }
  fs::path RuntimeFolder() const { return Root() / "run"; }
  fs::path TempFolder() const { return Root() / "tmp"; }

  // Starts the helper program (or a copy of it) and reads its lines up to "ready".
  std::unique_ptr<TestSupport::ChildProcess> StartHelper(const std::vector<std::string>& args,
                                                         std::vector<std::string>* lines = nullptr,
                                                         const std::string& program = OMK_GUARD_HELPER) {
    auto helper = std::make_unique<TestSupport::ChildProcess>(program, args);
    for (std::string line = helper->ReadLine(); line != "ready"; line = helper->ReadLine()) {
      if (line.empty()) {
        ADD_FAILURE() << "helper did not get ready: " << helper->Err();
        break;
      }
      if (lines != nullptr) lines->push_back(line);
    }
    return helper;
  }
  // The helper's first line for `args`, after which it ends.
  std::string HelperSays(const std::vector<std::string>& args) {
    std::vector<std::string> lines;
    auto helper = StartHelper(args, &lines);
    helper->CloseStdin();
    EXPECT_EQ(helper->Wait(), 0);
    return lines.empty() ? "" : lines.front();
  }

  TestSupport::TempDir m_dir;
  TestSupport::ScopedEnv m_env;
};

}  // namespace GuardTests
