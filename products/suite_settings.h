#pragma once
// The settings files of the suite's products: their records, the product classes and the
// factories that find and open the files.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/property_tree/ptree_fwd.hpp>

#include "products/product_list.h"
#include "products/product_settings.h"

namespace ProductSettings {

enum class EValueType { Bool, Int16, Int32, UInt32, Long, Int64, Text, Record, RecordSet, RecordVector };

class CSettingsRecord;
using RecordFactory = std::shared_ptr<CSettingsRecord> (*)();

// One key of a record: where it is in the file, the parameter it fills, its type and default.
struct FieldSpec {
  const char* path;
  const char* name;
  EValueType type;
  long long number = 0;            // default of numbers and flags
  const wchar_t* text = L"";       // default of texts
  RecordFactory record = nullptr;  // the record type of nested records and list entries
};

// A record read from a subtree: keys by path, in order.
class CSettingsRecord : public CParametersSetImpl<IParametersSet> {
 public:
  explicit CSettingsRecord(const std::vector<FieldSpec>& fields) : m_fields(fields) {}
  // Every key takes its default (read from an empty tree).
  bool LoadDefaults() override;
  // XML archives: a missing key or one whose value does not convert takes its default.
  void ReadLenient(const boost::property_tree::ptree& tree);
  // INI files: every key must be present and convert; throws boost::property_tree::ptree_error.
  void ReadStrict(const boost::property_tree::ptree& tree);

 private:
  const std::vector<FieldSpec>& m_fields;
};

#define OMK_SETTINGS_RECORD(Name)  \
  class Name : public CSettingsRecord { \
   public:                          \
    Name();                         \
  }
// Common settings of the XML products.
OMK_SETTINGS_RECORD(CVRCommonSettings);
OMK_SETTINGS_RECORD(CTMCommonSettings);
OMK_SETTINGS_RECORD(CHXCommonSettings);
// Per-user settings of "VT" and its nested records.
OMK_SETTINGS_RECORD(CVRUserSettings);
OMK_SETTINGS_RECORD(CVRLanguageMgr);
OMK_SETTINGS_RECORD(Size);
OMK_SETTINGS_RECORD(CVRExcludeList);
OMK_SETTINGS_RECORD(CVRUpdateInfo);
OMK_SETTINGS_RECORD(CVRGeneralSettings);
// Per-user settings of "TS" and its nested records.
OMK_SETTINGS_RECORD(CTMUserSettings);
OMK_SETTINGS_RECORD(CCheckboxState);
OMK_SETTINGS_RECORD(CLastScanSettings);
OMK_SETTINGS_RECORD(CTMLanguageMgr);
OMK_SETTINGS_RECORD(CPurchaseBrowserInfo);
// Per-user settings of "QHLX".
OMK_SETTINGS_RECORD(CHXUserSettings);
// The two sections of the "OMK" INI file.
OMK_SETTINGS_RECORD(CLMVCurrentUserSettings);
OMK_SETTINGS_RECORD(CLMVCommonSettings);
#undef OMK_SETTINGS_RECORD

// Finds a product through the installed-product list and opens its two settings files:
// "<per-user data folder>/<user file>" and "<data folder>/<common file>".
class CSettingsFactoryBase : public ISettingsFactory {
 public:
  SettingsStreams OpenSettingsStreams() override;
  const std::string& ProductCode() const { return m_productCode; }

 protected:
  // Without a product list, a fresh CProductList is read on every open.
  CSettingsFactoryBase(std::string productCode, std::wstring userFile, std::wstring userTag,
                       std::wstring commonFile, std::wstring commonTag,
                       std::shared_ptr<ProductList::IProductList> products);

 private:
  std::string m_productCode;
  std::wstring m_userFile, m_userTag, m_commonFile, m_commonTag;
  std::shared_ptr<ProductList::IProductList> m_products;
};

#define OMK_SETTINGS_FACTORY(Name)                                                          \
  class Name : public CSettingsFactoryBase {                                                \
   public:                                                                                  \
    explicit Name(std::shared_ptr<ProductList::IProductList> products = nullptr);           \
  }
OMK_SETTINGS_FACTORY(CVRSettingsFactory);
OMK_SETTINGS_FACTORY(CTMSettingsFactory);
OMK_SETTINGS_FACTORY(CHXSettingsFactory);
OMK_SETTINGS_FACTORY(CLMVSettingsFactory);
#undef OMK_SETTINGS_FACTORY

// What a product class reads: one record per file.
struct SectionSpec {
  const wchar_t* classTag;
  const char* rootPath;  // XML only: the record's element
  std::function<std::shared_ptr<CSettingsRecord>()> create;
};

class CProductSettingsBase : public CParametersSetImpl<IProductSettings> {
 public:
  bool LoadDefaults() override { return ResetToDefaults(); }
  // Clears the map and fills it with the defaults of both records (per-user first).
  bool ResetToDefaults();
  int LoadUserSettings() override { return Load(m_user); }
  int LoadCommonSettings() override { return Load(m_common); }
  bool IsDirty() const override { return false; }

 protected:
  enum class EFormat { Xml, Ini };
  CProductSettingsBase(std::shared_ptr<ISettingsFactory> factory, EFormat format, SectionSpec user,
                       SectionSpec common);

 private:
  int Load(const SectionSpec& section);

  std::shared_ptr<ISettingsFactory> m_factory;
  EFormat m_format;
  SectionSpec m_user, m_common;
};

#define OMK_PRODUCT_SETTINGS(Name)                               \
  class Name : public CProductSettingsBase {                     \
   public:                                                       \
    explicit Name(std::shared_ptr<ISettingsFactory> factory);    \
  }
OMK_PRODUCT_SETTINGS(CVRSettings);   // "VT", XML
OMK_PRODUCT_SETTINGS(CTMSettings);   // "TS", XML
OMK_PRODUCT_SETTINGS(CHXSettings);   // "QHLX", XML
OMK_PRODUCT_SETTINGS(CLMVSettings);  // "OMK", INI
#undef OMK_PRODUCT_SETTINGS

}  // namespace ProductSettings
