#include "gui/installer_js_objects.h"

#include <utility>

#include "config/identity.h"
#include "gui/install_progress_js_callback.h"

namespace CustomInstaller::Gui {

using namespace BrowserControl;
using namespace BrowserControl::JS;

CInstallerJSObject::CInstallerJSObject(InstallationDetails details, std::weak_ptr<Core::IInstallManager> manager,
                                       bool noMarshal)
    : m_details(std::move(details)), m_noMarshal(noMarshal), m_manager(std::move(manager)) {
  RegisterMethod(L"start", &CInstallerJSObject::Start);
  RegisterMethod(L"cancel", &CInstallerJSObject::Cancel);
  RegisterMethod(L"getDetails", &CInstallerJSObject::GetDetails);
}

HRESULT CInstallerJSObject::Start(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  CComPtr<IDispatch> callback;
  if (!ToDispatch(ScriptArg(params, 0), callback)) return E_INVALIDARG;
  // Made here, on the page thread: that is the home its calls are carried to.
  auto progress = std::make_shared<CInstallProgressJSCallback>(callback.get(), m_noMarshal);
  const auto manager = m_manager.lock();
  SetResultBool(result, manager && manager->Start(std::move(progress)));
  return S_OK;
}

HRESULT CInstallerJSObject::Cancel(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  const auto manager = m_manager.lock();
  SetResultBool(result, manager && manager->Cancel());
  return S_OK;
}

HRESULT CInstallerJSObject::GetDetails(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  const auto details = MakeComObject<CInstallationDetailsJSObject>(m_details);
  SetResultDispatch(result, details.get());
  return S_OK;
}

CInstallationDetailsJSObject::CInstallationDetailsJSObject(InstallationDetails details)
    : m_details(std::move(details)) {
  RegisterMethod(L"getBuildId", &CInstallationDetailsJSObject::GetBuildId);
  RegisterMethod(L"getOSource", &CInstallationDetailsJSObject::GetOSource);
  RegisterMethod(L"getTracking", &CInstallationDetailsJSObject::GetTracking);
  RegisterMethod(L"getVersion", &CInstallationDetailsJSObject::GetVersion);
  RegisterMethod(L"getLanguage", &CInstallationDetailsJSObject::GetLanguage);
  RegisterMethod(L"getUID", &CInstallationDetailsJSObject::GetUID);
}

HRESULT CInstallationDetailsJSObject::ReturnText(DISPPARAMS* params, VARIANT* result, const std::wstring& text) {
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  SetResultString(result, text);
  return S_OK;
}

HRESULT CInstallationDetailsJSObject::GetBuildId(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  return ReturnText(params, result, m_details.GetBuildId());
}

HRESULT CInstallationDetailsJSObject::GetOSource(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  return ReturnText(params, result, m_details.GetSource());
}

HRESULT CInstallationDetailsJSObject::GetTracking(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  return ReturnText(params, result, m_details.GetTracking());
}

HRESULT CInstallationDetailsJSObject::GetVersion(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  const std::wstring& version = m_details.GetVersion();
  return ReturnText(params, result, version.empty() ? std::wstring(Config::kProductVersion) : version);
}

HRESULT CInstallationDetailsJSObject::GetLanguage(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  return ReturnText(params, result, m_details.GetLanguage());
}

HRESULT CInstallationDetailsJSObject::GetUID(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  // The page has no use for the tracking UID; it is never handed out here.
  if (const HRESULT hr = CheckCall(params, 0, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  return E_NOTIMPL;
}

}  // namespace CustomInstaller::Gui
