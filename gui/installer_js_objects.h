#pragma once
// "installer": the page starts and cancels the installation and reads its identity values
// ("installationDetails").
#include <memory>
#include <string>

#include "browser/custom_object.h"
#include "core/install_manager.h"
#include "core/installer_options.h"

namespace CustomInstaller::Gui {

// Members, DISPIDs 1-3:
//   start(callback object) -> boolean: a new progress callback for the object; true when the
//     install manager exists and accepted the start.
//   cancel() -> boolean: true when the install manager exists and accepted.
//   getDetails() -> a new "installationDetails" object holding a copy of the record.
// Page thread only. Holds the install manager weakly: once it is gone both answer false.
class CInstallerJSObject : public BrowserControl::JS::custom_object<CInstallerJSObject> {
 public:
  // `noMarshal`: the callbacks of "start" are called only on the page thread itself (the
  // installer window marshals).
  CInstallerJSObject(InstallationDetails details, std::weak_ptr<Core::IInstallManager> manager,
                     bool noMarshal = false);
  std::wstring GetName() const override { return L"installer"; }

  virtual BrowserControl::HRESULT Start(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                        BrowserControl::EXCEPINFO* exception, uint32_t* argError);
  virtual BrowserControl::HRESULT Cancel(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                         BrowserControl::EXCEPINFO* exception, uint32_t* argError);
  virtual BrowserControl::HRESULT GetDetails(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                             BrowserControl::EXCEPINFO* exception, uint32_t* argError);

 private:
  InstallationDetails m_details;
  bool m_noMarshal;
  std::weak_ptr<Core::IInstallManager> m_manager;
};

// A snapshot of the installation's identity. Members, DISPIDs 1-6, each taking no argument
// and returning a string: getBuildId, getOSource, getTracking, getVersion (the product version
// when the record carries none), getLanguage; getUID is not offered: E_NOTIMPL when its value
// is asked for, else E_INVALIDARG.
class CInstallationDetailsJSObject : public BrowserControl::JS::custom_object<CInstallationDetailsJSObject> {
 public:
  explicit CInstallationDetailsJSObject(InstallationDetails details);
  std::wstring GetName() const override { return L"installationDetails"; }

  virtual BrowserControl::HRESULT GetBuildId(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                             BrowserControl::EXCEPINFO* exception, uint32_t* argError);
  virtual BrowserControl::HRESULT GetOSource(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                             BrowserControl::EXCEPINFO* exception, uint32_t* argError);
  virtual BrowserControl::HRESULT GetTracking(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                              BrowserControl::EXCEPINFO* exception, uint32_t* argError);
  virtual BrowserControl::HRESULT GetVersion(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                             BrowserControl::EXCEPINFO* exception, uint32_t* argError);
  virtual BrowserControl::HRESULT GetLanguage(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                              BrowserControl::EXCEPINFO* exception, uint32_t* argError);
  virtual BrowserControl::HRESULT GetUID(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                         BrowserControl::EXCEPINFO* exception, uint32_t* argError);

 private:
  BrowserControl::HRESULT ReturnText(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                     const std::wstring& text);

  InstallationDetails m_details;
};

}  // namespace CustomInstaller::Gui
