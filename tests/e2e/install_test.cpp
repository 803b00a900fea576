// Whole installations through the built program (its test build with short waits) against the
// local services on the demo ports: component service and downloads, analytics collector.
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <fstream>

#include "platform/text.h"
#include "tests/support/dev_server.h"
#include "tests/support/fixtures.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include OMK_DEMO_MD5_HEADER

namespace {

namespace fs = std::filesystem;
using TestSupport::DevServer;
using TestSupport::RunProcess;

class InstallTest : public testing::Test {
 protected:
  InstallTest() {
    fs::create_directories(Root() / "tmp");
    fs::permissions(Root() / "tmp", fs::perms::owner_all, fs::perm_options::replace);
    m_env = {{"OMK_REGISTRY_ROOT", (Root() / "registry").string()},
             {"OMK_PROGRAMDATA", (Root() / "programdata").string()},
             {"TMPDIR", (Root() / "tmp").string()},
             {"OMK_DEMO_ARGS_LOG", ArgsLog().string()}};
  }
  const fs::path& Root() const { return m_dir.Path(); }
  fs::path ArgsLog() const { return Root() / "installer-args.txt"; }

  // The services: the component service answers `component` (a JSON record), downloads serve
  // the signed demo product installer, the collector logs hits.
  void Serve(const std::string& md5) {
    const std::string scenario = R"({"routes": [
      {"method": "POST", "path": "/component", "kind": "component", "answer": {"components": [
        {"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/downloads/product.bin", "md5": ")" + md5 + R"("}]}},
      {"path": "/downloads/product.bin", "body_file": ")" OMK_DEMO_PRODUCT R"("},
      {"kind": "collector", "method": "POST", "path": "/collect", "hits_log": ")" + (Root() / "hits.jsonl").string() + R"("}]})";
    TestSupport::DevServerOptions options;
    options.https = true;
    options.httpPort = 47801;
    options.httpsPort = 47802;
    options.cert = OMK_DEMO_PKI "/server.pem";
    options.key = OMK_DEMO_PKI "/server.key";
    m_server = std::make_unique<DevServer>(scenario, options);
  }
  TestSupport::ProcessResult Setup(const std::vector<std::string>& args) {
    return RunProcess(OMK_SETUP_E2E_PATH, args, m_env);
  }
  // The hits the collector received: each a list of name/value pairs, in order.
  std::vector<std::map<std::string, std::string>> Hits() const {
    std::vector<std::map<std::string, std::string>> hits;
    std::ifstream in(Root() / "hits.jsonl");
    for (std::string line; std::getline(in, line);) {
      std::map<std::string, std::string> hit;
      const boost::json::value record = boost::json::parse(line);
      const auto& fields = record.at("hit");
      if (fields.is_object()) {
        for (const auto& [name, value] : fields.as_object()) hit.emplace(name, value.as_string().c_str());
      } else {
        for (const auto& pair : fields.as_array()) {
          hit.emplace(pair.as_array()[0].as_string().c_str(), pair.as_array()[1].as_string().c_str());
        }
      }
      hits.push_back(hit);
    }
    return hits;
  }
  bool HasEvent(const std::string& action, const std::string& value = "") const {
    for (const auto& hit : Hits()) {
      if (hit.count("ea") && hit.at("ea") == action && (value.empty() || (hit.count("ev") && hit.at("ev") == value))) return true;
    }
    return false;
  }

  TestSupport::TempDir m_dir;
  std::map<std::string, std::string> m_env;
  std::unique_ptr<DevServer> m_server;
};

TEST_F(InstallTest, SilentInstallationFromEndToEnd) {
  Serve(OMK_DEMO_FALLBACK_MD5);
  const auto result = Setup({"/S", "/BUILD_ID=12", "/TRACKING=camp aign"});
  EXPECT_EQ(result.exitCode, 0) << result.err;

  // The product installer ran once with the pass-through command line.
  const std::string args = TestSupport::ReadFile(ArgsLog());
  EXPECT_NE(args.find("[/BUILD_ID=12]"), std::string::npos) << args;
  EXPECT_NE(args.find("[/TRACKING=camp aign]"), std::string::npos) << args;
  EXPECT_NE(args.find("[/DELAY=0][/S]"), std::string::npos) << args;
  EXPECT_EQ(std::count(args.begin(), args.end(), '\n'), 1);

  // The funnel as the collector received it.
  ASSERT_FALSE(Hits().empty());
  EXPECT_EQ(Hits().front().count("sc") ? Hits().front().at("sc") : "", "start");
  EXPECT_TRUE(HasEvent("InstallerStartW", "0"));
  EXPECT_TRUE(HasEvent("InstallerSuccessW"));
  EXPECT_TRUE(HasEvent("InstallerFinishW"));
  EXPECT_FALSE(HasEvent("InstallerFailureW"));

  // Nothing left in the temporary folder; the suite is installed with the tracking UID.
  EXPECT_TRUE(fs::is_empty(Root() / "tmp"));
  const auto requests = m_server->Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front().path, "/component");

  // A second run reuses the installed suite's tracking UID and removes the answer file.
  const std::string cid = Hits().front().at("cid");
  const size_t before = Hits().size();  // the collector keeps appending to its log
  const auto again = Setup({"/S"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  ASSERT_GT(Hits().size(), before);
  EXPECT_EQ(Hits()[before].at("cid"), cid);
  EXPECT_FALSE(fs::exists(fs::path(OMK_SETUP_E2E_PATH).parent_path() / "trackingUID.txt"));
}

TEST_F(InstallTest, DigestMismatchNeverStartsTheInstaller) {
  Serve("00000000000000000000000000000000");
  const auto result = Setup({"/S"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(fs::exists(ArgsLog()));
  bool id1 = false;
  for (const auto& hit : Hits()) id1 = id1 || (hit.count("exd") && hit.at("exd").rfind("ID1_", 0) == 0);
  EXPECT_TRUE(id1);
  EXPECT_TRUE(HasEvent("InstallerFailureW"));
  EXPECT_TRUE(fs::is_empty(Root() / "tmp"));
}

TEST_F(InstallTest, MalformedArgumentsDoNotCrash) {
  Serve(OMK_DEMO_FALLBACK_MD5);
  const auto result = Setup({"/S", "\xFF\xFE/\xC0", "/DELAY=\"", std::string(100000, '/')});
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

}  // namespace
