// Installed products: description sources, the three location kinds, product records and
// the version support check.
#include "products/product_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/crypto.h"
#include "platform/environment.h"
#include "products/crypt.h"
#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ProductList;
using TestSupport::Escaped;
using TestSupport::ImportReg;
using TestSupport::MakeExecutable;
using TestSupport::WriteFile;

const std::string kUninstall = R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\)";
const std::string kWowUninstall = R"([HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\)";

std::wstring W(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class ProductListTest : public ::testing::Test {
 protected:
  ProductListTest() {
    m_env.Set("OMK_REGISTRY_ROOT", (Root() / "registry").string())
        .Set("OMK_PROGRAMDATA", (Root() / "pd").string());
  }
  const std::filesystem::path& Root() const { return m_dir.Path(); }
  std::string Dir(const std::string& name) const { return (Root() / name).string(); }
  // A product folder with its main executable.
  std::string Install(const std::string& folder, const std::string& exe,
                      const std::vector<std::pair<std::string, std::string>>& version = {}) {
    MakeExecutable(Root() / folder / exe, version);
    return Dir(folder);
  }
  // A list from the built-in description, with an empty folder for "apps".
  CProductList BuiltIn() const { return CProductList(L"", Root() / "noapps"); }
  static std::string EncryptedDescription(const std::string& json, std::string_view passphrase = Security::kDescriptionPassphrase) {
    return Platform::Aes128CbcEncrypt(Platform::DeriveAes128Key(passphrase), json);
  }

  TestSupport::TempDir m_dir;
  TestSupport::ScopedEnv m_env;
};

TEST_F(ProductListTest, UninstallLocationTakesTheFirstFolderValueElseTheUninstallStringFolder) {
  const std::string omk = Install("omk", "Quarro Omnikit.exe");
  const std::string ts = Install("ts", "TessamTool.exe");
  const std::string vt = Install("vt", "VelotrimTool.exe");
  ImportReg(kUninstall + "Quarro Omnikit]\n\"UninstallString\"=\"" + omk + "/uninstall --quiet\"\n" +
            kUninstall + "Quarro Tessam]\n\"UninstallString\"=\"/elsewhere/unins.exe\"\n\"InstallPath\"=\"\"\n\"INSTDIR\"=\"" + ts + "\"\n" +
            // Only the 32-bit registry knows this one.
            kWowUninstall + "Quarro Velotrim]\n\"UninstallString\"=\"" + Escaped("C:\\x\\unins.exe") + "\"\n\"InstallLocation\"=\"" + vt + "\"\n\"TID\"=\"t-32\"\n" +
            // An uninstall key whose executable is missing.
            kUninstall + "Quarro Halvix]\n\"UninstallString\"=\"" + Dir("hx") + "/unins\"\n" +
            // An UninstallString without any folder.
            kUninstall + "Quarro Brakkon_is1]\n\"UninstallString\"=\"unins.exe\"\n");
  const auto list = BuiltIn();
  ProductInfo product;
  ASSERT_TRUE(list.GetProduct(L"OMK", product));
  EXPECT_EQ(product.location.installFolder, W(omk));
  EXPECT_EQ(product.location.mainExecutable, L"Quarro Omnikit.exe");
  EXPECT_EQ(product.location.keyPath, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quarro Omnikit");
  ASSERT_TRUE(list.GetProduct(L"TS", product));
  EXPECT_EQ(product.location.mainExecutablePath, W(ts) + L"/TessamTool.exe");
  ASSERT_TRUE(list.GetProduct(L"VT", product));
  EXPECT_EQ(product.location.keyPath, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quarro Velotrim");
  EXPECT_EQ(product.tid, L"t-32");
  EXPECT_FALSE(list.IsInstalled(L"QRHX"));
  EXPECT_FALSE(list.IsInstalled(L"BK"));
  EXPECT_FALSE(list.IsInstalled(L"omk"));  // codes are exact

  std::vector<ProductInfo> found;
  list.GetInstalledProducts(found, false);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].productCode, L"OMK");
  EXPECT_EQ(found[1].productCode, L"TS");
  EXPECT_EQ(found[2].productCode, L"VT");
}

TEST_F(ProductListTest, TheRowWithPath32AndPath64IsNeverFound) {
  const std::string folder = Install("qrc", "quarro64.exe");
  MakeExecutable(Root() / "qrc" / "quarro32.exe");
  for (const char* name : {"quarro32.exe", "quarro64.exe", ""}) {
    ImportReg(std::string(R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\)") + name +
              "]\n@=\"" + folder + "/quarro64.exe\"\n");
  }
  EXPECT_FALSE(BuiltIn().IsInstalled(L"QRC"));
}

TEST_F(ProductListTest, PathAndMainFolderLocations) {
  const std::string p = Install("p", "p.bin");
  const std::string m = Install("m", "m.bin");
  m_env.Set("OMK_TEST_FOLDER", p);
  ImportReg(R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\p.bin]
@="%OMK_TEST_FOLDER%/p.bin"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Vendor\M]
"Dir"=")" + m + R"("
[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Ids]
"Id64"="{64}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Vendor\Ids]
"Id32"="{32}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{32}]
"BID"="77"
"OSOURCE"="src"
)");
  auto app = [](const std::string& code, const std::string& location) {
    return R"({"ProductCode":")" + code + R"(","Vendor":"V","ProductName":"N","ProgramDataPath":"",)" + location + "}";
  };
  const std::string mainDir = R"("MainDirLocation":{"MainDirKeyName":"SOFTWARE\\Vendor\\M","MainDirValueName":"Dir","MainExecutable":"m.bin")";
  const std::string json = R"({"Applications":[)" +
      app("P", R"("Other":{}, "PathLocation":{"Path":"p.bin"}, "UninstallLocation":{})") + "," +
      app("M0", mainDir + "}") + "," +
      app("M64", mainDir + R"(,"ProductIDKeyName":"SOFTWARE\\Vendor\\Ids","ProductIDValueName":"Id64"})") + "," +
      app("M32", mainDir + R"(,"ProductIDKeyName":"SOFTWARE\\Vendor\\Ids","ProductIDValueName":"Id32"})") + "," +
      app("MX", R"("MainDirLocation":{"MainDirKeyName":"SOFTWARE\\Vendor\\M","MainDirValueName":"Dir","MainExecutable":"none.bin"})") + "," +
      app("NONE", R"("Elsewhere":{})") + "]}";
  WriteFile(Root() / "desc", EncryptedDescription(json));
  const CProductList list(W(Dir("desc")), Root() / "noapps");
  ProductInfo product;
  ASSERT_TRUE(list.GetProduct(L"P", product));
  EXPECT_EQ(product.location.installFolder, W(p));
  EXPECT_EQ(product.location.mainExecutable, L"p.bin");
  EXPECT_EQ(product.location.keyPath, L"");
  ASSERT_TRUE(list.GetProduct(L"M0", product));
  EXPECT_EQ(product.location.keyPath, L"");
  EXPECT_EQ(product.location.mainExecutablePath, W(m) + L"/m.bin");
  ASSERT_TRUE(list.GetProduct(L"M64", product));
  EXPECT_EQ(product.location.keyPath, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{64}");
  ASSERT_TRUE(list.GetProduct(L"M32", product));
  EXPECT_EQ(product.location.keyPath, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{32}");
  EXPECT_EQ(product.bid, L"77");
  EXPECT_EQ(list.GetProductOSource(L"M32"), L"src");
  EXPECT_EQ(list.GetProductOSource(L"M64"), L"");
  EXPECT_EQ(list.GetProductOSource(L""), L"");
  EXPECT_FALSE(list.IsInstalled(L"MX"));
  EXPECT_FALSE(list.IsInstalled(L"NONE"));
  EXPECT_EQ(list.GetProductCodes(), (std::vector<std::wstring>{L"P", L"M0", L"M64", L"M32", L"MX", L"NONE"}));
}

TEST_F(ProductListTest, ProductRecordCarriesFoldersVersionAndRegistryValues) {
  const std::string folder = Install("omk", "Quarro Omnikit.exe", {{"ProductVersion", "3.10.1.2"}, {"FileVersion", "3.10.1.2"}});
  ImportReg(kUninstall + "Quarro Omnikit]\n\"UninstallString\"=\"" + folder + "/u\"\n\"BID\"=\"12\"\n\"TID\"=\"tr\"\n");
  ProductInfo product;
  ASSERT_TRUE(BuiltIn().GetProduct(L"OMK", product));
  EXPECT_EQ(product.vendor, L"Quarro");
  EXPECT_EQ(product.productName, L"Quarro Omnikit");
  const std::wstring data = W(Dir("pd")) + L"/Quarro/Quarro Omnikit";
  EXPECT_EQ(product.dataFolder, data);
  EXPECT_EQ(product.userDataFolder, data + L"/" + Platform::GetInteractiveUserKey());
  EXPECT_EQ(product.minimumSupportedVersion, L"2.9.0.2");
  EXPECT_EQ(product.productVersion, "3.10.1.2");
  EXPECT_EQ(product.fileTime, std::filesystem::last_write_time(Root() / "omk" / "Quarro Omnikit.exe"));
  EXPECT_EQ(product.bid, L"12");
  EXPECT_EQ(product.tid, L"tr");
  std::set<ProductInfo> set;
  BuiltIn().GetInstalledProducts(set, true);
  EXPECT_EQ(set.size(), 1u);
}

TEST_F(ProductListTest, ParsesVersionsLikeTheFormatScanner) {
  const std::vector<std::pair<std::string, Version>> cases = {
      {"3.3.7.0", {3, 3, 7, 0}},
      {"21.5.0", {21, 5, 0, 0}},
      {"5.1 ( 2600 )", {5, 1, 2600, 0}},
      {"5.1(2600", {5, 1, 2600, 0}},
      {" 1.2.3.4 beta", {1, 2, 3, 4}},
      {"1.2", {-1, -1, -1, -1}},
      {"", {-1, -1, -1, -1}},
      {"a.b.c", {-1, -1, -1, -1}},
      {"1.-2.3", {1, -2, 3, 0}},
      {"4294967295.1.1", {-1, 1, 1, 0}},
      {"99999999999.1.1.1", {-1, 1, 1, 1}},
      {"2147483647.0.0.0", {2147483647, 0, 0, 0}},
  };
  for (const auto& [text, version] : cases) {
    EXPECT_EQ(ParseVersion(text), version) << text;
  }
  EXPECT_FALSE(IsValidVersion(ParseVersion("1.-2.3")));
  EXPECT_TRUE(IsValidVersion(ParseVersion("0.0.0")));
}

TEST_F(ProductListTest, SupportCheckComparesTheFileVersionWithTheMinimum) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> version;
    bool supported;
  };
  const std::vector<Case> cases = {
      {{{"FileVersion", "3.3.7.0"}}, true},
      {{{"FileVersion", "3.3.6.9"}}, false},
      {{{"FileVersion", "3.4"}}, true},
      {{{"FileVersion", "10.0.0.0"}}, true},
      {{{"ProductVersion", "9.9.9.9"}}, false},  // no numeric version
      {{}, false},                               // no version information at all
  };
  const std::string folder = Dir("qrvs");
  ImportReg(kUninstall + "{3E7F9B21-8C4D-4A65-B0E2-6F1D9C3A7B58}]\n\"UninstallString\"=\"" + folder + "/u\"\n" +
            kUninstall + "Quarro Brakkon_is1]\n\"UninstallString\"=\"" + folder + "/u\"\n");
  MakeExecutable(Root() / "qrvs" / "QuarroBrakkon.exe");
  for (const auto& c : cases) {
    MakeExecutable(Root() / "qrvs" / "QuarroVelisso.exe", c.version);
    EXPECT_EQ(BuiltIn().IsVersionSupported(L"QRVS"), c.supported) << (c.version.empty() ? "" : c.version[0].second);
  }
  // Without a minimum any installed version is supported; a product not found never is.
  EXPECT_TRUE(BuiltIn().IsVersionSupported(L"BK"));
  EXPECT_FALSE(BuiltIn().IsVersionSupported(L"OMK"));
  std::vector<ProductInfo> supported;
  BuiltIn().GetInstalledProducts(supported, true);
  ASSERT_EQ(supported.size(), 1u);
  EXPECT_EQ(supported[0].productCode, L"BK");
}

// The "apps" file beside the program decides what counts as installed: one that another user
// owns or may write to is passed over.
TEST_F(ProductListTest, AppsFileCountsOnlyWhenNoOtherUserCouldHaveWrittenIt) {
  const auto apps = Root() / "prog" / "apps";
  WriteFile(apps, EncryptedDescription(R"({"Applications":[{"ProductCode":"TWO"}]})"));
  auto codes = [&] { return CProductList(L"", Root() / "prog").GetProductCodes(); };
  ASSERT_EQ(codes(), std::vector<std::wstring>{L"TWO"});
  const std::vector<std::wstring> builtIn = {L"OMK", L"TS", L"VT", L"BK", L"QRC", L"QRPX", L"QRVS", L"QRHX"};
  struct Case {
    const char* what;
    mode_t mode;
    uid_t owner;  // -1: this process's user
  };
  const Case cases[] = {
      {"writable by the group", 0664, static_cast<uid_t>(-1)},
      {"writable by anyone", 0646, static_cast<uid_t>(-1)},
      {"another user's", 0644, 65534},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(::chmod(apps.c_str(), c.mode), 0);
    if (c.owner != static_cast<uid_t>(-1) && ::geteuid() != 0) GTEST_SKIP() << "changing the owner needs root";
    ASSERT_EQ(::chown(apps.c_str(), c.owner == static_cast<uid_t>(-1) ? ::geteuid() : c.owner, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(codes(), builtIn);
    ASSERT_EQ(::chown(apps.c_str(), ::geteuid(), static_cast<gid_t>(-1)), 0);
  }
  ASSERT_EQ(::chmod(apps.c_str(), 0644), 0);
  EXPECT_EQ(codes(), std::vector<std::wstring>{L"TWO"});
}

TEST_F(ProductListTest, DescriptionComesFromTheGivenFileThenAppsThenTheBuiltInText) {
  const std::string one = R"({"Applications":[{"ProductCode":"ONE"}]})";
  const std::string two = R"({"Applications":[{"ProductCode":"TWO"}]})";
  const std::wstring given = W(Dir("given"));
  const auto apps = Root() / "prog" / "apps";
  auto codes = [&] { return CProductList(given, Root() / "prog").GetProductCodes(); };
  const std::vector<std::wstring> builtIn = {L"OMK", L"TS", L"VT", L"BK", L"QRC", L"QRPX", L"QRVS", L"QRHX"};

  EXPECT_EQ(codes(), builtIn);
  WriteFile(apps, EncryptedDescription(two));
  EXPECT_EQ(codes(), std::vector<std::wstring>{L"TWO"});
  WriteFile(Root() / "given", EncryptedDescription(one));
  EXPECT_EQ(codes(), std::vector<std::wstring>{L"ONE"});

  // Files that do not decrypt or parse are passed over.
  const std::vector<std::string> bad = {
      "", one, EncryptedDescription(one, "wrong passphrase"), EncryptedDescription(one).substr(0, 16),
      EncryptedDescription("{\"Applications\": [ "), EncryptedDescription(std::string(5000, '[') + std::string(5000, ']'))};
  for (const auto& content : bad) {
    WriteFile(Root() / "given", content);
    EXPECT_EQ(codes(), std::vector<std::wstring>{L"TWO"});
  }
  WriteFile(apps, "not encrypted");
  EXPECT_EQ(codes(), builtIn);
  std::filesystem::create_directories(Root() / "dir-as-given");
  EXPECT_EQ(CProductList(W(Dir("dir-as-given")), Root() / "prog").GetProductCodes(), builtIn);

  // A malformed built-in text leaves the list empty; its wrapping is taken off.
  EXPECT_TRUE(CProductList(L"", Root() / "none", "( {\"Applications\": [ )").GetProductCodes().empty());
  EXPECT_EQ(CProductList(L"", Root() / "none", "((( " + two + " )))").GetProductCodes(), std::vector<std::wstring>{L"TWO"});
  EXPECT_TRUE(CProductList(L"", Root() / "none", "{\"Other\":1}").GetProductCodes().empty());
}

}  // namespace
