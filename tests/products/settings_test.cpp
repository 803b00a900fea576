// Product settings: typed parameter maps, the product classes and their XML and INI files.
#include <gtest/gtest.h>

#include <boost/property_tree/exceptions.hpp>

#include "products/suite_settings.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace ProductSettings;
using boost::any_cast;

// An installed-product list that knows one product with folders in a temp folder.
class FakeProducts : public ProductList::IProductList {
 public:
  FakeProducts(std::wstring code, std::filesystem::path folder) : m_code(std::move(code)), m_folder(std::move(folder)) {}
  bool IsInstalled(const std::wstring& code) const override { return code == m_code; }
  void GetInstalledProducts(std::vector<ProductList::ProductInfo>&, bool) const override {}
  void GetInstalledProducts(std::set<ProductList::ProductInfo>&, bool) const override {}
  bool StartProduct(const std::wstring&, const std::wstring&) const override { return false; }
  bool IsVersionSupported(const std::wstring&) const override { return true; }
  bool GetProduct(const std::wstring& code, ProductList::ProductInfo& product) const override {
    if (code != m_code) return false;
    product.productCode = code;
    product.dataFolder = m_folder.wstring();
    product.userDataFolder = (m_folder / "user").wstring();
    return true;
  }
  std::wstring GetProductOSource(const std::wstring&) const override { return {}; }

 private:
  std::wstring m_code;
  std::filesystem::path m_folder;
};

class SettingsTest : public ::testing::Test {
 protected:
  template <class Settings, class Factory>
  std::shared_ptr<Settings> Make(const std::wstring& code) {
    return std::make_shared<Settings>(std::make_shared<Factory>(std::make_shared<FakeProducts>(code, m_dir.Path())));
  }
  void User(const std::string& file, const std::string& content) { TestSupport::WriteFile(m_dir.Path() / "user" / file, content); }
  void Common(const std::string& file, const std::string& content) { TestSupport::WriteFile(m_dir.Path() / file, content); }
  static std::string Archive(const std::string& element, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<!DOCTYPE boost_serialization>\n"
           "<boost_serialization signature=\"serialization::archive\" version=\"10\">\n<" + element +
           " class_id=\"0\" tracking_level=\"0\" version=\"1\">" + body + "</" + element + ">\n</boost_serialization>\n";
  }
  std::shared_ptr<CVRSettings> VT() { return Make<CVRSettings, CVRSettingsFactory>(L"VT"); }

  TestSupport::TempDir m_dir;
};

template <class V>
V Get(const IParametersSet& set, const std::string& name) {
  return any_cast<V>(set.GetParameter(name));
}
template <class V>
V Nested(const IParametersSet& set, const std::string& record, const std::string& name) {
  return Get<V>(*Get<ParametersSetPtr>(set, record), name);
}

TEST(ParametersSetTest, SetParameterKeepsEachNameToOneExactType) {
  CVRLanguageMgr record;
  EXPECT_TRUE(record.GetParameter("x").empty());
  EXPECT_TRUE(record.SetParameter("flag", true));
  EXPECT_FALSE(record.SetParameter("flag", 1));
  EXPECT_TRUE(Get<bool>(record, "flag"));
  EXPECT_TRUE(record.SetParameter("size", Long{5}));
  EXPECT_FALSE(record.SetParameter("size", 5));
  EXPECT_FALSE(record.SetParameter("size", Int64{5}));
  EXPECT_TRUE(record.SetParameter("size", Long{6}));
  EXPECT_EQ(Get<Long>(record, "size"), 6);
  EXPECT_TRUE(record.SetParameter("flag", false));
  EXPECT_FALSE(Get<bool>(record, "flag"));
}

TEST(ParametersSetTest, CreatesProductsByCodeInAnyLetterCase) {
  EXPECT_TRUE(std::dynamic_pointer_cast<CLMVSettings>(CreateProductSettings("omk")));
  EXPECT_TRUE(std::dynamic_pointer_cast<CVRSettings>(CreateProductSettings("Vt")));
  EXPECT_TRUE(std::dynamic_pointer_cast<CTMSettings>(CreateProductSettings("TS")));
  EXPECT_TRUE(std::dynamic_pointer_cast<CHXSettings>(CreateProductSettings("qhlx")));
  for (const char* code : {"", "QRHX", "OMKX", "BK"}) EXPECT_FALSE(CreateProductSettings(code)) << code;
  EXPECT_FALSE(CreateProductSettings("VT")->IsDirty());
}

TEST_F(SettingsTest, LoadResultsAndTheMapOnFailure) {
  EXPECT_EQ(CVRSettings(nullptr).LoadUserSettings(), kNoFactory);
  EXPECT_EQ((Make<CVRSettings, CVRSettingsFactory>(L"TS")->LoadUserSettings()), kNoFile);  // not installed

  const auto vt = VT();
  ASSERT_TRUE(vt->SetParameter("IsFirstScan", false));
  EXPECT_EQ(vt->LoadUserSettings(), kNoFile);
  Common("CommonSettings.xml", Archive("CommonSettings", "<m_strTrackID><String>tr</String></m_strTrackID>"));
  EXPECT_EQ(vt->LoadUserSettings(), kNoFile);
  EXPECT_EQ(vt->LoadCommonSettings(), kLoaded);
  EXPECT_EQ(Get<std::wstring>(*vt, "TrackID"), L"tr");
  EXPECT_EQ(Get<std::wstring>(*vt, "BuildID"), L"0");

  const std::vector<std::string> unreadable = {
      "", "<boost_serialization><Settings>", "not xml", Archive("CommonSettings", ""),  // no "Settings" element
      "<boost_serialization><Other/></boost_serialization>",
      std::string(100000, '<'), []{ std::string s; for (int i = 0; i < 50000; ++i) s += "<a>"; return s; }()};
  for (const auto& content : unreadable) {
    User("AppSettings.xml", content);
    EXPECT_EQ(vt->LoadUserSettings(), kReadFailed) << content.substr(0, 60);
  }
  EXPECT_FALSE(Get<bool>(*vt, "IsFirstScan"));  // untouched by the failed loads
  EXPECT_EQ(vt->GetParameter("ShowSplash").empty(), true);
}

TEST_F(SettingsTest, EmptyVelotrimSettingsLoadEveryDefault) {
  User("AppSettings.xml", Archive("Settings", ""));
  const auto vt = VT();
  ASSERT_EQ(vt->LoadUserSettings(), kLoaded);
  EXPECT_TRUE(Get<bool>(*vt, "IsFirstScan"));
  EXPECT_FALSE(Get<bool>(*vt, "ScanAfterRun"));
  EXPECT_EQ(Get<int32_t>(*vt, "ScanScalesArithmeticMean"), 0);
  EXPECT_EQ(Get<Int64>(*vt, "OldestDriverAge"), 0);
  EXPECT_EQ(Get<std::wstring>(*vt, "TrackingUID"), L"");
  EXPECT_EQ(Nested<std::wstring>(*vt, "LanguageInfo", "CurrentLanguageFile"), L"English.xml");
  EXPECT_EQ(Nested<Long>(*vt, "EmbeddedBrowserSize", "Height"), 480);
  EXPECT_EQ(Nested<Long>(*vt, "EmbeddedBrowserSize", "Width"), 640);
  EXPECT_EQ(Nested<int16_t>(*vt, "GeneralSettings", "FrequencyScanning"), 3);
  EXPECT_EQ(Nested<Int64>(*vt, "GeneralSettings", "LastScan"), 0);
  // Lists whose elements are absent are present as empty handles.
  EXPECT_FALSE(Get<RecordSetPtr>(*vt, "ExcludeList"));
  EXPECT_FALSE(Get<RecordVectorPtr>(*vt, "UpdatesInfo"));
  EXPECT_EQ(vt->GetParameter("BuildID").empty(), true);  // the common file was not read
}

TEST_F(SettingsTest, VelotrimValuesListsAndConversionFailures) {
  User("AppSettings.xml", Archive("Settings", R"(
    <IsFirstScan>0</IsFirstScan>
    <ScanAfterRun>maybe</ScanAfterRun>
    <AutoDownload>false</AutoDownload>
    <OutOfDateItems>12x</OutOfDateItems>
    <DriverUpdated> 7 </DriverUpdated>
    <LanguageManager class_id="3"><CurrentLanguage><String>Deutsch.xml</String></CurrentLanguage></LanguageManager>
    <EmbeddedBrowser><Height>3000000000</Height><Width>1024</Width></EmbeddedBrowser>
    <ExcludeList><px><ExcludeList><count>2</count><item><String>a</String></item><item><String>b</String></item></ExcludeList></px></ExcludeList>
    <UpdatesInfo><count>3</count>
      <item><Name><String>n1</String></Name><DriverAge>1</DriverAge></item>
      <item><Name><String>n2</String></Name><Domain><String>d2</String></Domain></item>
      <item><Name><String>n3</String></Name><DriverAge>-3</DriverAge></item>
    </UpdatesInfo>
    <GeneralSettings><FrequencyScanning>70000</FrequencyScanning><LastScan>1700000000000</LastScan></GeneralSettings>
    <m_trackingUID><String> uid with blanks </String></m_trackingUID>)"));
  const auto vt = VT();
  ASSERT_EQ(vt->LoadUserSettings(), kLoaded);
  EXPECT_FALSE(Get<bool>(*vt, "IsFirstScan"));
  EXPECT_FALSE(Get<bool>(*vt, "ScanAfterRun"));  // not a boolean: the default
  EXPECT_FALSE(Get<bool>(*vt, "AutoDownload"));
  EXPECT_EQ(Get<int32_t>(*vt, "OutOfDateDriversCount"), 0);
  EXPECT_EQ(Get<int32_t>(*vt, "UpdatedDriverCount"), 7);
  EXPECT_EQ(Get<std::wstring>(*vt, "TrackingUID"), L" uid with blanks ");
  EXPECT_EQ(Nested<std::wstring>(*vt, "LanguageInfo", "CurrentLanguageFile"), L"Deutsch.xml");
  EXPECT_EQ(Nested<Long>(*vt, "EmbeddedBrowserSize", "Height"), 480);  // beyond 32 bits: the default
  EXPECT_EQ(Nested<Long>(*vt, "EmbeddedBrowserSize", "Width"), 1024);
  EXPECT_EQ(Nested<int16_t>(*vt, "GeneralSettings", "FrequencyScanning"), 3);
  EXPECT_EQ(Nested<Int64>(*vt, "GeneralSettings", "LastScan"), 1700000000000);

  std::set<std::wstring> excluded;
  for (const auto& entry : *Get<RecordSetPtr>(*vt, "ExcludeList")) excluded.insert(Get<std::wstring>(*entry, "ExcludeList"));
  EXPECT_EQ(excluded, (std::set<std::wstring>{L"a", L"b"}));
  const auto updates = Get<RecordVectorPtr>(*vt, "UpdatesInfo");
  ASSERT_EQ(updates->size(), 3u);
  EXPECT_EQ(Get<std::wstring>(*(*updates)[0], "UpdateName"), L"n1");
  EXPECT_EQ(Get<int32_t>(*(*updates)[0], "DriverAge"), 1);
  EXPECT_EQ(Get<std::wstring>(*(*updates)[1], "UpdateDomain"), L"d2");
  EXPECT_EQ(Get<std::wstring>(*(*updates)[1], "UpdateTypeName"), L"");
  EXPECT_EQ(Get<int32_t>(*(*updates)[2], "DriverAge"), -3);

  // A list element without entries stores nothing, so an earlier list stays.
  User("AppSettings.xml", Archive("Settings", "<UpdatesInfo><count>0</count></UpdatesInfo>"));
  ASSERT_EQ(vt->LoadUserSettings(), kLoaded);
  EXPECT_EQ(Get<RecordVectorPtr>(*vt, "UpdatesInfo")->size(), 3u);
  EXPECT_FALSE(Get<RecordSetPtr>(*vt, "ExcludeList"));
}

TEST_F(SettingsTest, TessamAndHalvixFiles) {
  User("Settings.xml", Archive("Settings", R"(
    <m_mpStatesOfScanCheckboxes><item><first>4</first><second>1</second></item></m_mpStatesOfScanCheckboxes>
    <LastScanInfo><ErrorsRemaining>9</ErrorsRemaining></LastScanInfo>
    <PurchaseBrowserInfo><PurchaseBrowserX>800</PurchaseBrowserX><PurchaseURL>https://x/?a=1&amp;b=2</PurchaseURL></PurchaseBrowserInfo>)"));
  Common("CommonSettings.xml", Archive("CommonSettings", "<m_strBuildID><String>1234</String></m_strBuildID>"));
  const auto ts = Make<CTMSettings, CTMSettingsFactory>(L"TS");
  ASSERT_EQ(ts->LoadUserSettings(), kLoaded);
  ASSERT_EQ(ts->LoadCommonSettings(), kLoaded);
  EXPECT_EQ(Nested<Long>(*ts, "PurchaseBrowserInfo", "PurchaseBrowserWidth"), 800);
  EXPECT_EQ(Nested<Long>(*ts, "PurchaseBrowserInfo", "PurchaseBrowserHeight"), 480);
  EXPECT_EQ(Nested<std::wstring>(*ts, "PurchaseBrowserInfo", "PurchaseBrowserUrl"), L"https://x/?a=1&b=2");
  EXPECT_EQ(Nested<uint32_t>(*ts, "LastScanInfo", "ErrorsRemaining"), 9u);
  EXPECT_EQ(Nested<int32_t>(*ts, "LastScanInfo", "LastScreenAfterScan"), 3);
  EXPECT_EQ(Nested<std::wstring>(*ts, "LanguageInfo", "CurrentLanguageFile"), L"English.xml");
  const auto boxes = Get<RecordVectorPtr>(*ts, "ScanCheckboxesStates");
  ASSERT_EQ(boxes->size(), 1u);
  EXPECT_EQ(Get<int32_t>(*boxes->front(), "checkBoxIndex"), 4);
  EXPECT_TRUE(Get<bool>(*boxes->front(), "checkBoxState"));
  EXPECT_EQ(Get<std::wstring>(*ts, "BuildID"), L"1234");

  User("settings.xml", Archive("Settings", "<m_propMetrictUID><m_prop><String>m-1</String></m_prop></m_propMetrictUID>"));
  const auto hx = Make<CHXSettings, CHXSettingsFactory>(L"QRHX");
  ASSERT_EQ(hx->LoadUserSettings(), kLoaded);
  EXPECT_EQ(Get<std::wstring>(*hx, "MetricUID"), L"m-1");
  EXPECT_EQ(Get<std::wstring>(*hx, "CurrentLanguageFile"), L"English.xml");
  EXPECT_TRUE(Get<bool>(*hx, "UsageTracking"));
  EXPECT_EQ(hx->LoadCommonSettings(), kNoFile);
}

TEST_F(SettingsTest, ResetToDefaultsFillsBothRecords) {
  const auto omk = Make<CLMVSettings, CLMVSettingsFactory>(L"OMK");
  ASSERT_TRUE(omk->SetParameter("Stale", 1));
  ASSERT_TRUE(omk->LoadDefaults());
  EXPECT_TRUE(omk->GetParameter("Stale").empty());
  EXPECT_EQ(omk->Parameters().size(), 14u);
  EXPECT_EQ(Get<std::wstring>(*omk, "CurrentLanguageFile"), L"English");
  EXPECT_FALSE(Get<bool>(*omk, "allScannersStarts"));
  EXPECT_EQ(Get<std::wstring>(*omk, "BuildID"), L"0");
  const auto vt = VT();
  ASSERT_TRUE(vt->ResetToDefaults());
  EXPECT_EQ(vt->Parameters().size(), 25u + 2u);
  EXPECT_EQ(Get<std::wstring>(*vt, "BuildID"), L"0");
  EXPECT_EQ(Nested<Long>(*vt, "EmbeddedBrowserSize", "Width"), 640);
}

TEST_F(SettingsTest, SuiteIniNeedsEveryKeyInItsSection) {
  const std::string full =
      "[Common]\nlanguage=Deutsch\nsplashShow=false\ncreateSystemRestorePoints=1\nshowScanInProgressDialog=true\n"
      "showOptimizeConfirmDialog=true\nenableScheduledTasks=0\nenableCheckUpdatesOnStartup=true\n"
      "allScannersStarts=true\nenableTracking=true\ntrackingUid={ABC-123}\nallowOffers=false\n";
  const auto omk = Make<CLMVSettings, CLMVSettingsFactory>(L"OMK");
  EXPECT_EQ(omk->LoadUserSettings(), kNoFile);
  User("Lumevo.ini", full);
  ASSERT_EQ(omk->LoadUserSettings(), kLoaded);
  EXPECT_EQ(Get<std::wstring>(*omk, "TrackingUID"), L"{ABC-123}");
  EXPECT_EQ(Get<std::wstring>(*omk, "CurrentLanguageFile"), L"Deutsch");
  EXPECT_FALSE(Get<bool>(*omk, "ShowSplash"));
  EXPECT_FALSE(Get<bool>(*omk, "enableScheduledTasks"));
  EXPECT_TRUE(omk->GetParameter("BuildID").empty());

  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = full;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::vector<std::string> failing = {
      replaced("trackingUid={ABC-123}\n", ""),                             // missing key
      replaced("trackingUid={ABC-123}\n", "") + "[Other]\ntrackingUid=x\n",  // in another section
      replaced("splashShow=false", "splashShow=sometimes"),                // does not convert
      replaced("[Common]", "[Common"),                                     // malformed
      full + "language=again\n",                                           // duplicate key
      "",
  };
  for (const auto& text : failing) {
    User("Lumevo.ini", text);
    EXPECT_THROW(omk->LoadUserSettings(), boost::property_tree::ptree_error) << text;
    EXPECT_EQ(Get<std::wstring>(*omk, "TrackingUID"), L"{ABC-123}");  // the map keeps its values
  }

  Common("Lumevo.ini", "[Shared]\nbuildId=55\ntrackId=t\nOldUid=\n");
  ASSERT_EQ(omk->LoadCommonSettings(), kLoaded);
  EXPECT_EQ(Get<std::wstring>(*omk, "BuildID"), L"55");
  EXPECT_EQ(Get<std::wstring>(*omk, "OldUID"), L"");
}

}  // namespace
