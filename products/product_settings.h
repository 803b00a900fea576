#pragma once
// Settings of the suite's products: every product's settings are a map of named, typed
// parameters, filled from its per-user and its common settings file, with defaults for what
// is absent.
#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/any.hpp>

namespace ProductSettings {

// Value types in the maps: bool, int16_t, int32_t, uint32_t, Long, Int64, std::wstring,
// ParametersSetPtr (a nested record), RecordSetPtr and RecordVectorPtr (lists of records).
using Long = long;       // sizes in pixels; always within 32 bits
using Int64 = long long;  // times; a type of its own, never the same as Long

class IParametersSet {
 public:
  virtual ~IParametersSet() = default;
  // Refused (false, old value kept) when the name holds a value of another type; the type
  // must match exactly (an int never replaces a long).
  virtual bool SetParameter(const std::string& name, const boost::any& value) = 0;
  // A copy of the value, or an empty value when the name is absent.
  virtual boost::any GetParameter(const std::string& name) const = 0;
  virtual bool LoadDefaults() = 0;
};

using ParametersSetPtr = std::shared_ptr<IParametersSet>;
using RecordSet = std::set<ParametersSetPtr>;  // ordered by object identity
using RecordVector = std::vector<ParametersSetPtr>;
using RecordSetPtr = std::shared_ptr<RecordSet>;
using RecordVectorPtr = std::shared_ptr<RecordVector>;

template <class Interface>
class CParametersSetImpl : public Interface {
 public:
  bool SetParameter(const std::string& name, const boost::any& value) override {
    const auto it = m_parameters.find(name);
    if (it != m_parameters.end() && it->second.type() != value.type()) return false;
    m_parameters[name] = value;
    return true;
  }
  boost::any GetParameter(const std::string& name) const override {
    const auto it = m_parameters.find(name);
    return it == m_parameters.end() ? boost::any() : it->second;
  }
  const std::map<std::string, boost::any>& Parameters() const { return m_parameters; }

 protected:
  std::map<std::string, boost::any> m_parameters;
};

// Results of LoadUserSettings and LoadCommonSettings.
enum ELoadResult : int {
  kLoaded = 0,      // the record's parameters were copied into the map
  kNoFile = 1,      // no opened file for the record (missing product, folder or file)
  kReadFailed = 2,  // the file could not be read as XML or lacks its root element
  kNoFactory = 3,
};

class IProductSettings : public IParametersSet {
 public:
  virtual int LoadUserSettings() = 0;
  virtual int LoadCommonSettings() = 0;
  // Whether the map holds changes not yet saved; nothing here saves, so always false.
  virtual bool IsDirty() const = 0;
};

// Class tag (e.g. "VR_CURRENT_USER_SETTINGS") to the opened file.
using SettingsStreams = std::map<std::wstring, std::shared_ptr<std::istream>>;

class ISettingsFactory {
 public:
  virtual ~ISettingsFactory() = default;
  virtual SettingsStreams OpenSettingsStreams() = 0;
};

// The settings object of a product code ("VT", "QHLX", "OMK", "TS", any letter case);
// empty for any other code.
std::shared_ptr<IProductSettings> CreateProductSettings(const std::string& productCode);

}  // namespace ProductSettings
