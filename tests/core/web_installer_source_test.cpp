// The web installer source against omk-devserver: the component query with its retries and
// fallback, the download into a temporary file, progress on the first half of the bar, and
// the single outcome report.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "core/web_installer_source.h"
#include "platform/md5.h"
#include "platform/system_version.h"
#include "platform/text.h"
#include "tests/support/dev_server.h"
#include "tests/support/process.h"
#include "tests/support/fake_clock.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace CustomInstaller::Core {
namespace {

using TestSupport::DevServer;
namespace fs = std::filesystem;

constexpr auto kOutcomeLimit = std::chrono::seconds(60);  // a hang, not a timing bound

// Records the outcome reports and lets a test wait for the first one.
class FakeSourceCallback final : public IInstallerSourceCallback {
 public:
  void OnSourceReady(std::shared_ptr<IInstaller> installer) override {
    Record("ready", std::move(installer));
  }
  void OnSourceFailed() override { Record("failed", nullptr); }
  void OnSourceCancelled() override { Record("cancelled", nullptr); }

  // The reports so far, after waiting for at least one.
  std::vector<std::string> WaitForOutcome() {
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, kOutcomeLimit, [&] { return !m_reports.empty(); })) {
      ADD_FAILURE() << "no outcome reported";
    }
    return m_reports;
  }
  std::vector<std::string> Reports() {
    std::lock_guard lock(m_mutex);
    return m_reports;
  }
  std::shared_ptr<IInstaller> TakeInstaller() {
    std::lock_guard lock(m_mutex);
    return std::move(m_installer);
  }

 private:
  void Record(const char* report, std::shared_ptr<IInstaller> installer) {
    {
      std::lock_guard lock(m_mutex);
      m_reports.push_back(report);
      if (installer) m_installer = std::move(installer);
    }
    m_changed.notify_all();
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_reports;
  std::shared_ptr<IInstaller> m_installer;
};

class FakeProgress final : public JS::IInstallProgressJSCallback {
 public:
  void OnStarted() override {}
  void OnProgress(float percent) override {
    {
      std::lock_guard lock(m_mutex);
      m_values.push_back(percent);
    }
    m_changed.notify_all();
  }
  void OnError(int) override { ADD_FAILURE() << "the source never reports to the page's error"; }
  void OnCancel() override { ADD_FAILURE(); }
  void OnFinish() override { ADD_FAILURE(); }

  std::vector<float> Values() {
    std::lock_guard lock(m_mutex);
    return m_values;
  }
  void WaitForFirst() {
    std::unique_lock lock(m_mutex);
    ASSERT_TRUE(m_changed.wait_for(lock, kOutcomeLimit, [&] { return !m_values.empty(); }));
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<float> m_values;
};

// Tells when something writes into a ".tmp" file of a folder (inotify, so no polling).
class TmpWriteWatch {
 public:
  explicit TmpWriteWatch(const fs::path& dir) : m_fd(inotify_init1(IN_CLOEXEC)) {
    if (m_fd >= 0) inotify_add_watch(m_fd, dir.c_str(), IN_MODIFY);
  }
  ~TmpWriteWatch() {
    if (m_fd >= 0) close(m_fd);
  }
  bool Wait() {
    const auto end = std::chrono::steady_clock::now() + kOutcomeLimit;
    alignas(inotify_event) char buffer[4096];
    while (m_fd >= 0 && std::chrono::steady_clock::now() < end) {
      pollfd ready{m_fd, POLLIN, 0};
      if (poll(&ready, 1, 1000) <= 0) continue;
      const ssize_t size = read(m_fd, buffer, sizeof buffer);
      for (ssize_t at = 0; at < size;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && fs::path(event->name).extension() == ".tmp") return true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return false;
  }

 private:
  int m_fd;
};

struct Hit {
  std::string description;
  uint32_t code;
  int32_t severity;
  bool operator==(const Hit&) const = default;
};

const std::string kFallbackPath = "/tools/quarro/components/684cc33c-b807-4fa8-a2a4-d84cc48326a4";

// One source with recorded sleeps and hits, its temporary files in a private folder.
class WebInstallerSourceTest : public testing::Test {
 protected:
  WebInstallerSourceTest() { m_env.Set("TMPDIR", m_temp.Path().string()); }

  std::shared_ptr<CWebInstallerSource> MakeSource(const DevServer& server,
                                                  WebInstallerSourceSettings settings = {}) {
    if (settings.componentServiceUrl.empty()) {
      settings.componentServiceUrl = Platform::Utf8ToWide(server.HttpUrl("/component"));
    }
    settings.machineGuid = [] { return std::wstring(L"0123abcd-89ab-cdef-0123-456789abcdef"); };
    settings.sendException = [this](const AppMetrics::CExceptionData& hit) {
      EXPECT_TRUE(hit.details.empty());
      std::lock_guard lock(m_mutex);
      m_hits.push_back({hit.description, hit.code, hit.severity});
    };
    if (!settings.clock) settings.clock = m_clock;
    InstallationDetails details(InstallerOptions(L"/BUILD_ID=77abc /LANG=de"));
    return std::make_shared<CWebInstallerSource>(details, std::move(settings));
  }

  std::vector<Hit> Hits() {
    std::lock_guard lock(m_mutex);
    return m_hits;
  }
  std::vector<uint64_t> Sleeps() { return m_clock->Sleeps(); }
  // The source's temporary files ("XXXXXX.tmp"); the dev server keeps its own folder here too.
  size_t TempFiles() const {
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(m_temp.Path())) count += entry.path().extension() == ".tmp";
    return count;
  }

  TestSupport::TempDir m_temp;
  TestSupport::ScopedEnv m_env;
  std::mutex m_mutex;
  std::vector<Hit> m_hits;
  std::shared_ptr<TestSupport::CFakeClock> m_clock = std::make_shared<TestSupport::CFakeClock>();
};

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(Platform::WideToUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(WebInstallerSourceTest, AnsweredComponentIsFetchedIntoAnExecutableTempFile) {
  const std::string body = TestSupport::GeneratedBody(0, 700000);
  const DevServer server(R"({"routes": [{"method": "POST", "path": "/component", "kind": "component",
    "answer": {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/file.bin",
    "md5": ")" + Platform::Md5Hex(body) + R"("}]}}, {"path": "/file.bin", "body_size": 700000}]})");
  auto source = MakeSource(server);
  auto callback = std::make_shared<FakeSourceCallback>();
  auto progress = std::make_shared<FakeProgress>();

  ASSERT_TRUE(source->Start(callback, progress));
  ASSERT_EQ(callback->WaitForOutcome(), std::vector<std::string>{"ready"});
  source->Stop();
  EXPECT_FALSE(source->Cancel());

  auto installer = callback->TakeInstaller();
  ASSERT_NE(installer, nullptr);
  const fs::path path = Platform::WideToUtf8(installer->GetPath());
  EXPECT_EQ(path.parent_path(), m_temp.Path());
  EXPECT_EQ(path.extension(), ".tmp");
  EXPECT_TRUE(ReadFile(installer->GetPath()) == body);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0u);
  EXPECT_EQ(info.st_mode & 077, 0u);

  // 0 at the start, the download's 0-100 on 0-50, and 50 at its end.
  const auto values = progress->Values();
  ASSERT_GE(values.size(), 3u);
  EXPECT_EQ(values.front(), 0.0f);
  EXPECT_EQ(values.back(), 50.0f);
  for (size_t i = 1; i < values.size(); ++i) {
    EXPECT_LE(values[i - 1], values[i]);
    EXPECT_LE(values[i], 50.0f);
  }
  EXPECT_TRUE(Hits().empty());
  EXPECT_TRUE(Sleeps().empty());

  // The exact question: build id's leading number, the machine GUID as uid and puid.
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto system = Platform::GetSystemVersion();
  boost::json::object os{{"arch", system.is64Bit ? "x64" : "x86"}};
  if (system.known) os["version"] = std::to_string(system.major) + "." + std::to_string(system.minor);
  if (system.build != 0) os["build"] = system.build;
  boost::json::object application;
  application["code"] = "OMK";
  application["buildId"] = 77;
  application["uid"] = "0123abcd-89ab-cdef-0123-456789abcdef";
  application["puid"] = "0123abcd-89ab-cdef-0123-456789abcdef";
  application["version"] = "3.10.1.2";
  application["language"] = "de";
  boost::json::object component;
  component["id"] = "OMK_SM";
  component["arch"] = os["arch"];
  component["version"] = "3.10.1.2";
  boost::json::object expected;
  expected["protocolVersion"] = 1;
  expected["application"] = application;
  expected["os"] = os;
  expected["components"] = boost::json::array{component};
  EXPECT_EQ(requests[0].body, boost::json::serialize(expected));
  EXPECT_EQ(requests[1].path, "/file.bin");

  // The temporary file goes with the last holder of the installer.
  installer.reset();
  source.reset();
  EXPECT_EQ(TempFiles(), 0u);
}

// What the service answers, and what the source must make of it.
struct QueryCase {
  const char* name;
  std::string answers;  // the component route's "answers"
  size_t serviceRequests;
  size_t sleeps;
  std::vector<Hit> hits;
  std::string fetched;  // path of the file downloaded
};

void PrintTo(const QueryCase& c, std::ostream* out) { *out << c.name; }

class WebInstallerSourceQueryTest : public WebInstallerSourceTest,
                                    public testing::WithParamInterface<QueryCase> {};

TEST_P(WebInstallerSourceQueryTest, RetriesThenAsksWithoutVersionThenFallsBack) {
  const QueryCase& c = GetParam();
  const std::string body = TestSupport::GeneratedBody(0, 5000);
  std::string answers = c.answers;
  for (std::string::size_type at; (at = answers.find("MD5")) != std::string::npos;) {
    answers.replace(at, 3, Platform::Md5Hex(body));
  }
  const DevServer server(R"({"routes": [
    {"method": "POST", "path": "/component", "kind": "component", "answers": )" + answers + R"(},
    {"path": "/answered.bin", "body_size": 5000},
    {"path": ")" + kFallbackPath + R"(", "body_size": 5000}]})");
  WebInstallerSourceSettings settings;
  settings.fallback.url = Platform::Utf8ToWide(server.HttpUrl(kFallbackPath));
  settings.fallback.md5 = Platform::Utf8ToWide(Platform::Md5Hex(body));
  auto source = MakeSource(server, settings);
  auto callback = std::make_shared<FakeSourceCallback>();

  source->Start(callback, nullptr);
  EXPECT_EQ(callback->WaitForOutcome(), std::vector<std::string>{"ready"});
  source->Stop();

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), c.serviceRequests + 1);
  for (size_t i = 0; i < c.serviceRequests; ++i) {
    const auto sent = boost::json::parse(requests[i].body).at("components").at(0).at("version");
    // Without an answer (a hit was sent) the last request is the version-less one.
    const bool versionless = !c.hits.empty() && i + 1 == c.serviceRequests;
    EXPECT_EQ(std::string(sent.as_string()), versionless ? "" : "3.10.1.2") << "request " << i;
  }
  EXPECT_EQ(requests.back().path, c.fetched);
  EXPECT_EQ(Sleeps(), std::vector<uint64_t>(c.sleeps, 3000));
  EXPECT_EQ(Hits(), c.hits);
}

const char* const kOtherVersion =
    R"({"components": [{"id": "OMK_SM", "version": "3.9.0.0", "url": "{base}/answered.bin", "md5": "MD5"}]})";

INSTANTIATE_TEST_SUITE_P(
    Answers, WebInstallerSourceQueryTest,
    testing::Values(
        // Empty replies are retried three times, 3 s apart; the version-less answer is taken.
        QueryCase{"OnlyVersionlessAnswer",
                  R"([{"empty": true}, {"empty": true}, {"empty": true}, )" + std::string(kOtherVersion) + "]",
                  4, 3, {{"ID4_", 0, 1}}, "/answered.bin"},
        // A service that is down (an error status throws) counts as no answer.
        QueryCase{"ServiceDown", R"([{"status": 503}])", 4, 3, {{"ID3_", 0, 2}}, kFallbackPath},
        // A reply without the component is not retried.
        QueryCase{"NotJson", R"([{"garbage": 40}])", 2, 0, {{"ID3_", 0, 2}}, kFallbackPath},
        QueryCase{"OtherComponentOnly",
                  R"([{"components": [{"id": "X", "version": "1", "url": "{base}/x", "md5": "MD5"}]}])",
                  2, 0, {{"ID3_", 0, 2}}, kFallbackPath},
        // The second try answers.
        QueryCase{"AnsweredOnRetry",
                  R"([{"empty": true}, {"components": [{"id": "OMK_SM", "version": "3.10.1.2",
                      "url": "{base}/answered.bin", "md5": "MD5"}]}])",
                  2, 1, {}, "/answered.bin"}),
    [](const testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

TEST_F(WebInstallerSourceTest, FailedDownloadIsReportedOnceWithItsStatus) {
  const DevServer server(R"({"routes": [{"method": "POST", "path": "/component", "kind": "component",
    "answer": {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/file.bin",
    "md5": "00000000000000000000000000000000"}]}}, {"path": "/file.bin", "body_size": 1000}]})");
  auto source = MakeSource(server);
  auto callback = std::make_shared<FakeSourceCallback>();
  auto progress = std::make_shared<FakeProgress>();

  source->Start(callback, progress);
  EXPECT_EQ(callback->WaitForOutcome(), std::vector<std::string>{"failed"});
  source->Stop();
  EXPECT_EQ(callback->Reports().size(), 1u);
  EXPECT_EQ(Hits(), (std::vector<Hit>{{"ID1_", 1, 2}}));
  EXPECT_EQ(progress->Values().back(), 50.0f);
  EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(WebInstallerSourceTest, DownloadThatCannotStartIsASourceFailure) {
  const DevServer server(R"({"routes": [{"method": "POST", "path": "/component", "kind": "component",
    "answer": {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/file.bin",
    "md5": "00000000000000000000000000000000"}]}}]})");
  struct Case {
    const char* name;
    std::function<void(WebInstallerSourceSettings&, TestSupport::ScopedEnv&)> setUp;
    std::vector<Hit> hits;
  };
  const Case cases[] = {
      // No service host, and a fallback without MD5: no downloader is made.
      {"NoFallbackDigest",
       [&](WebInstallerSourceSettings& settings, TestSupport::ScopedEnv&) {
         settings.componentServiceUrl = L"http:///component";
         settings.attempts = 1;
         settings.fallback.md5.clear();
       },
       {{"ID3_", 0, 2}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::lock_guard lock(m_mutex);
      m_hits.clear();
    }
    TestSupport::ScopedEnv env;
    WebInstallerSourceSettings settings;
    c.setUp(settings, env);
    auto source = MakeSource(server, settings);
    auto callback = std::make_shared<FakeSourceCallback>();
    auto progress = std::make_shared<FakeProgress>();
    source->Start(callback, progress);
    EXPECT_EQ(callback->WaitForOutcome(), std::vector<std::string>{"failed"});
    source->Stop();
    EXPECT_EQ(callback->Reports().size(), 1u);
    EXPECT_EQ(Hits(), c.hits);
    EXPECT_TRUE(progress->Values().empty());
  }
  EXPECT_EQ(TempFiles(), 0u);
}

// The verified download cannot be saved (its temporary file has become a folder): a failed
// write, reported as the launcher reports one, and never handed over as ready.
TEST_F(WebInstallerSourceTest, AFailedSaveIsAFailedWriteNotAReadyInstaller) {
  const std::string body = TestSupport::GeneratedBody(0, 3000);
  const DevServer server(R"({"routes": [{"method": "POST", "path": "/component", "kind": "component",
    "answer": {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/file.bin",
    "md5": ")" + Platform::Md5Hex(body) + R"("}]}},
    {"path": "/file.bin", "body_size": 3000, "trickle": {"bytes": 300, "delay_ms": 100}}]})");
  auto source = MakeSource(server);
  auto callback = std::make_shared<FakeSourceCallback>();
  auto progress = std::make_shared<FakeProgress>();
  TmpWriteWatch written(m_temp.Path());
  source->Start(callback, progress);
  ASSERT_TRUE(written.Wait());  // the download is writing into its temporary file
  for (const auto& entry : fs::directory_iterator(m_temp.Path())) {
    if (entry.path().extension() != ".tmp") continue;
    fs::remove(entry.path());
    fs::create_directory(entry.path());
  }
  EXPECT_EQ(callback->WaitForOutcome(), std::vector<std::string>{"failed"});
  source->Stop();
  EXPECT_EQ(callback->Reports().size(), 1u);
  EXPECT_EQ(callback->TakeInstaller(), nullptr);
  EXPECT_EQ(Hits(), (std::vector<Hit>{{"ID5_", kInstallerWriteFailed, 2}}));
  EXPECT_EQ(progress->Values().back(), 50.0f);
}

// A TMPDIR that is not a safe folder gives way to /tmp/omk-<uid>; one on a file system mounted
// noexec (the installer could never run from it) to /var/tmp/omk-<uid>, chosen before the
// download.
TEST_F(WebInstallerSourceTest, TheInstallerGoesToAPrivateFolderWhereItCanRun) {
  const std::string body = TestSupport::GeneratedBody(0, 3000);
  const DevServer server(R"({"routes": [{"method": "POST", "path": "/component", "kind": "component",
    "answer": {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/file.bin",
    "md5": ")" + Platform::Md5Hex(body) + R"("}]}}, {"path": "/file.bin", "body_size": 3000}]})");
  const fs::path notAFolder = m_temp.Path() / "file";
  std::ofstream(notAFolder) << "x";
  const fs::path noexec = m_temp.Path() / "noexec";
  fs::create_directory(noexec);
  struct Mount {
    fs::path at;
    bool on = geteuid() == 0 &&
        TestSupport::RunProcess("/bin/mount", {"-t", "tmpfs", "-o", "noexec,mode=0700", "tmpfs", at.string()}).exitCode == 0;
    ~Mount() {
      if (on) TestSupport::RunProcess("/bin/umount", {at.string()});
    }
  } mount{noexec};
  const bool mounted = mount.on;
  const std::string uid = std::to_string(geteuid());
  struct Case {
    fs::path tmpdir;
    fs::path folder;
  };
  std::vector<Case> cases = {{notAFolder / "sub", "/tmp/omk-" + uid}};
  if (mounted) cases.push_back({noexec, "/var/tmp/omk-" + uid});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tmpdir);
    TestSupport::ScopedEnv env;
    env.Set("TMPDIR", c.tmpdir.string());
    auto source = MakeSource(server);
    auto callback = std::make_shared<FakeSourceCallback>();
    source->Start(callback, nullptr);
    EXPECT_EQ(callback->WaitForOutcome(), std::vector<std::string>{"ready"});
    source->Stop();
    const auto installer = callback->TakeInstaller();
    ASSERT_NE(installer, nullptr);
    EXPECT_EQ(fs::path(Platform::WideToUtf8(installer->GetPath())).parent_path(), c.folder);
    EXPECT_TRUE(ReadFile(installer->GetPath()) == body);
  }
  if (!mounted) GTEST_SKIP() << "the noexec case needs root to mount a file system";
}

TEST_F(WebInstallerSourceTest, StopEndsTheRetrySleepWithoutAReport) {
  const DevServer server(R"({"routes": [{"method": "POST", "path": "/component", "kind": "component",
    "answer": {"empty": true}}]})");
  WebInstallerSourceSettings settings;
  const auto clock = std::make_shared<TestSupport::CFakeClock>(1);
  settings.clock = clock;
  auto source = MakeSource(server, settings);
  auto callback = std::make_shared<FakeSourceCallback>();
  source->Start(callback, std::make_shared<FakeProgress>());
  ASSERT_TRUE(clock->held.Wait());
  source->Stop();
  EXPECT_TRUE(callback->Reports().empty());
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_TRUE(Hits().empty());
}

// The earlier download would finish (in about 0.3 s) long before the new one (about 1.2 s): only
// when the new Start really dropped it does the one report carry the new file.
TEST_F(WebInstallerSourceTest, NewStartDropsTheEarlierDownloadAndItsReports) {
  const std::string earlierBody = TestSupport::GeneratedBody(0, 3000);
  const std::string body = TestSupport::GeneratedBody(0, 2000);
  const DevServer server(R"({"routes": [{"method": "POST", "path": "/component", "kind": "component",
    "answers": [
      {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/earlier.bin", "md5": ")" +
                         Platform::Md5Hex(earlierBody) + R"("}]},
      {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/later.bin", "md5": ")" +
                         Platform::Md5Hex(body) + R"("}]}]},
    {"path": "/earlier.bin", "body_size": 3000, "trickle": {"bytes": 200, "delay_ms": 20}},
    {"path": "/later.bin", "body_size": 2000, "trickle": {"bytes": 100, "delay_ms": 60}}]})");
  auto source = MakeSource(server);
  auto first = std::make_shared<FakeSourceCallback>();
  auto firstProgress = std::make_shared<FakeProgress>();
  source->Start(first, firstProgress);
  firstProgress->WaitForFirst();  // the earlier download has started

  auto second = std::make_shared<FakeSourceCallback>();
  auto secondProgress = std::make_shared<FakeProgress>();
  source->Start(second, secondProgress);
  EXPECT_EQ(second->WaitForOutcome(), std::vector<std::string>{"ready"});
  source->Stop();

  EXPECT_TRUE(first->Reports().empty());
  EXPECT_EQ(second->Reports().size(), 1u);
  EXPECT_LT(firstProgress->Values().back(), 50.0f);
  EXPECT_TRUE(Hits().empty());
  auto installer = second->TakeInstaller();
  ASSERT_NE(installer, nullptr);
  EXPECT_TRUE(ReadFile(installer->GetPath()) == body);
  installer.reset();
  source.reset();
  EXPECT_EQ(TempFiles(), 0u);
}

}  // namespace
}  // namespace CustomInstaller::Core
