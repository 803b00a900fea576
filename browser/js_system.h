#pragma once
// "system": installed suite products and opening URLs in the user's browser.
#include <memory>
#include <string>

#include "browser/custom_object.h"
#include "browser/open_in_default_browser.h"
#include "products/product_list.h"

namespace BrowserControl::JS {

// Members isInstalled, getMainExecutablePath, openInDefaultBrowser (DISPIDs 1-3). An opener
// that is a COpenInDefaultBrowserWithPresetParams opens with its preset table, any other one
// with an empty table.
class CSystem : public custom_object<CSystem> {
 public:
  CSystem(std::shared_ptr<ProductList::IProductList> products, std::shared_ptr<IOpenInDefaultBrowser> opener);
  std::wstring GetName() const override { return L"system"; }

  // The installed product's "ProductVersion", or "".
  virtual HRESULT IsInstalled(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);
  // Its installation folder joined with its main executable, or "".
  virtual HRESULT GetMainExecutablePath(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                        uint32_t* argError);
  virtual HRESULT OpenInDefaultBrowser(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                       uint32_t* argError);

 private:
  HRESULT FindProduct(DISPPARAMS* params, VARIANT* result, bool& found, ProductList::ProductInfo& product);

  std::shared_ptr<ProductList::IProductList> m_products;
  std::shared_ptr<IOpenInDefaultBrowser> m_opener;
};

// Folder, a separator unless the folder already ends with one ("/" or "\"), and file name.
std::wstring JoinFolderAndFile(const std::wstring& folder, const std::wstring& file);

}  // namespace BrowserControl::JS
