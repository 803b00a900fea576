#include "core/session_handler.h"

#include <gtest/gtest.h>

#include <fstream>

#include <boost/json/parse.hpp>

#include "core/install_manager_impl.h"
#include "metrics/app_metrics.h"
#include "metrics/hits.h"
#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/core/install_fakes.h"
#include "tests/metrics/fakes.h"
#include "tests/support/hit_log.h"
#include "tests/support/dev_server.h"
#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace CustomInstaller {
namespace {

namespace fs = std::filesystem;
using Parameters = std::vector<std::pair<std::string, std::string>>;

const std::wstring kUid = L"0123abcd-89ab-cdef-0123-456789abcdef";

// The run's session against the analytics collector of omk-devserver, over HTTPS.
class SessionCollectorTest : public ::testing::Test {
 protected:
  SessionCollectorTest() {
    const std::string scenario =
        R"({"routes": [{"kind": "collector", "method": "POST", "path": "/collect", "hits_log": ")" +
        (dir.Path() / "hits.jsonl").string() + R"("}]})";
    server = std::make_unique<TestSupport::DevServer>(scenario, TestSupport::DevServerOptions{.http = false, .https = true});
    InstallationDetails::SetUidProvider([this] { return uid; });
  }
  ~SessionCollectorTest() override {
    AppMetrics::DestroyGoogleAnalyticsMetrics();
    AppMetrics::SetSessionOpen(false);
    InstallationDetails::SetUidProvider({});
  }

  std::shared_ptr<CGASessionHandler> Open(const std::wstring& commandLine) {
    Cxx::Network::Http::HttpClient::ConnectionSettings connection;
    connection.caBundle = TestSupport::TestCaFile();
    CGASessionSettings settings;
    settings.trackingId = "UA-1234-5";
    settings.environment = {clock, std::make_shared<AppMetrics::CCollectorPoster>(L"127.0.0.1", server->HttpsPort(),
                                                                                   connection)};
    return std::make_shared<CGASessionHandler>(InstallerOptions(commandLine), settings);
  }

  // The parameters of each hit the collector took since the last call, after the fixed ones
  // (which are checked).
  std::vector<Parameters> Hits(const std::string& language = "de") {
    const Parameters fixed = {{"v", "1"},   {"tid", "UA-1234-5"}, {"cid", Platform::WideToUtf8(uid)},
                              {"an", "Quarro Omnikit"}, {"av", "3.10.1.2"}, {"ul", language}, {"ci", "OMK"}};
    std::vector<Parameters> hits;
    for (const auto& hit : TestSupport::ReadHitLog(dir.Path() / "hits.jsonl", m_hitsRead)) {
      ++m_hitsRead;
      const Parameters& all = hit.parameters;
      EXPECT_EQ(Parameters(all.begin(), all.begin() + std::min(all.size(), fixed.size())), fixed);
      hits.emplace_back(all.begin() + std::min(all.size(), fixed.size()), all.end());
    }
    return hits;
  }

  TestSupport::TempDir dir;
  std::unique_ptr<TestSupport::DevServer> server;
  std::shared_ptr<AppMetrics::Testing::CFakeClock> clock = std::make_shared<AppMetrics::Testing::CFakeClock>();
  std::wstring uid = kUid;
  size_t m_hitsRead = 0;
};

const Parameters kSessionStart = {{"t", "event"}, {"ec", "SessionControl"}, {"ea", "start"}, {"sc", "start"}};
const Parameters kSessionEnd = {{"t", "event"}, {"ec", "SessionControl"}, {"ea", "end"}, {"sc", "end"}};
Parameters Install(const std::string& action) { return {{"t", "event"}, {"ec", "Install"}, {"ea", action}}; }

// The sender ends the session itself at exit unless a run that was not very silent succeeded.
TEST_F(SessionCollectorTest, FunnelAndSessionEndPerOutcome) {
  using Core::Testing::Handles;
  using Core::Testing::Journal;
  struct Case {
    const char* what;
    const wchar_t* commandLine;
    std::function<void(Core::CInstallManager&, Handles&)> outcome;
    std::vector<Parameters> hits;
  };
  const auto launch = [](std::function<void(Core::IInstallerLauncherCallback&)> report) {
    return [report](Core::CInstallManager&, Handles& handles) {
      handles.source.lock()->OnSourceReady(std::make_shared<Core::Testing::FakeInstaller>());
      report(*handles.launcher.lock());
    };
  };
  const std::vector<Case> cases = {
      {"success", L"/S /LANG=de", launch([](auto& l) { l.OnLaunchSucceeded(); }),
       {kSessionStart, Install("InstallerSuccessW")}},
      {"very silent success", L"/VS /LANG=de", launch([](auto& l) { l.OnLaunchSucceeded(); }),
       {kSessionStart, Install("InstallerSuccessW"), kSessionEnd}},
      {"failure", L"/S /LANG=de", [](auto&, Handles& h) { h.source.lock()->OnSourceFailed(); },
       {kSessionStart, Install("InstallerFailureW"), kSessionEnd}},
      {"cancel", L"/LANG=de", [](Core::CInstallManager& m, Handles&) { m.Cancel(); }, {kSessionStart, kSessionEnd}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Journal journal;
    Handles handles;
    const auto session = Open(c.commandLine);
    const auto manager = Core::CInstallManager::Create(std::make_unique<Core::Testing::FakeSource>(journal, handles),
                                                       std::make_unique<Core::Testing::FakeLauncher>(journal, handles),
                                                       session);
    manager->Start(nullptr);
    // The session start goes out long before any outcome in a real run (the sender reads the
    // session switch when it sends a hit, not when the hit is queued).
    ASSERT_TRUE(AppMetrics::WaitForPendingHits(60));
    c.outcome(*manager, handles);
    session->FinishSession();
    EXPECT_TRUE(AppMetrics::IsSessionOpen());
    AppMetrics::DestroyGoogleAnalyticsMetrics();  // as at the program's exit
    EXPECT_EQ(Hits(), c.hits);
  }
}

TEST_F(SessionCollectorTest, OnlyTheFirstSessionCreatesTheSender) {
  const auto first = Open(L"/LANG=de");
  uid = L"ffffffff-ffff-ffff-ffff-ffffffffffff";
  const auto second = Open(L"/LANG=fr");
  uid = kUid;
  first->FinishSession();
  EXPECT_EQ(Hits(), (std::vector<Parameters>{kSessionStart, kSessionStart}));
}

TEST_F(SessionCollectorTest, AnInvalidTrackingUidLeavesTheRunWithoutAnalytics) {
  uid = L"{1F2E-3D4C}";
  const auto session = Open(L"/S");
  EXPECT_EQ(AppMetrics::GetGoogleAnalyticsMetrics(), nullptr);
  EXPECT_FALSE(AppMetrics::IsSessionOpen());
  session->OnInstallSucceeded();
  session->FinishSession();
  EXPECT_TRUE(server->Requests().empty());
}

// The tracking UID: an installed suite's, asked of a copy of omk-setup through the answer
// file, else one generated UUID per process.
class UidTest : public ::testing::Test {
 protected:
  UidTest() {
    // A temporary folder of the test's own: the answer files it looks for are this test's alone.
    fs::create_directories(Root() / "tmp");
    fs::permissions(Root() / "tmp", fs::perms::owner_all, fs::perm_options::replace);
    env.Set("OMK_REGISTRY_ROOT", (Root() / "registry").string())
        .Set("OMK_PROGRAMDATA", (Root() / "pd").string())
        .Set("TMPDIR", (Root() / "tmp").string());
    TestSupport::ImportReg(R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quarro Omnikit]
"UninstallString"=")" + (Root() / "suite" / "uninstall").string() + "\"\n");
    TestSupport::MakeExecutable(Root() / "suite" / "Quarro Omnikit.exe");
  }
  const fs::path& Root() const { return dir.Path(); }
  void WriteSettings(const std::string& uidLine) {
    TestSupport::WriteFile(TestSupport::SuiteSettingsPath(Root() / "pd"), TestSupport::SuiteSettingsIni(uidLine));
  }
  // A copy of omk-setup in its own folder, where its answer file goes.
  fs::path SetupCopy(const std::string& folder) {
    const fs::path copy = Root() / folder / "omk-setup";
    fs::create_directories(copy.parent_path());
    fs::copy_file(OMK_SETUP_PATH, copy);
    return copy;
  }

  TestSupport::TempDir dir;
  TestSupport::ScopedEnv env;
};

TEST_F(UidTest, GeneratedUuidIsRandomVersionFourAndFixedForTheProcess) {
  const std::wstring uuid = GenerateUuid();
  // "xxxxxxxx-xxxx-4xxx-Yxxx-xxxxxxxxxxxx", lower-case hex, Y one of 8, 9, a, b.
  const std::wstring shape = L"xxxxxxxx-xxxx-4xxx-Yxxx-xxxxxxxxxxxx";
  ASSERT_EQ(uuid.size(), shape.size()) << Platform::WideToUtf8(uuid);
  for (size_t i = 0; i < shape.size(); ++i) {
    const wchar_t c = uuid[i];
    const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
    const bool ok = shape[i] == L'x'   ? hex
                    : shape[i] == L'Y' ? std::wstring(L"89ab").find(c) != std::wstring::npos
                                       : c == shape[i];
    EXPECT_TRUE(ok) << Platform::WideToUtf8(uuid) << " at " << i;
  }
  EXPECT_EQ(GenerateUuid(), uuid);

  // The fallback's text from raw random bytes.
  std::array<uint8_t, 16> counting{};
  for (size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(FormatRandomUuid({}), L"00000000-0000-4000-8000-000000000000");
  EXPECT_EQ(FormatRandomUuid(counting), L"00010203-0405-4607-8809-0a0b0c0d0e0f");
  std::array<uint8_t, 16> ones;
  ones.fill(0xFF);
  EXPECT_EQ(FormatRandomUuid(ones), L"ffffffff-ffff-4fff-bfff-ffffffffffff");
}

// The answer files left in the temporary folder.
std::vector<fs::path> AnswerFilesLeft() {
  std::vector<fs::path> left;
  for (const auto& entry : fs::directory_iterator(Platform::GetTempFolder())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("uid") && name.ends_with(".tmp")) left.push_back(entry.path());
  }
  return left;
}

TEST_F(UidTest, InstalledSuitesUidIsReusedAndTheAnswerFileRemoved) {
  WriteSettings("trackingUid={1F2E-3D4C}\n");
  const fs::path setup = SetupCopy("program folder");
  EXPECT_EQ(GetUid({{}, setup}), L"{1F2E-3D4C}");
  EXPECT_TRUE(AnswerFilesLeft().empty());
}

TEST_F(UidTest, EveryMissingAnswerGivesTheGeneratedUuid) {
  struct Case {
    const char* what;
    std::string settings;  // the "trackingUid" line; "-": no settings file
    std::string folder;    // of the omk-setup copy; empty: no copy there
    bool suiteInstalled;
    std::string program = {};  // a shell script in place of the omk-setup copy
  };
  // Writes an answer into the file it is given, then says it failed.
  const std::string failsAfterWriting =
      "#!/bin/sh\nprintf '%s' 'from-a-failed-copy' > \"${1#-extractTrackingUID=}\"\nexit 1\n";
  const std::vector<Case> cases = {
      {"no suite installed", "trackingUid=abc\n", "a", false},
      {"no settings file", "-", "b", true},
      {"no UID in the settings", "", "c", true},
      {"the program cannot be started", "trackingUid=abc\n", "", true},
      {"a folder no command line can name", "trackingUid=abc\n", "d\"e", true},
      // The UID goes into the installer's command line inside double quotes.
      {"a UID that would end its quotes", "trackingUid=abc\" /UPDATE \"x\n", "f", true},
      {"a copy that wrote an answer but ended with 1", "trackingUid=abc\n", "g", true, failsAfterWriting},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path ini = TestSupport::SuiteSettingsPath(Root() / "pd");
    fs::remove(ini);
    if (c.settings != "-") WriteSettings(c.settings);
    fs::path setup = Root() / "missing" / "omk-setup";
    if (!c.program.empty()) {
      setup = Root() / c.folder / "omk-setup";
      fs::create_directories(setup.parent_path());
      TestSupport::WriteFile(setup, c.program);
      fs::permissions(setup, fs::perms::owner_all);
    } else if (!c.folder.empty()) {
      setup = SetupCopy(c.folder);
    }
    fs::create_directories(setup.parent_path());
    // An answer planted beside the program is never read, and never removed either.
    const fs::path planted = setup.parent_path() / "trackingUID.txt";
    TestSupport::WriteFile(planted, "planted-answer");
    if (!c.suiteInstalled) fs::rename(Root() / "suite", Root() / "gone");

    EXPECT_EQ(GetUid({{}, setup}), GenerateUuid());
    EXPECT_EQ(TestSupport::ReadFile(planted), "planted-answer");
    EXPECT_TRUE(AnswerFilesLeft().empty());
    if (!c.suiteInstalled) fs::rename(Root() / "gone", Root() / "suite");
  }
}

TEST_F(UidTest, InstallationDetailsTakeTheUidFromTheLookup) {
  fs::remove_all(Root() / "suite");  // not installed: the test program is never asked
  InstallUidProvider();
  InstallationDetails details(InstallerOptions(L"/S"));
  EXPECT_EQ(details.GetUid(), GenerateUuid());
  InstallationDetails::SetUidProvider({});
}

}  // namespace
}  // namespace CustomInstaller
