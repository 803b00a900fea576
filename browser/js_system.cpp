#include "browser/js_system.h"

#include "platform/text.h"

namespace BrowserControl::JS {

CSystem::CSystem(std::shared_ptr<ProductList::IProductList> products, std::shared_ptr<IOpenInDefaultBrowser> opener)
    : m_products(std::move(products)), m_opener(std::move(opener)) {
  RegisterMethod(L"isInstalled", &CSystem::IsInstalled);
  RegisterMethod(L"getMainExecutablePath", &CSystem::GetMainExecutablePath);
  RegisterMethod(L"openInDefaultBrowser", &CSystem::OpenInDefaultBrowser);
}

HRESULT CSystem::FindProduct(DISPPARAMS* params, VARIANT* result, bool& found, ProductList::ProductInfo& product) {
  if (!m_products) return E_FAIL;
  if (const HRESULT hr = CheckCall(params, 1, result, EResultSlot::kRequired); FAILED(hr)) return hr;
  std::wstring code;
  if (!ToString(ScriptArg(params, 0), code)) return E_INVALIDARG;
  found = m_products->GetProduct(code, product);
  return S_OK;
}

HRESULT CSystem::IsInstalled(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  bool found = false;
  ProductList::ProductInfo product;
  if (const HRESULT hr = FindProduct(params, result, found, product); FAILED(hr)) return hr;
  SetResultString(result, found ? Platform::Utf8ToWide(product.productVersion) : std::wstring());
  return S_OK;
}

HRESULT CSystem::GetMainExecutablePath(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  bool found = false;
  ProductList::ProductInfo product;
  if (const HRESULT hr = FindProduct(params, result, found, product); FAILED(hr)) return hr;
  const auto& folder = product.location.installFolder;
  const auto& file = product.location.mainExecutable;
  SetResultString(result, found && !folder.empty() && !file.empty() ? JoinFolderAndFile(folder, file) : std::wstring());
  return S_OK;
}

HRESULT CSystem::OpenInDefaultBrowser(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
  if (!m_opener) return E_FAIL;
  if (const HRESULT hr = CheckCall(params, 1, result, EResultSlot::kIgnored); FAILED(hr)) return hr;
  std::wstring url;
  if (!ToString(ScriptArg(params, 0), url) || url.empty()) return E_INVALIDARG;
  if (auto* preset = dynamic_cast<COpenInDefaultBrowserWithPresetParams*>(m_opener.get())) {
    preset->Open(url);
  } else {
    m_opener->Open(url, {});
  }
  return S_OK;
}

std::wstring JoinFolderAndFile(const std::wstring& folder, const std::wstring& file) {
  if (folder.empty() || folder.back() == L'/' || folder.back() == L'\\') return folder + file;
  return folder + L'/' + file;
}

}  // namespace BrowserControl::JS
