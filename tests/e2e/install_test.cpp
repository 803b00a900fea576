// Whole installations through the built program (its test build with short waits) against the
// local services on the demo ports: component service and downloads, analytics collector.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>

#include "config/identity.h"
#include "config/profile.h"
#include "platform/md5.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/e2e/setup_run.h"
#include "tests/support/child_process.h"
#include "tests/support/hit_log.h"
#include "tests/support/dev_server.h"
#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include OMK_DEMO_MD5_HEADER

namespace {

namespace fs = std::filesystem;
using TestSupport::DevServer;
using TestSupport::RunProcess;
using Hit = TestSupport::LoggedHit;

const std::string kDemoOrigin = "http://127.0.0.1:47801";
const fs::path kPki = OMK_DEMO_PKI;

// The component service's record for the suite.
std::string SuiteComponent(const std::string& version, const std::string& md5) {
  return R"({"components": [{"id": "OMK_SM", "version": ")" + version +
         R"(", "url": "{base}/downloads/product.bin", "md5": ")" + md5 + R"("}]})";
}

class InstallTest : public testing::Test {
 protected:
  InstallTest() {
    m_env = E2E::PrivateRunEnvironment(Root());
  }
  // Every run, whatever its outcome, leaves no temporary file behind.
  void TearDown() override { EXPECT_TRUE(fs::is_empty(Root() / "tmp")); }

  const fs::path& Root() const { return m_dir.Path(); }
  fs::path ArgsLog() const { return Root() / "installer-args.txt"; }

  // The services. `componentAnswers` is the component route's "answer"/"answers" member; the
  // download route serves `product`, the fallback route the signed demo product installer, and
  // the collector logs hits.
  void Serve(const std::string& componentAnswers, const fs::path& product = OMK_DEMO_PRODUCT) {
    const std::string fallbackPath = Platform::WideToUtf8(Config::kFallbackComponentUrl).substr(kDemoOrigin.size());
    const std::string scenario = R"({"routes": [
      {"method": "POST", "path": "/component", "kind": "component", )" + componentAnswers + R"(},
      {"path": "/downloads/product.bin", "body_file": ")" + product.string() + R"("},
      {"path": ")" + fallbackPath + R"(", "body_file": ")" OMK_DEMO_PRODUCT R"("},
      {"kind": "collector", "method": "POST", "path": "/collect", "hits_log": ")" + (Root() / "hits.jsonl").string() + R"("}]})";
    auto options = E2E::DemoServerOptions(kPki);
    m_server.reset();  // a new server starts a new hit log
    m_hitsSeen = 0;
    m_server = std::make_unique<DevServer>(scenario, options);
  }
  void ServeSuite(const std::string& md5 = OMK_DEMO_FALLBACK_MD5, const fs::path& product = OMK_DEMO_PRODUCT) {
    Serve(R"("answer": )" + SuiteComponent("3.10.1.2", md5), product);
  }
  TestSupport::ProcessResult Setup(const std::vector<std::string>& args) {
    return RunProcess(OMK_SETUP_E2E_PATH, args, m_env);
  }

  // The hits the collector received, in order, each with its parameters in the order sent.
  std::vector<Hit> Hits() const { return TestSupport::ReadHitLog(Root() / "hits.jsonl", m_hitsSeen); }
  // Later questions look only at hits that arrive from now on.
  void ForgetHits() { m_hitsSeen += Hits().size(); }
  // The value of a parameter that the hit carries once (a repeated one fails the test).
  static std::string Field(const Hit& hit, const std::string& name) { return hit.Field(name); }
  // Every hit's whole parameter list in the order sent, with the client id and the language
  // shown as "*", after the parameters that all hits share.
  std::vector<std::string> HitTexts() const {
    const std::string common = std::string("v=1&tid=") + Config::kAnalyticsTrackingId +
                               "&cid=*&an=Quarro Omnikit&av=3.10.1.2&ul=*&ci=OMK&";
    std::vector<std::string> texts;
    for (const auto& hit : Hits()) {
      std::string text = hit.Text({"cid", "ul"});
      if (text.rfind(common, 0) == 0) text = "..." + text.substr(common.size());
      texts.push_back(text);
    }
    return texts;
  }
  // The event hit with this action (and screen text, when given); null when none came.
  std::optional<Hit> Event(const std::string& action, const std::string& screen = "") const {
    for (const auto& hit : Hits()) {
      if (Field(hit, "t") == "event" && Field(hit, "ea") == action && (screen.empty() || Field(hit, "cd") == screen)) {
        return hit;
      }
    }
    return std::nullopt;
  }
  // The exception hit whose description starts with `prefix` ("ID5_2_" = code 2 of "ID5_").
  std::optional<Hit> Exception(const std::string& prefix) const {
    for (const auto& hit : Hits()) {
      if (Field(hit, "t") == "exception" && Field(hit, "exd").rfind(prefix, 0) == 0) return hit;
    }
    return std::nullopt;
  }
  std::vector<TestSupport::RecordedRequest> ComponentRequests() const {
    std::vector<TestSupport::RecordedRequest> requests;
    for (const auto& request : m_server->Requests()) {
      if (request.path == "/component") requests.push_back(request);
    }
    return requests;
  }
  static std::string AskedVersion(const TestSupport::RecordedRequest& request) {
    const auto body = boost::json::parse(request.body);
    return boost::json::value_to<std::string>(body.at("components").as_array().at(0).at("version"));
  }
  bool Downloaded(const std::string& path) const {
    for (const auto& request : m_server->Requests()) {
      if (request.method == "GET" && request.path == path) return true;
    }
    return false;
  }
  std::string InstallerArgs() const { return fs::exists(ArgsLog()) ? TestSupport::ReadFile(ArgsLog()) : ""; }

  TestSupport::TempDir m_dir;
  std::map<std::string, std::string> m_env;
  std::unique_ptr<DevServer> m_server;
  size_t m_hitsSeen = 0;
};

TEST_F(InstallTest, SilentInstallationFromEndToEnd) {
  ServeSuite();
  const auto result = Setup({"/S", "/BUILD_ID=12", "/TRACKING=camp aign"});
  EXPECT_EQ(result.exitCode, 0) << result.err;

  // The product installer ran once with the pass-through command line.
  const std::string args = InstallerArgs();
  EXPECT_NE(args.find("[/BUILD_ID=12]"), std::string::npos) << args;
  EXPECT_NE(args.find("[/TRACKING=camp aign]"), std::string::npos) << args;
  EXPECT_NE(args.find("[/DELAY=0][/S]\n"), std::string::npos) << args;
  EXPECT_EQ(args.find("[/VS]"), std::string::npos) << args;
  EXPECT_EQ(std::count(args.begin(), args.end(), '\n'), 1);

  // The funnel as the collector received it, every parameter of every hit. Without "/VS" a
  // successful run leaves the session to the suite: no session end goes out.
  EXPECT_EQ(HitTexts(), (std::vector<std::string>{"...t=event&ec=SessionControl&ea=start&sc=start",
                                                  "...t=event&ec=Install&ea=InstallerStartW&ev=0",
                                                  "...t=event&ec=Install&ea=InstallerSuccessW",
                                                  "...t=event&ec=Install&ea=InstallerFinishW"}));
  const auto hits = Hits();
  ASSERT_FALSE(hits.empty());
  EXPECT_EQ(Field(hits.front(), "sc"), "start");
  ASSERT_TRUE(Event("InstallerStartW"));
  EXPECT_EQ(Field(*Event("InstallerStartW"), "ev"), "0");
  EXPECT_TRUE(Event("InstallerSuccessW"));
  EXPECT_TRUE(Event("InstallerFinishW"));
  EXPECT_FALSE(Event("InstallerFailureW"));
  for (const auto& hit : hits) EXPECT_NE(Field(hit, "sc"), "end");
  // The tracking UID went to the installer and is the analytics client id.
  EXPECT_NE(args.find("[/GA_TRACKING_UID=" + Field(hits.front(), "cid") + "]"), std::string::npos) << args;

  // The component service is asked before anything is downloaded (the analytics hits go out
  // on their own thread, before or after).
  std::vector<TestSupport::RecordedRequest> requests;
  for (const auto& request : m_server->Requests()) {
    if (request.path != "/collect") requests.push_back(request);
  }
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front().path, "/component");
  EXPECT_TRUE(Downloaded("/downloads/product.bin"));

  // A second run reuses the installed suite's tracking UID and removes the answer file.
  const std::string cid = Field(hits.front(), "cid");
  ForgetHits();
  const auto again = Setup({"/S"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  ASSERT_FALSE(Hits().empty());
  EXPECT_EQ(Field(Hits().front(), "cid"), cid);
  EXPECT_FALSE(fs::exists(fs::path(OMK_SETUP_E2E_PATH).parent_path() / "trackingUID.txt"));
}

TEST_F(InstallTest, VerySilentPassesItOnAndEndsTheSession) {
  ServeSuite();
  const auto result = Setup({"/VS"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  // "/VS" goes on to the installer; "/S" does not, as it was not given.
  EXPECT_NE(InstallerArgs().find("[/VS][/DELAY=0]\n"), std::string::npos) << InstallerArgs();
  EXPECT_EQ(InstallerArgs().find("[/S]"), std::string::npos) << InstallerArgs();
  ASSERT_TRUE(Event("InstallerStartW"));
  EXPECT_EQ(Field(*Event("InstallerStartW"), "ev"), "0");
  EXPECT_TRUE(Event("InstallerSuccessW"));
  // The session is under automatic control: it ends with the program. Each hit carries one
  // session control at most.
  EXPECT_EQ(HitTexts(), (std::vector<std::string>{"...t=event&ec=SessionControl&ea=start&sc=start",
                                                  "...t=event&ec=Install&ea=InstallerStartW&ev=0",
                                                  "...t=event&ec=Install&ea=InstallerSuccessW",
                                                  "...t=event&ec=Install&ea=InstallerFinishW",
                                                  "...t=event&ec=SessionControl&ea=end&sc=end"}));
  const auto hits = Hits();
  ASSERT_FALSE(hits.empty());
  EXPECT_EQ(Field(hits.back(), "sc"), "end");
}

TEST_F(InstallTest, AnswerOnlyWithoutVersionIsUsedAndReported) {
  // No answer to the three versioned requests; the version-less one names another version.
  Serve(R"("answers": [{"empty": true}, {"empty": true}, {"empty": true}, )" +
        SuiteComponent("3.9.0.1", OMK_DEMO_FALLBACK_MD5) + "]");
  const auto result = Setup({"/S"});
  EXPECT_EQ(result.exitCode, 0) << result.err;

  const auto requests = ComponentRequests();
  ASSERT_EQ(requests.size(), 4u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(AskedVersion(requests[i]), "3.10.1.2");
  EXPECT_EQ(AskedVersion(requests[3]), "");
  const auto id4 = Exception("ID4__");
  ASSERT_TRUE(id4);
  EXPECT_EQ(Field(*id4, "exf"), "0");  // severity 1: not fatal
  EXPECT_FALSE(Exception("ID3_"));
  EXPECT_TRUE(Downloaded("/downloads/product.bin"));
  EXPECT_FALSE(InstallerArgs().empty());
  EXPECT_TRUE(Event("InstallerSuccessW"));
}

TEST_F(InstallTest, ServiceDownFallsBack) {
  Serve(R"("answer": {"status": 503})");
  const auto result = Setup({"/S"});
  EXPECT_EQ(result.exitCode, 0) << result.err;

  const auto requests = ComponentRequests();
  ASSERT_EQ(requests.size(), 4u);  // three attempts, then once without version
  EXPECT_EQ(AskedVersion(requests[2]), "3.10.1.2");
  EXPECT_EQ(AskedVersion(requests[3]), "");
  const auto id3 = Exception("ID3__");
  ASSERT_TRUE(id3);
  EXPECT_EQ(Field(*id3, "exf"), "1");
  EXPECT_TRUE(Downloaded(Platform::WideToUtf8(Config::kFallbackComponentUrl).substr(kDemoOrigin.size())));
  EXPECT_FALSE(Downloaded("/downloads/product.bin"));
  EXPECT_FALSE(InstallerArgs().empty());
  EXPECT_TRUE(Event("InstallerSuccessW"));
}

TEST_F(InstallTest, DigestMismatchNeverStartsTheInstaller) {
  ServeSuite("00000000000000000000000000000000");
  const auto result = Setup({"/S"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(fs::exists(ArgsLog()));
  EXPECT_TRUE(Exception("ID1_1_"));  // status 1: digest mismatch
  EXPECT_TRUE(Event("InstallerFailureW"));
  EXPECT_FALSE(Event("InstallerSuccessW"));
}

// Files whose digest matches what the service announced but whose signature does not hold:
// kept from running until the launch limit, then reported as a signer failure.
TEST_F(InstallTest, UntrustedFilesNeverRun) {
  const std::string signedBytes = TestSupport::ReadFile(OMK_DEMO_PRODUCT);

  // Signed by another company under the same trusted intermediate.
  const fs::path other = Root() / "other.bin";
  fs::copy_file(OMK_DEMO_PRODUCT_UNSIGNED, other);
  const auto sign = RunProcess(OMK_SIGN_PATH, {"--key", (kPki / "other.key").string(), "--cert",
                                               (kPki / "other.pem").string(), "--chain",
                                               (kPki / "chain.pem").string(), other.string()});
  ASSERT_EQ(sign.exitCode, 0) << sign.err;

  // The right signature, one byte of the program changed afterwards.
  std::string tamperedBytes = signedBytes;
  tamperedBytes[tamperedBytes.size() / 3] ^= 0x01;
  const fs::path tampered = Root() / "tampered.bin";
  TestSupport::WriteFile(tampered, tamperedBytes);

  for (const fs::path& product : {other, tampered}) {
    SCOPED_TRACE(product.filename().string());
    ServeSuite(Platform::Md5Hex(TestSupport::ReadFile(product)), product);
    const auto result = Setup({"/S"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(fs::exists(ArgsLog()));
    const auto id5 = Exception("ID5_2_");
    ASSERT_TRUE(id5);
    EXPECT_EQ(Field(*id5, "exf"), "1");
    EXPECT_TRUE(Event("InstallerFailureW"));
    EXPECT_FALSE(Event("InstallerSuccessW"));
    EXPECT_TRUE(fs::is_empty(Root() / "tmp"));
  }
}

// The product installer's exit code decides the outcome.
TEST_F(InstallTest, InstallerExitCodes) {
  ServeSuite();
  {
    SCOPED_TRACE("exit code 1: cancelled by the user");
    m_env["OMK_DEMO_EXIT_CODE"] = "1";
    EXPECT_EQ(Setup({"/S"}).exitCode, 0);
    const auto cancel = Event("InstallerCancelW", "NSIS");
    ASSERT_TRUE(cancel);
    EXPECT_EQ(Field(*cancel, "ec"), "Install");
    EXPECT_EQ(Field(*cancel, "ev"), "");  // value -1 is left out
    EXPECT_FALSE(Event("InstallerFailureW"));
    EXPECT_FALSE(Event("InstallerSuccessW"));
    EXPECT_FALSE(Exception("IN"));
    EXPECT_EQ(Field(Hits().back(), "sc"), "end");  // a cancelled run ends its session
  }
  ForgetHits();
  {
    SCOPED_TRACE("exit code 7: failed");
    m_env["OMK_DEMO_EXIT_CODE"] = "7";
    EXPECT_EQ(Setup({"/S"}).exitCode, 0);
    const auto failed = Exception("IN7_");
    ASSERT_TRUE(failed);
    EXPECT_EQ(Field(*failed, "exf"), "1");
    EXPECT_TRUE(Event("InstallerFailureW"));
    EXPECT_FALSE(Event("InstallerCancelW"));
    EXPECT_FALSE(Event("InstallerSuccessW"));
  }
  const std::string args = InstallerArgs();
  EXPECT_EQ(std::count(args.begin(), args.end(), '\n'), 2);
}

// Ended by a signal while the product installer runs (a Ctrl+C, a logout): the fetched
// installer file goes with the program (the fixture checks the temporary folder).
TEST_F(InstallTest, EndedBySignalLeavesNoInstallerFile) {
  ServeSuite();
  for (const char* signal : {"2", "15"}) {
    SCOPED_TRACE(signal);
    m_env["OMK_DEMO_SIGNAL_PARENT"] = signal;
    EXPECT_EQ(Setup({"/S"}).exitCode, -1);  // ended by the signal
  }
  const std::string args = InstallerArgs();
  EXPECT_EQ(std::count(args.begin(), args.end(), '\n'), 2);
}

// One setup held while its product installer runs: the browser-emulation value is there, and
// a second "/S" ends at once with exit code 0, starting nothing and sending nothing. After the
// first one's end the value is gone. A silent run never maps the window's libraries.
TEST_F(InstallTest, SecondStartWhileOneRuns) {
  ServeSuite();
  const fs::path hold = Root() / "hold";
  ASSERT_EQ(mkfifo(hold.c_str(), 0600), 0);
  m_env["OMK_DEMO_HOLD_FIFO"] = hold.string();
  TestSupport::ChildProcess first(OMK_SETUP_E2E_PATH, {"/S"}, m_env);
  // The open returns when the product installer opens the FIFO: the first setup is then in
  // the middle of its run.
  auto opened = std::async(std::launch::async, [&] { return ::open(hold.c_str(), O_WRONLY | O_CLOEXEC); });
  if (opened.wait_for(std::chrono::minutes(2)) != std::future_status::ready) {
    ::close(::open(hold.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));  // lets the open above end
    kill(first.Pid(), SIGKILL);
    FAIL() << "the first setup never started the product installer: " << first.Err();
  }
  const int holdFd = opened.get();
  ASSERT_GE(holdFd, 0);

  TestSupport::ScopedEnv env;
  env.Set("OMK_REGISTRY_ROOT", m_env["OMK_REGISTRY_ROOT"]);
  const std::wstring key = L"SOFTWARE\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
  const auto emulation = [&] {
    return Platform::RegQueryValue(Platform::RegistryHive::CurrentUser, key, L"omk-setup-e2e",
                                   Platform::RegistryView::View64);
  };
  const std::string maps = TestSupport::ReadFile("/proc/" + std::to_string(first.Pid()) + "/maps");
  ASSERT_NE(maps.find("libcurl.so"), std::string::npos);
  for (const char* library : {"libgtk-3.so", "libwebkit2gtk-4.1.so", "libglib-2.0.so", "libgio-2.0.so"}) {
    EXPECT_EQ(maps.find(library), std::string::npos) << library;
  }

  ASSERT_TRUE(emulation());
  EXPECT_EQ(emulation()->type, Platform::RegistryValueType::Dword);
  EXPECT_EQ(emulation()->number, 11000u);

  // Done while the first one is still held: it did not wait for it.
  const auto second = Setup({"/S"});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.err, "omk-setup: another setup is already running; this one ends\n");
  EXPECT_TRUE(emulation());  // the second one leaves the first one's value alone

  ::close(holdFd);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(first.Err().find("single-instance"), std::string::npos) << first.Err();
  EXPECT_FALSE(emulation());

  const std::string args = InstallerArgs();
  EXPECT_EQ(std::count(args.begin(), args.end(), '\n'), 1) << args;
  size_t starts = 0, finishes = 0;
  for (const auto& hit : Hits()) {
    starts += Field(hit, "ea") == "InstallerStartW";
    finishes += Field(hit, "ea") == "InstallerFinishW";
  }
  EXPECT_EQ(starts, 1u);
  EXPECT_EQ(finishes, 1u);
  EXPECT_EQ(ComponentRequests().size(), 1u);
}

TEST_F(InstallTest, MalformedArgumentsDoNotCrash) {
  ServeSuite();
  const auto result = Setup({"/S", "\xFF\xFE/\xC0", "/DELAY=\"", std::string(100000, '/')});
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

}  // namespace
