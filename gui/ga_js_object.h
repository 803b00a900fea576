#pragma once
// "ga": the page's own analytics screens and events.
#include <memory>
#include <string>

#include "browser/custom_object.h"
#include "core/ga_sender.h"

namespace CustomInstaller::Gui {

// Members, DISPIDs 1-2, neither returning a value:
//   sendScreen(name): a screen-view hit.
//   sendEvent(action, category, label[, value]): an event hit; value is an integer, -1 when
//     absent.
// Empty texts are refused (E_INVALIDARG); without a sender every call fails with E_FAIL.
class CGAJSObject : public BrowserControl::JS::custom_object<CGAJSObject> {
 public:
  explicit CGAJSObject(std::shared_ptr<GA::IGASender> sender);
  std::wstring GetName() const override { return L"ga"; }

  virtual BrowserControl::HRESULT SendScreen(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                             BrowserControl::EXCEPINFO* exception, uint32_t* argError);
  virtual BrowserControl::HRESULT SendEvent(BrowserControl::DISPPARAMS* params, BrowserControl::VARIANT* result,
                                            BrowserControl::EXCEPINFO* exception, uint32_t* argError);

 private:
  std::shared_ptr<GA::IGASender> m_sender;
};

}  // namespace CustomInstaller::Gui
