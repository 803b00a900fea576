#include "products/product_list.h"

#include <cstdio>
#include <fstream>
#include <optional>

#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/version_info.h"
#include "products/crypt.h"

namespace ProductList {

namespace fs = std::filesystem;
using boost::property_tree::ptree;
using Platform::RegistryHive;
using Platform::RegistryView;

namespace {

const std::wstring kUninstallRoot = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kWowUninstallRoot = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kAppPathsRoot = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const std::wstring kProgramDataVariable = L"%ProgramData%";

struct RegistryText {
  std::wstring text;
  RegistryView view = RegistryView::View64;
};

// A non-empty text value under HKEY_LOCAL_MACHINE, from the 64-bit view, else the 32-bit view.
std::optional<RegistryText> ReadMachineText(const std::wstring& key, const std::wstring& value) {
  for (auto view : {RegistryView::View64, RegistryView::View32}) {
    auto text = Platform::RegReadString(RegistryHive::LocalMachine, key, value, view);
    if (text && !text->empty()) return RegistryText{std::move(*text), view};
  }
  return std::nullopt;
}

std::wstring ReadMachineTextOrEmpty(const std::wstring& key, const std::wstring& value) {
  auto text = ReadMachineText(key, value);
  return text ? std::move(text->text) : std::wstring();
}

std::optional<std::wstring> Member(const ptree& json, const char* name) {
  const auto value = json.get_optional<std::string>(ptree::path_type(name, '\0'));
  if (!value) return std::nullopt;
  return Platform::Utf8ToWide(*value);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) { return folder + L"/" + name; }

bool IsReadableFile(const std::wstring& path) {
  std::error_code ec;
  const fs::path p = Platform::WideToPath(path);
  if (!fs::is_regular_file(p, ec)) return false;
  std::ifstream in(p, std::ios::binary);
  return in.is_open();
}

// The description text may carry Windows paths.
std::wstring ToSlashes(std::wstring text) {
  for (auto& c : text) {
    if (c == L'\\') c = L'/';
  }
  return text;
}

// Reads an unsigned number the way "%u" does: white space, an optional sign, digits; the
// value wraps at 32 bits. Returns false when there is no digit.
bool ScanUnsigned(std::string_view text, size_t& pos, uint32_t& value) {
  while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  const size_t start = pos;
  uint64_t number = 0;
  bool overflow = false;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    number = number * 10 + static_cast<uint64_t>(text[pos++] - '0');
    if (number > 0xFFFFFFFFull) overflow = true, number = 0xFFFFFFFFull;
  }
  if (pos == start) return false;
  // Like strtoul: an out-of-range number saturates and then ignores its sign.
  value = static_cast<uint32_t>(number);
  if (negative && !overflow) value = 0u - value;
  return true;
}

// Matches `format` ("%u" for a number, a blank for any white space, else the literal
// character) against `text` as scanf does; the count of numbers read.
size_t ScanVersion(std::string_view text, std::string_view format, std::array<uint32_t, 4>& numbers) {
  size_t pos = 0, count = 0;
  for (size_t f = 0; f < format.size(); ++f) {
    if (format.substr(f, 2) == "%u") {
      if (count == numbers.size() || !ScanUnsigned(text, pos, numbers[count])) return count;
      ++count;
      ++f;
    } else if (format[f] == ' ') {
      while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) ++pos;
    } else {
      if (pos == text.size() || text[pos] != format[f]) return count;
      ++pos;
    }
  }
  return count;
}

}  // namespace

// ---- locations ----

bool CLocationBase::GetLocationInfo(LocationInfo& info) const {
  if (!m_found) return false;
  info = m_info;
  return true;
}

void CLocationBase::Found(std::wstring folder, std::wstring executable, std::wstring keyPath,
                          std::wstring executablePath) {
  if (!IsReadableFile(executablePath)) return;
  m_info = LocationInfo{std::move(folder), std::move(executable), std::move(keyPath), std::move(executablePath)};
  m_found = true;
}

CUninstallLocation::CUninstallLocation(const ptree& json) : CLocationBase(json) {
  const auto keyName = Member(json, "UninstallKeyName");
  const auto executable = Member(json, "MainExecutable");
  if (!keyName || !executable) return;
  std::wstring keyPath = kUninstallRoot + *keyName;
  auto uninstall = Platform::RegReadString(RegistryHive::LocalMachine, keyPath, L"UninstallString", RegistryView::View64);
  if (!uninstall || uninstall->empty()) {
    keyPath = kWowUninstallRoot + *keyName;
    uninstall = Platform::RegReadString(RegistryHive::LocalMachine, keyPath, L"UninstallString", RegistryView::View32);
  }
  if (!uninstall || uninstall->empty()) return;
  std::wstring folder;
  for (const wchar_t* value : {L"InstallLocation", L"InstallPath", L"INSTDIR"}) {
    folder = ReadMachineTextOrEmpty(keyPath, value);
    if (!folder.empty()) break;
  }
  if (folder.empty()) {
    const size_t cut = uninstall->find_last_of(L"\\/");
    if (cut == std::wstring::npos) return;
    folder = uninstall->substr(0, cut);
  }
  const std::wstring path = JoinPath(folder, *executable);
  Found(folder, *executable, keyPath, path);
}

CPathLocation::CPathLocation(const ptree& json) : CLocationBase(json) {
  const auto path = Member(json, "Path");
  if (!path) return;
  const auto registered = ReadMachineText(kAppPathsRoot + *path, L"");
  if (!registered) return;
  const std::wstring expanded = Platform::ExpandEnvironmentStrings(registered->text);
  const size_t cut = expanded.rfind(L'/');
  if (cut == std::wstring::npos) return;
  Found(expanded.substr(0, cut), expanded.substr(cut + 1), L"", expanded);
}

CMainDirKeyLocation::CMainDirKeyLocation(const ptree& json) : CLocationBase(json) {
  const auto dirKey = Member(json, "MainDirKeyName");
  const auto dirValue = Member(json, "MainDirValueName");
  const auto executable = Member(json, "MainExecutable");
  if (!dirKey || !dirValue || !executable) return;
  std::wstring keyPath;
  const auto idKey = Member(json, "ProductIDKeyName");
  const auto idValue = Member(json, "ProductIDValueName");
  if (idKey && idValue) {
    if (const auto id = ReadMachineText(*idKey, *idValue)) {
      keyPath = (id->view == RegistryView::View64 ? kUninstallRoot : kWowUninstallRoot) + id->text;
    }
  }
  const std::wstring folder = ReadMachineTextOrEmpty(*dirKey, *dirValue);
  if (folder.empty()) return;
  Found(folder, *executable, keyPath, JoinPath(folder, *executable));
}

std::unique_ptr<ILocation> CreateLocation(const ptree& application) {
  for (const auto& [name, member] : application) {
    if (name == "UninstallLocation") return std::make_unique<CUninstallLocation>(member);
    if (name == "PathLocation") return std::make_unique<CPathLocation>(member);
    if (name == "MainDirLocation") return std::make_unique<CMainDirKeyLocation>(member);
  }
  return nullptr;
}

// ---- versions ----

Version ParseVersion(std::string_view text) {
  std::array<uint32_t, 4> n{};
  Version v{-1, -1, -1, -1};
  if (ScanVersion(text, "%u.%u.%u.%u", n) == 4) {
    v = {static_cast<int32_t>(n[0]), static_cast<int32_t>(n[1]), static_cast<int32_t>(n[2]), static_cast<int32_t>(n[3])};
  } else if (ScanVersion(text, "%u.%u.%u", n) == 3 || ScanVersion(text, "%u.%u ( %u )", n) == 3) {
    v = {static_cast<int32_t>(n[0]), static_cast<int32_t>(n[1]), static_cast<int32_t>(n[2]), 0};
  }
  return v;
}

bool IsValidVersion(const Version& version) {
  for (int32_t part : version) {
    if (part < 0) return false;
  }
  return true;
}

std::string GetVersionString(const fs::path& file, const std::string& key) {
  fs::path path = file;
  if (path.empty()) {
    try {
      path = Platform::GetModulePath();
    } catch (const std::exception&) {
      return {};
    }
  }
  const auto strings = Platform::ReadVersionStrings(path);
  if (!strings) return {};
  const auto it = strings->find(key);
  return it == strings->end() ? std::string() : it->second;
}

std::string GetInstalledVersion(const fs::path& file) {
  const auto numbers = Platform::GetFileVersionNumbers(file);
  if (!numbers) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", (*numbers)[0], (*numbers)[1], (*numbers)[2], (*numbers)[3]);
  return text;
}

// ---- the list ----

CProductList::CProductList(const std::wstring& descriptionPath) : CProductList(descriptionPath, [] {
  try {
    return Platform::GetModulePath().parent_path();
  } catch (const std::exception&) {
    return fs::path();
  }
}()) {}

CProductList::CProductList(const std::wstring& descriptionPath, const fs::path& programFolder,
                           std::string_view builtInText) {
  ptree description;
  const bool fromFile =
      (!descriptionPath.empty() && Security::ReadEncryptedJson(Platform::WideToPath(descriptionPath), description)) ||
      (!programFolder.empty() && Security::ReadTrustedEncryptedJson(programFolder / "apps", description));
  if (!fromFile) {
    while (!builtInText.empty() && builtInText.front() == '(') builtInText.remove_prefix(1);
    while (!builtInText.empty() && builtInText.back() == ')') builtInText.remove_suffix(1);
    if (!Security::ParseJson(builtInText, description)) return;
  }
  Load(description);
}

void CProductList::Load(const ptree& description) {
  const auto applications = description.get_child_optional(ptree::path_type("Applications", '\0'));
  if (!applications) return;
  for (const auto& [unused, json] : *applications) {
    Application application;
    application.code = Member(json, "ProductCode").value_or(L"");
    application.json = json;
    application.location = CreateLocation(json);
    m_applications.push_back(std::move(application));
  }
}

const CProductList::Application* CProductList::Find(const std::wstring& productCode) const {
  for (const auto& application : m_applications) {
    if (!application.code.empty() && application.code == productCode) return &application;
  }
  return nullptr;
}

bool CProductList::MakeRecord(const Application& application, ProductInfo& product) const {
  if (!application.location || !application.location->IsFound()) return false;
  const ptree& json = application.json;
  const auto vendor = Member(json, "Vendor");
  const auto name = Member(json, "ProductName");
  const auto dataPath = Member(json, "ProgramDataPath");
  if (application.code.empty() || !vendor || !name || !dataPath) return false;
  ProductInfo record;
  record.productCode = application.code;
  record.vendor = *vendor;
  record.productName = *name;
  std::wstring data = *dataPath;
  if (data.compare(0, kProgramDataVariable.size(), kProgramDataVariable) == 0) {
    data = Platform::Utf8ToWide(Platform::GetProgramDataFolder().string()) +
           ToSlashes(data.substr(kProgramDataVariable.size()));
  } else {
    data = ToSlashes(data);
  }
  record.dataFolder = data;
  if (!data.empty()) record.userDataFolder = JoinPath(data, Platform::GetInteractiveUserKey());
  record.minimumSupportedVersion = Member(json, "MinimumSupportedVersion").value_or(L"");
  application.location->GetLocationInfo(record.location);
  const fs::path executable = Platform::WideToPath(record.location.mainExecutablePath);
  record.productVersion = GetVersionString(executable, "ProductVersion");
  std::error_code ec;
  const auto time = fs::last_write_time(executable, ec);
  if (!ec) record.fileTime = time;
  if (!record.location.keyPath.empty()) {
    record.tid = ReadMachineTextOrEmpty(record.location.keyPath, L"TID");
    record.bid = ReadMachineTextOrEmpty(record.location.keyPath, L"BID");
  }
  product = std::move(record);
  return true;
}

bool CProductList::IsInstalled(const std::wstring& productCode) const {
  const Application* application = Find(productCode);
  return application != nullptr && application->location && application->location->IsFound();
}

void CProductList::GetInstalledProducts(std::vector<ProductInfo>& products, bool onlySupported) const {
  for (const auto& application : m_applications) {
    ProductInfo product;
    if (MakeRecord(application, product) && (!onlySupported || IsVersionSupported(application.code))) {
      products.push_back(std::move(product));
    }
  }
}

void CProductList::GetInstalledProducts(std::set<ProductInfo>& products, bool onlySupported) const {
  std::vector<ProductInfo> list;
  GetInstalledProducts(list, onlySupported);
  products.insert(list.begin(), list.end());
}

bool CProductList::StartProduct(const std::wstring& productCode, const std::wstring& arguments) const {
  ProductInfo product;
  return GetProduct(productCode, product) && Platform::ShellOpen(product.location.mainExecutablePath, arguments);
}

bool CProductList::IsVersionSupported(const std::wstring& productCode) const {
  ProductInfo product;
  if (!GetProduct(productCode, product)) return false;
  if (!Member(Find(productCode)->json, "MinimumSupportedVersion")) return true;
  const Version installed = ParseVersion(GetInstalledVersion(Platform::WideToPath(product.location.mainExecutablePath)));
  const Version minimum = ParseVersion(Platform::WideToUtf8(product.minimumSupportedVersion));
  return IsValidVersion(installed) && IsValidVersion(minimum) && !(installed < minimum);
}

bool CProductList::GetProduct(const std::wstring& productCode, ProductInfo& product) const {
  const Application* application = Find(productCode);
  return application != nullptr && MakeRecord(*application, product);
}

std::wstring CProductList::GetProductOSource(const std::wstring& productCode) const {
  ProductInfo product;
  if (!GetProduct(productCode, product) || product.location.keyPath.empty()) return {};
  return ReadMachineTextOrEmpty(product.location.keyPath, L"OSOURCE");
}

std::vector<std::wstring> CProductList::GetProductCodes() const {
  std::vector<std::wstring> codes;
  for (const auto& application : m_applications) codes.push_back(application.code);
  return codes;
}

}  // namespace ProductList
