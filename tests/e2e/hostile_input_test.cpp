// Untrusted input from end to end: the built program (its test build) runs as root against the
// demo services while a row plants a hostile command line, file or folder first, where needed
// as an unprivileged attacker (user nobody). Each row says what the run must still do.
#include <gtest/gtest.h>

#include <signal.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "config/identity.h"
#include "config/profile.h"
#include "gui/one_instance.h"
#include "platform/crypto.h"
#include "platform/named_mutex.h"
#include "platform/text.h"
#include "products/crypt.h"
#include "tests/e2e/setup_run.h"
#include "tests/support/child_process.h"
#include "tests/support/dev_server.h"
#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/hit_log.h"
#include "tests/support/process.h"
#include OMK_DEMO_MD5_HEADER

namespace {

namespace fs = std::filesystem;
using TestSupport::ReadFile;
using TestSupport::WriteFile;

const std::string kDemoOrigin = "http://127.0.0.1:47801";
constexpr uid_t kNobody = 65534;
const std::string kSuiteUid = "1b4e28ba-2fa1-41d2-883f-0016d3cca427";
const std::string kProduct = R"("body_file": ")" OMK_DEMO_PRODUCT R"(")";

// The owner and permission bits of a file, "-" when there is none.
std::string OwnerAndMode(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%u %04o", static_cast<unsigned>(st.st_uid),
                static_cast<unsigned>(st.st_mode & 07777));
  return text;
}

// Waits (a minute at most) until a file appears in `folder`.
bool WaitForFileIn(const fs::path& folder) {
  const int fd = ::inotify_init1(IN_CLOEXEC);
  if (fd < 0) return false;
  pollfd ready{fd, POLLIN, 0};
  const bool appeared = ::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MOVED_TO) >= 0 &&
                        (!fs::is_empty(folder) || ::poll(&ready, 1, 60000) == 1);
  ::close(fd);
  return appeared;
}

// One run of the setup: where it runs, what a row planted, what came out.
struct SetupRun {
  fs::path root;
  std::map<std::string, std::string> env;
  std::string program = OMK_SETUP_E2E_PATH;
  std::vector<std::string> launcher;  // started instead, with the program and its arguments after it
  std::unique_ptr<TestSupport::ChildProcess> attacker;
  std::map<std::string, std::string> notes;  // what a row's planting wants to look at afterwards
  int exitCode = -1;
  std::string err;
  std::vector<TestSupport::LoggedHit> hits;

  std::string Log(const char* name) const { return fs::exists(root / name) ? ReadFile(root / name) : ""; }
  std::string InstallerArgs() const { return Log("installer-args.txt"); }
  std::string InstallerPath() const {
    const std::string text = Log("installer-path.txt");
    return text.substr(0, text.find('\n'));
  }
  std::string Cid() const { return hits.empty() ? "" : hits.front().Field("cid"); }

  // The attacker, user nobody, running a shell script with `args` as $1...; it is ready when it
  // has written its first line, and ends when its input is closed (should it read it).
  void StartAttacker(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c", script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    attacker = std::make_unique<TestSupport::ChildProcess>("/usr/bin/setpriv", argv);
    const std::string line = attacker->ReadLine();
    ASSERT_EQ(line, "ready") << attacker->Err();
  }
};

struct Row {
  const char* name = "";
  std::vector<std::string> args = {};  // the setup's command line; "{root}" stands for the run's folder
  // The installed suite's tracking UID ("" = settings without a usable one); none: no suite.
  std::optional<std::string> suiteUid = std::nullopt;
  std::function<void(SetupRun&)> plant = nullptr;         // the hostile input, put in place before the run
  std::function<void(const SetupRun&)> expect = nullptr;  // the outcome, beyond the common one below
  // Common outcome: the exit code, the product installer ran once (or never), the temporary
  // folder is empty.
  int exitCode = 0;
  bool installs = true;
  std::string download = kProduct;         // the download route's members
  std::function<void(SetupRun&, pid_t)> during = nullptr;  // done while the setup runs
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class HostileInputTest : public testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the setup runs as root here, the attacker as nobody";
    // Not under /tmp: a row runs the setup with a private /tmp of its own. Open to all for
    // reading, so that the attacker reaches the folders a row gives it.
    std::string pattern = std::string(OMK_E2E_WORK_DIR) + "/hostile-XXXXXX";
    fs::create_directories(OMK_E2E_WORK_DIR);
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_run.root = pattern;
    fs::permissions(m_run.root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    m_run.env = E2E::PrivateRunEnvironment(m_run.root);
    m_run.env["OMK_DEMO_PATH_LOG"] = (m_run.root / "installer-path.txt").string();
  }
  void TearDown() override {
    if (m_run.root.empty()) return;
    std::error_code ec;
    fs::remove_all(m_run.root, ec);
  }

  void Serve(const std::string& download) {
    const std::string fallbackPath = Platform::WideToUtf8(Config::kFallbackComponentUrl).substr(kDemoOrigin.size());
    const std::string scenario = R"({"routes": [
      {"method": "POST", "path": "/component", "kind": "component", "answer": {"components": [{"id": "OMK_SM",
       "version": "3.10.1.2", "url": "{base}/downloads/product.bin", "md5": ")" OMK_DEMO_FALLBACK_MD5 R"("}]}},
      {"path": "/downloads/product.bin", )" + download + R"(},
      {"path": ")" + fallbackPath + R"(", )" + kProduct + R"(},
      {"kind": "collector", "method": "POST", "path": "/collect", "hits_log": ")" +
                                 (m_run.root / "hits.jsonl").string() + R"("}]})";
    m_server = std::make_unique<TestSupport::DevServer>(scenario, E2E::DemoServerOptions(OMK_DEMO_PKI));
  }

  // The suite as its installer leaves it (the demo product run directly), its settings holding `uid`.
  void InstallSuite(const std::string& uid) {
    auto env = m_run.env;
    env.erase("OMK_DEMO_ARGS_LOG");
    env.erase("OMK_DEMO_PATH_LOG");
    const auto result = TestSupport::RunProcess(OMK_DEMO_PRODUCT, {"/GA_TRACKING_UID=" + uid}, env);
    ASSERT_EQ(result.exitCode, 0) << result.err;
  }

  void RunSetup(const Row& row) {
    std::vector<std::string> args = m_run.launcher;
    const std::string path = args.empty() ? m_run.program : args.front();
    if (!args.empty()) {
      args.erase(args.begin());
      args.push_back(m_run.program);
    }
    for (std::string arg : row.args) {
      if (const auto at = arg.find("{root}"); at != std::string::npos) arg.replace(at, 6, m_run.root.string());
      args.push_back(arg);
    }
    TestSupport::ChildProcess setup(path, args, m_run.env);
    if (row.during) row.during(m_run, setup.Pid());
    m_run.exitCode = setup.Wait();
    m_run.err = setup.Err();
    m_run.hits = TestSupport::ReadHitLog(m_run.root / "hits.jsonl");
  }

  SetupRun m_run;
  std::unique_ptr<TestSupport::DevServer> m_server;
};

TEST_P(HostileInputTest, RunStaysOnCourse) {
  const Row& row = GetParam();
  Serve(row.download);
  if (row.suiteUid) InstallSuite(*row.suiteUid);
  if (row.plant) row.plant(m_run);
  if (HasFatalFailure()) return;
  RunSetup(row);
  if (m_run.attacker) m_run.attacker->CloseStdin();

  EXPECT_EQ(m_run.exitCode, row.exitCode) << m_run.err;
  const std::string args = m_run.InstallerArgs();
  EXPECT_EQ(std::count(args.begin(), args.end(), '\n'), row.installs ? 1 : 0) << args << m_run.err;
  EXPECT_TRUE(fs::is_empty(m_run.root / "tmp"));
  if (row.expect) row.expect(m_run);
}

// An argument that would smuggle in the answer mode and its file: left out whole, the victim file
// (with content, or none) untouched, the installation goes on.
Row SmuggledOption(bool victimExists) {
  return {
      .name = victimExists ? "QuoteInArgumentSpareTheVictimFile" : "QuoteInArgumentCreatesNoVictimFile",
      .args = {"/S", "/TRACKING=a\" -extractTrackingUID=\"{root}/victim"},
      // A suite whose UID could be read: a smuggled answer mode would write it into the file.
      .suiteUid = kSuiteUid,
      .plant =
          [victimExists](SetupRun& run) {
            if (victimExists) WriteFile(run.root / "victim", "precious");
          },
      .expect =
          [victimExists](const SetupRun& run) {
            if (victimExists) {
              EXPECT_EQ(ReadFile(run.root / "victim"), "precious");
            } else {
              EXPECT_FALSE(fs::exists(run.root / "victim"));
            }
            EXPECT_EQ(run.InstallerArgs().find("[/TRACKING"), std::string::npos) << run.InstallerArgs();
            EXPECT_NE(run.err.find("argument 2 is left out"), std::string::npos) << run.err;
          },
  };
}

// The attacker holds the lock of the machine-wide single-instance guard in a sticky lock folder
// open to all (as /run/lock is): on a lock file of its own, or on the lock file an older build
// left readable by all.
Row HeldLockFile(bool rootsOldFile) {
  return {
      .name = rootsOldFile ? "AttackerLocksAnOldReadableLockFile" : "AttackerLocksItsOwnLockFile",
      .args = {"/S"},
      .plant =
          [rootsOldFile](SetupRun& run) {
            const fs::path folder = run.root / "machine-lock";
            fs::create_directory(folder);
            ASSERT_EQ(::chmod(folder.c_str(), 01777), 0);
            run.env["OMK_LOCK_DIR"] = folder.string();
            TestSupport::ScopedEnv env;
            env.Set("OMK_LOCK_DIR", folder.string());
            const fs::path file = Platform::GetNamedMutexFile(
                std::wstring(CustomInstaller::Gui::kGlobalInstanceMutexPrefix) + Config::kProductCode);
            ASSERT_EQ(file.parent_path(), folder);
            if (rootsOldFile) {
              WriteFile(file, "");
              ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
            }
            run.notes["lock"] = file.string();
            run.StartAttacker(R"([ -e "$1" ] || : > "$1"; exec 3<"$1" && flock -x 3 && echo ready && read _)",
                              {file.string()});
          },
      .expect =
          [](const SetupRun& run) {
            // A lock file of root's own, open to no one else, took the place of the planted one.
            EXPECT_EQ(OwnerAndMode(run.notes.at("lock")), "0 0600");
          },
  };
}

// The hand-over of the installed suite's tracking UID beside a setup started from a folder of the
// attacker's: a planted answer file and a planted product list that says no suite is installed.
Row PlantedHandOver(bool usableUid) {
  return {
      .name = usableUid ? "PlantedAnswerLosesToTheSuitesUid" : "PlantedAnswerIsNotTakenWhenTheCopyFails",
      .args = {"/S"},
      .suiteUid = usableUid ? kSuiteUid : "",
      .plant =
          [](SetupRun& run) {
            const fs::path folder = run.root / "downloads";
            fs::create_directory(folder);
            run.program = (folder / "omk-setup-e2e").string();
            fs::copy_file(OMK_SETUP_E2E_PATH, run.program);
            WriteFile(folder / "trackingUID.txt", "planted-uid");
            WriteFile(folder / "apps",
                      Platform::Aes128CbcEncrypt(Platform::DeriveAes128Key(Security::kDescriptionPassphrase),
                                                 R"({"Applications":[{"ProductCode":"NONE"}]})"));
            for (const fs::path& planted : {folder, folder / "trackingUID.txt", folder / "apps"}) {
              ASSERT_EQ(::chown(planted.c_str(), kNobody, kNobody), 0);
            }
            run.notes["apps"] = ReadFile(folder / "apps");
          },
      .expect =
          [usableUid](const SetupRun& run) {
            const fs::path folder = run.root / "downloads";
            ASSERT_FALSE(run.hits.empty());
            EXPECT_NE(run.Cid(), "planted-uid");
            EXPECT_NE(run.Cid(), "");
            if (usableUid) {
              EXPECT_EQ(run.Cid(), kSuiteUid);
            }
            EXPECT_EQ(ReadFile(folder / "trackingUID.txt"), "planted-uid");
            EXPECT_EQ(ReadFile(folder / "apps"), run.notes.at("apps"));
            EXPECT_EQ(OwnerAndMode(folder / "trackingUID.txt"), "65534 0644");
            EXPECT_EQ(OwnerAndMode(folder / "apps"), "65534 0644");
            EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);
          },
  };
}

// Run in a mount namespace of its own with fresh /tmp and /var/tmp, where the attacker took
// /tmp/omk-0 and /var/tmp/omk-0 first, and TMPDIR unset. What is left in both folders after the
// run is written to the report file (path, owner, mode).
const char* const kSquatScript = R"(report=$1; shift
mount -t tmpfs -o mode=1777 tmpfs /tmp && mount -t tmpfs -o mode=1777 tmpfs /var/tmp &&
  setpriv --reuid=65534 --regid=65534 --clear-groups mkdir -m 0700 /tmp/omk-0 /var/tmp/omk-0 || exit 90
unset TMPDIR
"$@"; code=$?
find /tmp /var/tmp -mindepth 1 -printf '%p %u %m\n' | sort > "$report"
exit $code)";

const Row kRows[] = {
    SmuggledOption(true),
    SmuggledOption(false),
    {
        // Values that would end their quotes early or read as options of their own.
        .name = "ValuesStayOneArgumentEach",
        .args = {"/S", "/TRACKING=x\\", "/OSOURCE= /D=/opt/evil /UNINSTALL "},
        .expect =
            [](const SetupRun& run) {
              ASSERT_FALSE(run.hits.empty());
              // The language follows the system's: shown as "*".
              const std::regex language(R"(\[/LANG=[^\]]*\])");
              EXPECT_EQ(std::regex_replace(run.InstallerArgs(), language, "[/LANG=*]"),
                        "[/GA_TRACKING_UID=" + run.Cid() +
                            "][/TRACKING=x\\][/BUILD_ID=0][/OSOURCE= /D=/opt/evil /UNINSTALL ][/LANG=*]"
                            "[/DELAY=0][/S]\n");
            },
    },
    HeldLockFile(false),
    HeldLockFile(true),
    {
        .name = "SquattedTemporaryFolders",
        .args = {"/S"},
        .plant =
            [](SetupRun& run) {
              // The last fallback, $HOME/.cache, stays in the run's folder.
              run.env["HOME"] = (run.root / "home").string();
              run.launcher = {"/usr/bin/unshare", "--mount", "--propagation", "private", "sh", "-c", kSquatScript, "sh",
                              (run.root / "tmp-report.txt").string()};
            },
        .expect =
            [](const SetupRun& run) {
              // The installer ran from a folder of the setup's own beside the taken one.
              const fs::path installer = run.InstallerPath();
              EXPECT_EQ(installer.parent_path().parent_path(), "/tmp") << installer;
              const std::string folder = installer.parent_path().filename().string();
              EXPECT_EQ(folder.rfind("omk-0-", 0), 0u) << installer;
              EXPECT_EQ(folder.size(), std::string("omk-0-XXXXXX").size()) << installer;
              // Gone at the end; the attacker's folders as they were.
              EXPECT_EQ(run.Log("tmp-report.txt"), "/tmp/omk-0 nobody 700\n/var/tmp/omk-0 nobody 700\n") << run.err;
            },
    },
    PlantedHandOver(false),
    PlantedHandOver(true),
    {
        // Ended while the download is held: the file it was going into goes too (the common
        // check of the temporary folder).
        .name = "EndedWhileDownloading",
        .args = {"/S"},
        .exitCode = -1,
        .installs = false,
        .download = kProduct + R"(, "hold_file": "release")",
        .during =
            [](SetupRun& run, pid_t setup) {
              EXPECT_TRUE(WaitForFileIn(run.root / "tmp"));
              ::kill(setup, SIGTERM);
            },
    },
};

INSTANTIATE_TEST_SUITE_P(Rows, HostileInputTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
