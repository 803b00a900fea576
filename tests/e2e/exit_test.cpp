// How the built program ends when the world around it misbehaves: a collector that drops or
// never answers, and a temporary folder from which nothing may run.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>

#include "config/profile.h"
#include "platform/text.h"
#include "tests/e2e/setup_run.h"
#include "tests/support/dev_server.h"
#include "tests/support/fixtures.h"
#include "tests/support/hit_log.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include OMK_DEMO_MD5_HEADER

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

const std::string kDemoOrigin = "http://127.0.0.1:47801";
const fs::path kPki = OMK_DEMO_PKI;

class ExitTest : public testing::Test {
 protected:
  ExitTest() {
    m_env = E2E::PrivateRunEnvironment(Root());
  }
  const fs::path& Root() const { return m_dir.Path(); }
  fs::path ArgsLog() const { return Root() / "installer-args.txt"; }
  fs::path HitLog() const { return Root() / "hits.jsonl"; }

  // The suite's component and the demo installer; the collector answers in `collectorMode`.
  void Serve(const std::string& collectorMode) {
    const std::string fallbackPath = Platform::WideToUtf8(Config::kFallbackComponentUrl).substr(kDemoOrigin.size());
    const std::string scenario = R"({"routes": [
      {"method": "POST", "path": "/component", "kind": "component", "answer": {"components": [
        {"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/downloads/product.bin", "md5": ")"
        OMK_DEMO_FALLBACK_MD5 R"("}]}},
      {"path": "/downloads/product.bin", "body_file": ")" OMK_DEMO_PRODUCT R"("},
      {"path": ")" + fallbackPath + R"(", "body_file": ")" OMK_DEMO_PRODUCT R"("},
      {"kind": "collector", "method": "POST", "path": "/collect", "mode": ")" + collectorMode +
        R"(", "hits_log": ")" + HitLog().string() + R"("}]})";
    auto options = E2E::DemoServerOptions(kPki);
    m_server = std::make_unique<TestSupport::DevServer>(scenario, options);
  }
  TestSupport::ProcessResult Setup(const std::vector<std::string>& args) {
    return TestSupport::RunProcess(OMK_SETUP_E2E_PATH, args, m_env);
  }
  // When the product installer ran (it writes its arguments as it starts).
  Clock::time_point InstallerRan() const {
    struct stat st {};
    if (::stat(ArgsLog().c_str(), &st) != 0) return {};
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
  }

  TestSupport::TempDir m_dir;
  std::map<std::string, std::string> m_env;
  std::unique_ptr<TestSupport::DevServer> m_server;
};

// The analytics cannot be delivered: after the installation the setup waits its 10 seconds
// for pending hits and the sender's 20-second drain, and then ends within one more second: a
// retry pause or an attempt that is never answered is cut short, and the session end gets one
// short direct attempt.
TEST_F(ExitTest, AnUnreachableCollectorDelaysTheEndByTheDrainOnly) {
  constexpr double kPendingWait = 10, kDrain = 20;
  for (const std::string mode : {"drop", "hang"}) {
    SCOPED_TRACE(mode);
    fs::remove(ArgsLog());
    fs::remove(HitLog());
    Serve(mode);
    const auto result = Setup({"/VS"});
    const auto ended = Clock::now();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_NE(InstallerRan(), Clock::time_point{}) << "the product installer did not run";
    const double afterInstall = std::chrono::duration<double>(ended - InstallerRan()).count();
    std::cout << "collector " << mode << ": the setup ended " << afterInstall << " s after the installer ran\n";
    EXPECT_GT(afterInstall, kPendingWait + kDrain - 0.5);
    EXPECT_LT(afterInstall, kPendingWait + kDrain + 1) << "the exit waited for the collector";
    if (mode == "drop") {
      // Each connection was taken and dropped; the last one carried the direct session end.
      const auto hits = TestSupport::ReadHitLog(HitLog());
      ASSERT_FALSE(hits.empty());
      const auto& last = hits.back().parameters;
      EXPECT_NE(std::find(last.begin(), last.end(), std::make_pair(std::string("sc"), std::string("end"))),
                last.end());
    }
    EXPECT_TRUE(fs::is_empty(Root() / "tmp"));
    m_server.reset();
  }
}

// A temporary folder on a file system mounted noexec: the installer is fetched into another
// private folder where it can run, at once and without the launcher's retries.
TEST_F(ExitTest, ANoexecTemporaryFolderStillInstalls) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
  const fs::path noexec = Root() / "noexec";
  fs::create_directory(noexec);
  if (TestSupport::RunProcess("/bin/mount", {"-t", "tmpfs", "-o", "noexec,mode=0700", "tmpfs", noexec.string()})
          .exitCode != 0) {
    GTEST_SKIP() << "cannot mount here";
  }
  struct Unmount {
    fs::path at;
    ~Unmount() { TestSupport::RunProcess("/bin/umount", {at.string()}); }
  } unmount{noexec};
  m_env["TMPDIR"] = noexec.string();
  Serve("ok");
  const auto result = Setup({"/VS"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(InstallerRan(), Clock::time_point{}) << "the product installer did not run";
  bool success = false;
  for (const auto& hit : TestSupport::ReadHitLog(HitLog())) {
    for (const auto& [name, value] : hit.parameters) {
      EXPECT_FALSE(name == "exd") << "an exception hit: " << value;
      success = success || (name == "ea" && value == "InstallerSuccessW");
    }
  }
  EXPECT_TRUE(success);
  EXPECT_TRUE(fs::is_empty(noexec));
}

}  // namespace
