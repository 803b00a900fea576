// The deployment settings at configure time: a release configure without them, or with a
// malformed one, stops with one message that lists each; given values reach the program's
// Config:: constants exactly (a probe project takes them the way the real build does).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using Settings = std::map<std::string, std::string>;

// Every setting with a well-formed value.
const Settings kGood = {
    {"OMK_COMPONENT_SERVICE_URL", "https://components.quarro.example:8443/component"},
    {"OMK_FALLBACK_URL", "http://download.quarro.example/tools/quarro/setup.bin?v=2"},
    {"OMK_FALLBACK_MD5", "9e107d9d372bb6826bd81d3542a419d6"},
    {"OMK_ANALYTICS_PROPERTY_ID", "UA-61374528-4"},
    {"OMK_ANALYTICS_HOST", "collector.quarro.example"},
    {"OMK_SIGNER_SERIAL", "0C5E3A9127D46B08F14A9C3370B21D65"},
    {"OMK_SIGNER_ISSUER", "Quarro Code Signing CA"},
    {"OMK_SIGNER_SUBJECT", "Quarro Ltd"},
    {"OMK_SIGNER_TRUST_STORE", "/usr/share/quarro/root.pem"},
    {"OMK_LINK_REDIRECT_HOST", "go.quarro.example"},
};

std::vector<std::string> Defines(const Settings& settings) {
  std::vector<std::string> args;
  for (const auto& [name, value] : settings) args.push_back("-D" + name + "=" + value);
  return args;
}

// The settings a failed configure names in its list, and how many errors it reported.
struct Listed {
  std::set<std::string> names;
  int errors = 0;
  std::string text;
};

Listed ListedSettings(const TestSupport::ProcessResult& result) {
  Listed listed;
  listed.text = result.err;
  std::istringstream lines(result.err);
  const std::regex entry(R"(^\s+(OMK_[A-Z0-9_]+): )");
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, entry)) listed.names.insert(m[1]);
    if (line.find("CMake Error") != std::string::npos) ++listed.errors;
  }
  return listed;
}

// Configures the real project with the release preset in a fresh folder.
TestSupport::ProcessResult ConfigureRelease(const std::filesystem::path& dir, const Settings& settings) {
  std::vector<std::string> args = {"-S", OMK_SOURCE_DIR, "--preset", "release", "-B", dir.string()};
  for (auto& d : Defines(settings)) args.push_back(d);
  return TestSupport::RunProcess(OMK_CMAKE, args);
}

TEST(DeploymentSettings, ReleaseWithoutValuesStopsWithOneListOfEveryMissingSetting) {
  TestSupport::TempDir dir;
  const auto result = ConfigureRelease(dir.Path() / "build", {});
  ASSERT_NE(result.exitCode, 0);
  const Listed listed = ListedSettings(result);
  EXPECT_EQ(listed.errors, 1) << listed.text;
  // Every setting without a default, and none of those that have one (port 443, the system's
  // CA bundle, 4 GiB).
  std::set<std::string> expected;
  for (const auto& [name, value] : kGood) expected.insert(name);
  EXPECT_EQ(listed.names, expected) << listed.text;
  EXPECT_NE(listed.text.find("OMK_FALLBACK_MD5: missing (give it or OMK_FALLBACK_FILE"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "build" / "build.ninja"));
}

TEST(DeploymentSettings, MalformedValuesAreListedTogether) {
  TestSupport::TempDir dir;
  const auto fallback = dir.Path() / "setup.bin";
  TestSupport::WriteFile(fallback, "The quick brown fox jumps over the lazy dog");
  struct Case {
    Settings bad;
    std::set<std::string> listed;
  };
  const std::vector<Case> cases = {
      {{{"OMK_FALLBACK_MD5", "9e107d9d372bb6826bd81d3542a419d"},
        {"OMK_SIGNER_SERIAL", "01" + std::string(40, '0')},  // 21 bytes
        {"OMK_ANALYTICS_PROPERTY_ID", "UA-61374528"},
        {"OMK_COMPONENT_SERVICE_URL", "http://components.quarro.example/api"},
        {"OMK_ANALYTICS_PORT", "70000"},
        {"OMK_LINK_REDIRECT_HOST", "go quarro.example"},
        {"OMK_DOWNLOAD_LIMIT", "4GiB"}},
       {"OMK_FALLBACK_MD5", "OMK_SIGNER_SERIAL", "OMK_ANALYTICS_PROPERTY_ID", "OMK_COMPONENT_SERVICE_URL",
        "OMK_ANALYTICS_PORT", "OMK_LINK_REDIRECT_HOST", "OMK_DOWNLOAD_LIMIT"}},
      {{{"OMK_FALLBACK_MD5", "zz107d9d372bb6826bd81d3542a419d6"},
        {"OMK_SIGNER_SERIAL", "00:00"},
        {"OMK_ANALYTICS_PROPERTY_ID", "G-6137452"},
        {"OMK_FALLBACK_URL", "ftp://download.quarro.example/setup.bin"},
        {"OMK_ANALYTICS_HOST", "collector.quarro.example/collect"},
        {"OMK_DOWNLOAD_LIMIT", "0"},
        {"OMK_SIGNER_ISSUER", "Quarro\nCode Signing CA"}},
       {"OMK_FALLBACK_MD5", "OMK_SIGNER_SERIAL", "OMK_ANALYTICS_PROPERTY_ID", "OMK_FALLBACK_URL",
        "OMK_ANALYTICS_HOST", "OMK_DOWNLOAD_LIMIT", "OMK_SIGNER_ISSUER"}},
      // A digest that is not the given file's; a serial that is not hex.
      {{{"OMK_FALLBACK_FILE", fallback.string()}, {"OMK_FALLBACK_MD5", "d41d8cd98f00b204e9800998ecf8427e"},
        {"OMK_SIGNER_SERIAL", "0C5E3A91-27D4"}},
       {"OMK_FALLBACK_MD5", "OMK_SIGNER_SERIAL"}},
      // A fallback file that does not exist and that the build does not make.
      {{{"OMK_FALLBACK_FILE", (dir.Path() / "missing.bin").string()}, {"OMK_FALLBACK_MD5", ""}},
       {"OMK_FALLBACK_FILE"}},
  };
  for (const auto& c : cases) {
    Settings settings = kGood;
    for (const auto& [name, value] : c.bad) settings[name] = value;
    const auto build = dir.Path() / "build";
    std::filesystem::remove_all(build);
    const auto result = ConfigureRelease(build, settings);
    ASSERT_NE(result.exitCode, 0) << result.out;
    const Listed listed = ListedSettings(result);
    EXPECT_EQ(listed.errors, 1) << listed.text;
    EXPECT_EQ(listed.names, c.listed) << listed.text;
  }
}

std::map<std::string, std::string> ParseLines(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

TEST(DeploymentSettings, ValuesReachTheProgramAsGiven) {
  TestSupport::TempDir dir;
  const auto fallback = dir.Path() / "setup.bin";
  TestSupport::WriteFile(fallback, "The quick brown fox jumps over the lazy dog");
  const auto build = dir.Path() / "probe";
  struct Case {
    const char* what;
    Settings given;
    std::map<std::string, std::string> expected;
  };
  const std::vector<Case> cases = {
      {"text that needs escaping, a serial with colons and a sign byte, an upper-case digest",
       {{"OMK_SIGNER_SERIAL", "00:8f:1a:2b:3c:4d:5e:6f:70:81:92:a3:b4:c5:d6:e7:f8:09:1a:2b:3c"},
        {"OMK_SIGNER_ISSUER", R"(Quarro "Code" Signing \ CA)"},
        {"OMK_SIGNER_SUBJECT", "Quarro Überwerk Ltd \xE2\x84\xA2"},
        {"OMK_FALLBACK_MD5", "9E107D9D372BB6826BD81D3542A419D6"},
        {"OMK_FALLBACK_URL", "http://download.quarro.example/setup.bin?a=1&b=%20"},
        {"OMK_SIGNER_TRUST_STORE", "pki/root.pem"}},
       {{"serial", "8F1A2B3C4D5E6F708192A3B4C5D6E7F8091A2B3C"},
        {"issuer", R"(Quarro "Code" Signing \ CA)"},
        {"subject", "Quarro Überwerk Ltd \xE2\x84\xA2"},
        {"fallback_md5", "9e107d9d372bb6826bd81d3542a419d6"},
        {"fallback_url", "http://download.quarro.example/setup.bin?a=1&b=%20"},
        {"trust_store", (build / "pki/root.pem").string()},
        {"service_url", "https://components.quarro.example:8443/component"},
        {"property_id", "UA-61374528-4"},
        {"analytics_host", "collector.quarro.example"},
        {"analytics_port", "443"},
        {"ca_bundle", "/etc/ssl/certs/ca-certificates.crt"},
        {"download_limit", "4294967296"},
        {"profile", "production"}}},
      {"the digest taken from the file, an odd-length serial, numbers with leading zeros",
       {{"OMK_FALLBACK_MD5", ""},
        {"OMK_FALLBACK_FILE", fallback.string()},
        {"OMK_SIGNER_SERIAL", "abc"},
        {"OMK_ANALYTICS_PORT", "08443"},
        {"OMK_DOWNLOAD_LIMIT", "0010485760"}},
       {{"fallback_md5", "9e107d9d372bb6826bd81d3542a419d6"},
        {"serial", "0ABC"},
        {"analytics_port", "8443"},
        {"download_limit", "10485760"}}},
  };
  for (const auto& c : cases) {
    Settings settings = kGood;
    for (const auto& [name, value] : c.given) settings[name] = value;
    std::vector<std::string> args = {"-S", OMK_PROBE_DIR, "-B", build.string(), "-G", "Ninja",
                                     "-DCMAKE_MAKE_PROGRAM=" OMK_MAKE_PROGRAM,
                                     "-DCMAKE_CXX_COMPILER=" OMK_CXX_COMPILER, "-DOMK_SOURCE_DIR=" OMK_SOURCE_DIR};
    for (auto& d : Defines(settings)) args.push_back(d);
    const auto configured = TestSupport::RunProcess(OMK_CMAKE, args);
    ASSERT_EQ(configured.exitCode, 0) << c.what << "\n" << configured.err;
    const auto built = TestSupport::RunProcess(OMK_CMAKE, {"--build", build.string()});
    ASSERT_EQ(built.exitCode, 0) << c.what << "\n" << built.out << built.err;
    const auto printed = TestSupport::RunProcess((build / "print_config").string(), {});
    ASSERT_EQ(printed.exitCode, 0) << c.what;
    const auto values = ParseLines(printed.out);
    for (const auto& [name, value] : c.expected) EXPECT_EQ(values.at(name), value) << c.what << ": " << name;
  }
}

}  // namespace
