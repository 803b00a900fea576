#pragma once
// The suite's products: which of them are installed, where, in which version, and whether
// that version is still supported. The list of products comes from a JSON description; each
// product is looked for in the registry and on disk.
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <boost/property_tree/ptree.hpp>

namespace ProductList {

// Where a found product is.
struct LocationInfo {
  std::wstring installFolder;
  std::wstring mainExecutable;      // file name
  std::wstring keyPath;             // the product's registry key under HKEY_LOCAL_MACHINE; may be empty
  std::wstring mainExecutablePath;  // full path
};

struct ProductInfo {
  std::wstring productCode;
  std::wstring vendor;
  std::wstring productName;
  std::wstring dataFolder;      // the description's ProgramDataPath with %ProgramData% replaced
  std::wstring userDataFolder;  // dataFolder + "/" + the interactive user's key; empty without a data folder
  std::wstring minimumSupportedVersion;
  LocationInfo location;
  std::string productVersion;  // "ProductVersion" of the main executable; empty when absent
  std::filesystem::file_time_type fileTime{};
  std::wstring bid;  // "BID" of the product's key; empty when absent
  std::wstring tid;  // "TID" of the product's key; empty when absent

  bool operator<(const ProductInfo& other) const { return productCode < other.productCode; }
};

// Looks for one product; does all its work when constructed.
class ILocation {
 public:
  virtual ~ILocation() = default;
  virtual bool IsFound() const = 0;
  // Copies the location when the product was found.
  virtual bool GetLocationInfo(LocationInfo& info) const = 0;
};

class CLocationBase : public ILocation {
 public:
  bool IsFound() const override { return m_found; }
  bool GetLocationInfo(LocationInfo& info) const override;

 protected:
  explicit CLocationBase(const boost::property_tree::ptree& json) : m_json(json) {}
  // Found when `executablePath` is an existing file that can be opened for reading.
  void Found(std::wstring folder, std::wstring executable, std::wstring keyPath, std::wstring executablePath);

  bool m_found = false;
  LocationInfo m_info;
  boost::property_tree::ptree m_json;
};

// Through the product's uninstall key ("UninstallKeyName", "MainExecutable").
class CUninstallLocation : public CLocationBase {
 public:
  explicit CUninstallLocation(const boost::property_tree::ptree& json);
};

// Through its App Paths entry ("Path").
class CPathLocation : public CLocationBase {
 public:
  explicit CPathLocation(const boost::property_tree::ptree& json);
};

// Through a registry value naming its folder ("MainDirKeyName", "MainDirValueName",
// "MainExecutable", optional "ProductIDKeyName" and "ProductIDValueName").
class CMainDirKeyLocation : public CLocationBase {
 public:
  explicit CMainDirKeyLocation(const boost::property_tree::ptree& json);
};

// The location of an application: built from its first member named "UninstallLocation",
// "PathLocation" or "MainDirLocation"; empty when it has none.
std::unique_ptr<ILocation> CreateLocation(const boost::property_tree::ptree& application);

// Four numbers; all four are -1 when the text is not a version.
using Version = std::array<int32_t, 4>;
// "a.b.c.d", else "a.b.c" (d = 0), else "a.b ( c )" (d = 0); numbers read as unsigned
// 32-bit values, so a number above 2147483647 makes the version invalid.
Version ParseVersion(std::string_view text);
bool IsValidVersion(const Version& version);

// The named version string of a file (empty path: this program); empty when absent.
std::string GetVersionString(const std::filesystem::path& file, const std::string& key);
// The numeric file version as "a.b.c.d"; empty when the file has none.
std::string GetInstalledVersion(const std::filesystem::path& file);

class IProductList {
 public:
  virtual ~IProductList() = default;
  virtual bool IsInstalled(const std::wstring& productCode) const = 0;
  // One record per found product, in description order; with `onlySupported`, only those
  // whose version passes IsVersionSupported.
  virtual void GetInstalledProducts(std::vector<ProductInfo>& products, bool onlySupported) const = 0;
  virtual void GetInstalledProducts(std::set<ProductInfo>& products, bool onlySupported) const = 0;
  // Starts the product's main executable with the arguments (a command-line text).
  virtual bool StartProduct(const std::wstring& productCode, const std::wstring& arguments) const = 0;
  // True for a found product that has no minimum version, or whose installed version and
  // minimum are both valid and the installed one is not less than the minimum.
  virtual bool IsVersionSupported(const std::wstring& productCode) const = 0;
  virtual bool GetProduct(const std::wstring& productCode, ProductInfo& product) const = 0;
  // "OSOURCE" of a found product's registry key; empty when there is none.
  virtual std::wstring GetProductOSource(const std::wstring& productCode) const = 0;
};

// The description compiled into the program.
extern const std::string_view kBuiltInDescription;

class CProductList : public IProductList {
 public:
  // Reads the description from `descriptionPath`, else from the file "apps" beside this
  // program, else from the built-in text.
  explicit CProductList(const std::wstring& descriptionPath);
  // The same with the folder of "apps" and the built-in text given.
  CProductList(const std::wstring& descriptionPath, const std::filesystem::path& programFolder,
               std::string_view builtInText = kBuiltInDescription);

  bool IsInstalled(const std::wstring& productCode) const override;
  void GetInstalledProducts(std::vector<ProductInfo>& products, bool onlySupported) const override;
  void GetInstalledProducts(std::set<ProductInfo>& products, bool onlySupported) const override;
  bool StartProduct(const std::wstring& productCode, const std::wstring& arguments) const override;
  bool IsVersionSupported(const std::wstring& productCode) const override;
  bool GetProduct(const std::wstring& productCode, ProductInfo& product) const override;
  std::wstring GetProductOSource(const std::wstring& productCode) const override;

  // The codes of the description's applications, in order (found or not).
  std::vector<std::wstring> GetProductCodes() const;

 private:
  struct Application {
    std::wstring code;
    boost::property_tree::ptree json;
    std::shared_ptr<ILocation> location;
  };
  void Load(const boost::property_tree::ptree& description);
  const Application* Find(const std::wstring& productCode) const;
  bool MakeRecord(const Application& application, ProductInfo& product) const;

  std::vector<Application> m_applications;
};

}  // namespace ProductList
