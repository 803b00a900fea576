#include "products/suite_settings.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <climits>
#include <fstream>
#include <sstream>

#include "platform/text.h"
#include "products/input_limits.h"

namespace ProductSettings {

using boost::property_tree::ptree;
using T = EValueType;

namespace {

// Settings files are small; anything larger is not one.
constexpr std::streamsize kMaxSettingsFileSize = 16 << 20;

template <class R>
std::shared_ptr<CSettingsRecord> Make() {
  return std::make_shared<R>();
}

FieldSpec Flag(const char* path, const char* name, bool value) { return {path, name, T::Bool, value}; }
FieldSpec Number(const char* path, const char* name, T type, long long value) { return {path, name, type, value}; }
FieldSpec Text(const char* path, const char* name, const wchar_t* value = L"") {
  return {path, name, T::Text, 0, value};
}
FieldSpec Nested(const char* path, const char* name, T type, RecordFactory record) {
  return {path, name, type, 0, L"", record};
}

const std::vector<FieldSpec> kXmlCommonFields = {
    Text("m_strBuildID.String", "BuildID", L"0"),
    Text("m_strTrackID.String", "TrackID"),
};

const std::vector<FieldSpec> kVRLanguageMgrFields = {
    Text("CurrentLanguage.String", "CurrentLanguageFile", L"English.xml"),
};
const std::vector<FieldSpec> kSizeFields = {
    Number("Height", "Height", T::Long, 480),
    Number("Width", "Width", T::Long, 640),
};
const std::vector<FieldSpec> kVRExcludeListFields = {
    Text("String", "ExcludeList"),
};
const std::vector<FieldSpec> kVRUpdateInfoFields = {
    Text("Name.String", "UpdateName"),
    Text("TypeName.String", "UpdateTypeName"),
    Text("Domain.String", "UpdateDomain"),
    Number("DriverAge", "DriverAge", T::Int32, 0),
};
const std::vector<FieldSpec> kVRGeneralSettingsFields = {
    Flag("Startup", "Startup", true),
    Flag("Autoscan", "AutoScan", true),
    Number("LastScan", "LastScan", T::Int64, 0),
    Number("FrequencyScanning", "FrequencyScanning", T::Int16, 3),
};
const std::vector<FieldSpec> kVRUserFields = {
    Flag("IsFirstScan", "IsFirstScan", true),
    Nested("LanguageManager", "LanguageInfo", T::Record, &Make<CVRLanguageMgr>),
    Flag("ScanAfterRun", "ScanAfterRun", false),
    Flag("AutoDownload", "AutoDownload", true),
    Flag("AutoInstall", "AutoInstall", true),
    Number("OutOfDateItems", "OutOfDateDriversCount", T::Int32, 0),
    Number("DriverUpdated", "UpdatedDriverCount", T::Int32, 0),
    Number("ScanScalesArithmeticMean", "ScanScalesArithmeticMean", T::Int32, 0),
    Nested("EmbeddedBrowser", "EmbeddedBrowserSize", T::Record, &Make<Size>),
    Nested("ExcludeList.px.ExcludeList", "ExcludeList", T::RecordSet, &Make<CVRExcludeList>),
    Nested("UpdatesInfo", "UpdatesInfo", T::RecordVector, &Make<CVRUpdateInfo>),
    Flag("ShowSplash", "ShowSplash", true),
    Text("OldUID.String", "OldUID"),
    Flag("FirstRun", "FirstAppLaunch", true),
    Nested("GeneralSettings", "GeneralSettings", T::Record, &Make<CVRGeneralSettings>),
    Flag("m_bHidePopups", "HidePopups", false),
    Text("m_strDriversPath.String", "DriversPath"),
    Text("m_strBackupsPath.String", "BackupsPath"),
    Flag("m_bDeliverRecommendedDrivers", "DeliverRecomended", true),
    Number("time", "OldestDriverAge", T::Int64, 0),
    Flag("m_bStartMinimizedOnAutostart", "StartMinimizedOnAutoStart", false),
    Flag("m_bCreateRP", "CreateRP", true),
    Flag("ShowNotificationsAllowed", "ShowServerNotifications", true),
    Flag("m_usageTracking", "EnableTracking", true),
    Text("m_trackingUID.String", "TrackingUID"),
};

const std::vector<FieldSpec> kCheckboxStateFields = {
    Number("first", "checkBoxIndex", T::Int32, 0),
    Flag("second", "checkBoxState", false),
};
const std::vector<FieldSpec> kLastScanFields = {
    Number("LastScan", "LastScanTime", T::Int64, 0),
    Number("ErrorsRemaining", "ErrorsRemaining", T::UInt32, 0),
    Flag("ShowRemainingErrors", "ShowRemainingErrors", false),
    Number("LastScreenAfterScan", "LastScreenAfterScan", T::Int32, 3),
    Flag("ScanWithoutFixPerformed", "ScanWithoutFixPerformed", false),
};
const std::vector<FieldSpec> kTMLanguageMgrFields = {
    Text("Language.String", "CurrentLanguageFile", L"English.xml"),
};
const std::vector<FieldSpec> kPurchaseBrowserFields = {
    Text("PurchaseType", "PurchaseBrowserType"),
    Text("PurchaseURL", "PurchaseBrowserUrl"),
    Text("PurchaseTitle", "PurchaseBrowserTitle"),
    Number("PurchaseBrowserX", "PurchaseBrowserWidth", T::Long, 640),
    Number("PurchaseBrowserY", "PurchaseBrowserHeight", T::Long, 480),
};
const std::vector<FieldSpec> kTMUserFields = {
    Nested("m_mpStatesOfScanCheckboxes", "ScanCheckboxesStates", T::RecordVector, &Make<CCheckboxState>),
    Flag("m_bHidePopups", "HidePopups", false),
    Flag("MinimazeToTray", "MinimizeToTray", true),
    Flag("RunAtStartUp", "RunAtStartup", true),
    Flag("FirstScan", "IsFirstScan", true),
    Number("FixedToDate", "FixedErrorsCount", T::Int32, 0),
    Flag("FirstScanCanceled", "IsFirstScanCanceled", false),
    Nested("LastScanInfo", "LastScanInfo", T::Record, &Make<CLastScanSettings>),
    Nested("LanguageInfo", "LanguageInfo", T::Record, &Make<CTMLanguageMgr>),
    Nested("PurchaseBrowserInfo", "PurchaseBrowserInfo", T::Record, &Make<CPurchaseBrowserInfo>),
    Flag("ShowSplashScreen", "ShowSplash", true),
    Flag("OptimizeCompleted", "OptimizeCompleted", false),
    Number("NumOfOptimizedKey", "OptimizedKeysCount", T::Int32, 0),
    Number("OriginalSize", "OriginalSize", T::Int32, 0),
    Number("OptimizedSize", "OptimizedSize", T::Int32, 0),
    Text("OldUID.String", "OldUID"),
    Flag("FirstStart", "FirstAppLaunch", true),
    Flag("m_bCreateSR", "CreateSR", true),
    Flag("m_bStartMinimizedOnAutostart", "StartMinimizedOnAutoStart", false),
    Flag("m_bShowNotificationsAllowed", "ShowServerNotifications", true),
    Text("m_trackingUID.String", "TrackingUID"),
    Flag("m_usageTracking", "EnableTracking", true),
};

const std::vector<FieldSpec> kHXUserFields = {
    Flag("m_propMonitorInstallations.m_prop", "MonitorInstallations", true),
    Flag("m_propCheckForUpdatesOnStart.m_prop", "CheckForUpdatesOnStart", true),
    Text("m_propLanguage.m_prop.String", "CurrentLanguageFile", L"English.xml"),
    Flag("m_propFirstRun.m_prop", "FirstRun", true),
    Flag("m_propFirstMinimizeScanDialog.m_prop", "FirstMinimizeScanDialog", true),
    Flag("m_propRunOnStartUpFlag.m_prop", "RunOnStartUp", true),
    Number("m_propLastScanTime.m_prop", "LastScanTime", T::Int64, 0),
    Flag("m_propShowMonitorStateMsg.m_prop", "ShowMonitorStateMsg", true),
    Text("m_propMetrictUID.m_prop.String", "MetricUID"),
    Flag("m_propUsageTracking.m_prop", "UsageTracking", true),
};

const std::vector<FieldSpec> kLMVUserFields = {
    Text("Common.language", "CurrentLanguageFile", L"English"),
    Flag("Common.splashShow", "ShowSplash", true),
    Flag("Common.createSystemRestorePoints", "createSystemRestorePoints", true),
    Flag("Common.showScanInProgressDialog", "showScanInProgressDialog", true),
    Flag("Common.showOptimizeConfirmDialog", "showOptimizeConfirmDialog", true),
    Flag("Common.enableScheduledTasks", "enableScheduledTasks", true),
    Flag("Common.enableCheckUpdatesOnStartup", "enableCheckUpdatesOnStartup", true),
    Flag("Common.allScannersStarts", "allScannersStarts", false),
    Flag("Common.enableTracking", "EnableTracking", true),
    Text("Common.trackingUid", "TrackingUID"),
    Flag("Common.allowOffers", "ShowServerNotifications", true),
};
const std::vector<FieldSpec> kLMVCommonFields = {
    Text("Shared.buildId", "BuildID", L"0"),
    Text("Shared.trackId", "TrackID"),
    Text("Shared.OldUid", "OldUID"),
};

template <class V>
boost::any Converted(const ptree& tree, const FieldSpec& field, bool strict) {
  if (strict) return boost::any(tree.get<V>(field.path));
  const auto value = tree.get_optional<V>(field.path);
  return boost::any(value ? *value : static_cast<V>(field.number));
}

// A scalar value of the field's type; throws only when strict.
boost::any ReadScalar(const ptree& tree, const FieldSpec& field, bool strict) {
  switch (field.type) {
    case T::Bool:
      if (strict) return boost::any(tree.get<bool>(field.path));
      return boost::any(tree.get_optional<bool>(field.path).value_or(field.number != 0));
    case T::Int16: return Converted<int16_t>(tree, field, strict);
    case T::Int32: return Converted<int32_t>(tree, field, strict);
    case T::UInt32: return Converted<uint32_t>(tree, field, strict);
    case T::Int64: return Converted<Int64>(tree, field, strict);
    case T::Long: {
      // Kept within 32 bits, the size of a long where the files are written.
      const boost::any value = Converted<Long>(tree, field, strict);
      const Long number = boost::any_cast<Long>(value);
      if (number >= INT32_MIN && number <= INT32_MAX) return value;
      if (strict) throw boost::property_tree::ptree_bad_data("value out of range", number);
      return boost::any(static_cast<Long>(field.number));
    }
    case T::Text: {
      if (strict) return boost::any(Platform::Utf8ToWide(tree.get<std::string>(field.path)));
      const auto text = tree.get_optional<std::string>(field.path);
      return boost::any(text ? Platform::Utf8ToWide(*text) : std::wstring(field.text));
    }
    default: return {};
  }
}

}  // namespace

// ---- records ----

bool CSettingsRecord::LoadDefaults() {
  ReadLenient(ptree());
  return true;
}

void CSettingsRecord::ReadLenient(const ptree& tree) {
  for (const auto& field : m_fields) {
    if (field.type == T::Record) {
      const auto child = tree.get_child_optional(field.path);
      const auto record = field.record();
      if (child) {
        record->ReadLenient(*child);
      } else {
        record->LoadDefaults();
      }
      m_parameters[field.name] = ParametersSetPtr(record);
    } else if (field.type == T::RecordSet || field.type == T::RecordVector) {
      const auto child = tree.get_child_optional(field.path);
      RecordVector records;
      if (child) {
        for (const auto& [name, item] : *child) {
          if (name != "item") continue;
          const auto record = field.record();
          record->ReadLenient(item);
          records.push_back(record);
        }
      }
      if (child && records.empty()) continue;  // an element without entries stores nothing
      if (field.type == T::RecordSet) {
        m_parameters[field.name] = child ? std::make_shared<RecordSet>(records.begin(), records.end()) : RecordSetPtr();
      } else {
        m_parameters[field.name] = child ? std::make_shared<RecordVector>(std::move(records)) : RecordVectorPtr();
      }
    } else {
      m_parameters[field.name] = ReadScalar(tree, field, false);
    }
  }
}

void CSettingsRecord::ReadStrict(const ptree& tree) {
  for (const auto& field : m_fields) m_parameters[field.name] = ReadScalar(tree, field, true);
}

#define OMK_RECORD_FIELDS(Name, fields) \
  Name::Name() : CSettingsRecord(fields) {}
OMK_RECORD_FIELDS(CVRCommonSettings, kXmlCommonFields)
OMK_RECORD_FIELDS(CTMCommonSettings, kXmlCommonFields)
OMK_RECORD_FIELDS(CHXCommonSettings, kXmlCommonFields)
OMK_RECORD_FIELDS(CVRUserSettings, kVRUserFields)
OMK_RECORD_FIELDS(CVRLanguageMgr, kVRLanguageMgrFields)
OMK_RECORD_FIELDS(Size, kSizeFields)
OMK_RECORD_FIELDS(CVRExcludeList, kVRExcludeListFields)
OMK_RECORD_FIELDS(CVRUpdateInfo, kVRUpdateInfoFields)
OMK_RECORD_FIELDS(CVRGeneralSettings, kVRGeneralSettingsFields)
OMK_RECORD_FIELDS(CTMUserSettings, kTMUserFields)
OMK_RECORD_FIELDS(CCheckboxState, kCheckboxStateFields)
OMK_RECORD_FIELDS(CLastScanSettings, kLastScanFields)
OMK_RECORD_FIELDS(CTMLanguageMgr, kTMLanguageMgrFields)
OMK_RECORD_FIELDS(CPurchaseBrowserInfo, kPurchaseBrowserFields)
OMK_RECORD_FIELDS(CHXUserSettings, kHXUserFields)
OMK_RECORD_FIELDS(CLMVCurrentUserSettings, kLMVUserFields)
OMK_RECORD_FIELDS(CLMVCommonSettings, kLMVCommonFields)
#undef OMK_RECORD_FIELDS

// ---- factories ----

CSettingsFactoryBase::CSettingsFactoryBase(std::string productCode, std::wstring userFile, std::wstring userTag,
                                           std::wstring commonFile, std::wstring commonTag,
                                           std::shared_ptr<ProductList::IProductList> products)
    : m_productCode(std::move(productCode)),
      m_userFile(std::move(userFile)),
      m_userTag(std::move(userTag)),
      m_commonFile(std::move(commonFile)),
      m_commonTag(std::move(commonTag)),
      m_products(std::move(products)) {}

SettingsStreams CSettingsFactoryBase::OpenSettingsStreams() {
  SettingsStreams streams;
  const auto products = m_products ? m_products : std::make_shared<ProductList::CProductList>(L"");
  ProductList::ProductInfo product;
  if (!products->GetProduct(Platform::Utf8ToWide(m_productCode), product)) return streams;
  auto open = [&](const std::wstring& folder, const std::wstring& file, const std::wstring& tag) {
    if (folder.empty()) return;
    const std::filesystem::path path(Platform::WideToUtf8(folder + L"/" + file));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return;
    // Read-only: nothing here writes settings, and a read-only file must still be readable.
    auto stream = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (stream->good()) streams[tag] = stream;
  };
  open(product.userDataFolder, m_userFile, m_userTag);
  open(product.dataFolder, m_commonFile, m_commonTag);
  return streams;
}

CVRSettingsFactory::CVRSettingsFactory(std::shared_ptr<ProductList::IProductList> products)
    : CSettingsFactoryBase("VT", L"AppSettings.xml", L"VR_CURRENT_USER_SETTINGS", L"CommonSettings.xml",
                           L"VR_COMMON_SETTINGS", std::move(products)) {}
CTMSettingsFactory::CTMSettingsFactory(std::shared_ptr<ProductList::IProductList> products)
    : CSettingsFactoryBase("TS", L"Settings.xml", L"TM_CURRENT_USER_SETTINGS", L"CommonSettings.xml",
                           L"TM_COMMON_SETTINGS", std::move(products)) {}
// The product description lists this product as "QRHX".
CHXSettingsFactory::CHXSettingsFactory(std::shared_ptr<ProductList::IProductList> products)
    : CSettingsFactoryBase("QRHX", L"settings.xml", L"HX_CURRENT_USER_SETTINGS", L"common_settings.xml",
                           L"HX_COMMON_SETTINGS", std::move(products)) {}
CLMVSettingsFactory::CLMVSettingsFactory(std::shared_ptr<ProductList::IProductList> products)
    : CSettingsFactoryBase("OMK", L"Lumevo.ini", L"LMV_CURRENT_USER_SETTINGS", L"Lumevo.ini",
                           L"LMV_COMMON_SETTINGS", std::move(products)) {}

// ---- product classes ----

CProductSettingsBase::CProductSettingsBase(std::shared_ptr<ISettingsFactory> factory, EFormat format,
                                           SectionSpec user, SectionSpec common)
    : m_factory(std::move(factory)), m_format(format), m_user(std::move(user)), m_common(std::move(common)) {}

bool CProductSettingsBase::ResetToDefaults() {
  m_parameters.clear();
  for (const SectionSpec* section : {&m_user, &m_common}) {
    const auto record = section->create();
    record->LoadDefaults();
    for (const auto& [name, value] : record->Parameters()) m_parameters.insert({name, value});
  }
  return true;
}

int CProductSettingsBase::Load(const SectionSpec& section) {
  if (!m_factory) return kNoFactory;
  const SettingsStreams streams = m_factory->OpenSettingsStreams();
  const auto it = streams.find(section.classTag);
  if (it == streams.end() || !it->second) return kNoFile;

  std::string text;
  char buffer[65536];
  while (text.size() <= static_cast<size_t>(kMaxSettingsFileSize) &&
         it->second->read(buffer, sizeof buffer).gcount() > 0) {
    text.append(buffer, static_cast<size_t>(it->second->gcount()));
  }
  const bool tooLarge = text.size() > static_cast<size_t>(kMaxSettingsFileSize);
  const auto record = section.create();

  if (m_format == EFormat::Ini) {
    // Errors of the INI form are raised to the caller.
    if (tooLarge) throw boost::property_tree::ptree_error("settings file too large");
    std::istringstream in(text);
    ptree tree;
    boost::property_tree::read_ini(in, tree);
    record->ReadStrict(tree);
  } else {
    if (tooLarge || ProductList::XmlNestingDepth(text) > ProductList::kMaxNestingDepth) return kReadFailed;
    try {
      std::istringstream in(text);
      ptree tree;
      boost::property_tree::read_xml(in, tree);
      const auto root = tree.get_child_optional(section.rootPath);
      if (!root) return kReadFailed;
      record->ReadLenient(*root);
    } catch (const std::exception&) {
      return kReadFailed;
    }
  }
  for (const auto& [name, value] : record->Parameters()) m_parameters[name] = value;
  return kLoaded;
}

CVRSettings::CVRSettings(std::shared_ptr<ISettingsFactory> factory)
    : CProductSettingsBase(std::move(factory), EFormat::Xml,
                           {L"VR_CURRENT_USER_SETTINGS", "boost_serialization.Settings", &Make<CVRUserSettings>},
                           {L"VR_COMMON_SETTINGS", "boost_serialization.CommonSettings", &Make<CVRCommonSettings>}) {}
CTMSettings::CTMSettings(std::shared_ptr<ISettingsFactory> factory)
    : CProductSettingsBase(std::move(factory), EFormat::Xml,
                           {L"TM_CURRENT_USER_SETTINGS", "boost_serialization.Settings", &Make<CTMUserSettings>},
                           {L"TM_COMMON_SETTINGS", "boost_serialization.CommonSettings", &Make<CTMCommonSettings>}) {}
CHXSettings::CHXSettings(std::shared_ptr<ISettingsFactory> factory)
    : CProductSettingsBase(std::move(factory), EFormat::Xml,
                           {L"HX_CURRENT_USER_SETTINGS", "boost_serialization.Settings", &Make<CHXUserSettings>},
                           {L"HX_COMMON_SETTINGS", "boost_serialization.CommonSettings", &Make<CHXCommonSettings>}) {}
CLMVSettings::CLMVSettings(std::shared_ptr<ISettingsFactory> factory)
    : CProductSettingsBase(std::move(factory), EFormat::Ini,
                           {L"LMV_CURRENT_USER_SETTINGS", "", &Make<CLMVCurrentUserSettings>},
                           {L"LMV_COMMON_SETTINGS", "", &Make<CLMVCommonSettings>}) {}

std::shared_ptr<IProductSettings> CreateProductSettings(const std::string& productCode) {
  const std::string code = boost::algorithm::to_upper_copy(productCode);
  if (code == "VT") return std::make_shared<CVRSettings>(std::make_shared<CVRSettingsFactory>());
  if (code == "QHLX") return std::make_shared<CHXSettings>(std::make_shared<CHXSettingsFactory>());
  if (code == "OMK") return std::make_shared<CLMVSettings>(std::make_shared<CLMVSettingsFactory>());
  if (code == "TS") return std::make_shared<CTMSettings>(std::make_shared<CTMSettingsFactory>());
  return nullptr;
}

}  // namespace ProductSettings
