#pragma once
// "engine": the framework's version.
#include <string>

#include "browser/custom_object.h"

namespace BrowserControl::JS {

inline constexpr const wchar_t* kEngineVersion = L"3.2.0";

// Member version (DISPID 1) -> the version text.
class CEngine : public custom_object<CEngine> {
 public:
  explicit CEngine(std::wstring version = kEngineVersion);
  std::wstring GetName() const override { return L"engine"; }

  virtual HRESULT Version(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);

 private:
  std::wstring m_version;
};

}  // namespace BrowserControl::JS
