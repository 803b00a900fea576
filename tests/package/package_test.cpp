// The Debian package: its control data, exactly the files it installs with their owners and
// modes, and the unpacked program, which must run with the libraries it declares.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using TestSupport::RunProcess;

std::string Output(const std::string& program, const std::vector<std::string>& args) {
  const auto result = RunProcess(program, args);
  EXPECT_EQ(result.exitCode, 0) << program << ": " << result.err;
  return result.out;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// The names of the packages in a Depends field ("a (>= 1), b | c").
std::set<std::string> DependencyNames(const std::string& depends) {
  std::set<std::string> names;
  const std::regex name(R"((^|[,|])\s*([a-z0-9][a-z0-9.+-]*))");
  for (std::sregex_iterator it(depends.begin(), depends.end(), name), end; it != end; ++it) names.insert((*it)[2]);
  return names;
}

TEST(Package, ControlDataNamesTheProgramAndEveryLibraryItNeeds) {
  const std::string deb = OMK_PACKAGE;
  EXPECT_EQ(Trimmed(Output(OMK_DPKG_DEB, {"-f", deb, "Package"})), "omk-setup");
  EXPECT_EQ(Trimmed(Output(OMK_DPKG_DEB, {"-f", deb, "Version"})), "3.10.1.2");
  EXPECT_EQ(Trimmed(Output(OMK_DPKG_DEB, {"-f", deb, "Architecture"})), "amd64");
  EXPECT_EQ(std::filesystem::path(deb).filename(), "omk-setup_3.10.1.2_amd64.deb");
  const auto depends = DependencyNames(Output(OMK_DPKG_DEB, {"-f", deb, "Depends"}));

  TestSupport::TempDir root;
  Output(OMK_DPKG_DEB, {"-x", deb, root.Path().string()});
  const auto program = root.Path() / "usr/bin/omk-setup";
  const std::string dynamic = Output(OMK_READELF, {"-d", "--wide", program.string()});
  // The libraries of the program and the packages that carry them: each one the program
  // needs must be a dependency; libcurl and OpenSSL are always needed. GTK and WebKitGTK are
  // loaded only when a window shows: never needed at start, always dependencies.
  enum class Need { Always, Maybe, Late };
  struct Library {
    const char* soname;
    const char* package;
    Need need;
  };
  for (const Library& lib : {Library{"libcurl.so.4", "libcurl4", Need::Always}, Library{"libssl.so.3", "libssl3", Need::Maybe},
                             Library{"libcrypto.so.3", "libssl3", Need::Always},
                             Library{"libwebkit2gtk-4.1.so.0", "libwebkit2gtk-4.1-0", Need::Late},
                             Library{"libgtk-3.so.0", "libgtk-3-0", Need::Late},
                             Library{"libglib-2.0.so.0", "libglib2.0-0", Need::Late},
                             Library{"libc.so.6", "libc6", Need::Always}}) {
    const bool needed = dynamic.find(std::string("[") + lib.soname + "]") != std::string::npos;
    if (lib.need == Need::Always) {
      EXPECT_TRUE(needed) << lib.soname;
    }
    if (lib.need == Need::Late) {
      EXPECT_FALSE(needed) << lib.soname << " is loaded at every start";
    }
    if (needed || lib.need == Need::Late) {
      EXPECT_TRUE(depends.count(lib.package)) << lib.package << " missing from Depends";
    }
  }
  // Stripped: no symbol table, no debug information.
  const std::string sections = Output(OMK_READELF, {"-S", "--wide", program.string()});
  EXPECT_EQ(sections.find(".symtab"), std::string::npos);
  EXPECT_EQ(sections.find(".debug_"), std::string::npos);
}

TEST(Package, InstallsOnlyTheProgramAndItsFolders) {
  const std::string listing = Output(OMK_DPKG_DEB, {"-c", OMK_PACKAGE});
  std::map<std::string, std::string> entries;  // path -> "mode owner"
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, path;
    fields >> mode >> owner >> size >> date >> time >> path;
    entries[path] = mode + " " + owner;
  }
  const std::string dir = "drwxr-xr-x root/root";
  const std::map<std::string, std::string> expected = {
      {"./usr/", dir},
      {"./usr/bin/", dir},
      {"./usr/bin/omk-setup", "-rwxr-xr-x root/root"},
      {"./var/", dir},
      {"./var/lib/", dir},
      // The file-backed registry's root and the suite's ProgramData folder: only root writes.
      {"./var/lib/omk/", dir},
      {"./var/lib/omk/registry/", dir},
      {"./var/lib/Quarro/", dir},
  };
  EXPECT_EQ(entries, expected) << listing;
}

// The unpacked program answers "-extractTrackingUID" from an installed suite: it loads with
// the package's declared libraries and runs its start-up.
TEST(Package, UnpackedProgramRunsItsExtractMode) {
  TestSupport::TempDir dir;
  Output(OMK_DPKG_DEB, {"-x", OMK_PACKAGE, (dir.Path() / "root").string()});
  const auto registry = dir.Path() / "registry";
  const auto programData = dir.Path() / "pd";
  {
    TestSupport::ScopedEnv env;
    env.Set("OMK_REGISTRY_ROOT", registry.string());
    TestSupport::ImportReg(R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quarro Omnikit]
"UninstallString"=")" + TestSupport::Escaped((dir.Path() / "suite" / "uninstall").string()) + "\"\n");
  }
  TestSupport::MakeExecutable(dir.Path() / "suite" / "Quarro Omnikit.exe");
  TestSupport::WriteFile(TestSupport::SuiteSettingsPath(programData),
                         TestSupport::SuiteSettingsIni("trackingUid={5A6B-7C8D}\n"));
  const auto answer = dir.Path() / "trackingUID.txt";
  const auto result = RunProcess((dir.Path() / "root/usr/bin/omk-setup").string(),
                                 {"-extractTrackingUID=" + answer.string()},
                                 {{"OMK_REGISTRY_ROOT", registry.string()}, {"OMK_PROGRAMDATA", programData.string()}});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(TestSupport::ReadFile(answer), "{5A6B-7C8D}");
}

}  // namespace
