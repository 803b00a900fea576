#pragma once
// "childWindow": further web windows opened by the page.
#include <memory>
#include <string>

#include "browser/custom_object.h"

namespace BrowserControl {

// What asking for a child window came to.
enum class EChildWindowResult {
  kOpened,     // the window exists
  kNotOpened,  // the address was accepted, but the window could not be made
  kRefused,    // the address is not one a child window may show: nothing was loaded
};

// Opens a modeless web window showing `url`, centred on the screen or (with `tray`) beside
// the taskbar's notification area. Called on the page thread.
class IChildWindowCreator {
 public:
  virtual ~IChildWindowCreator() = default;
  virtual EChildWindowResult CreateChildWindow(const std::wstring& url, bool tray) = 0;
};

namespace JS {

// Member createWindow (URL, an unused text, placement "Center" or "Tray" in any letter case)
// -> boolean (DISPID 1): whether the window exists. An address the creator refuses is
// E_INVALIDARG.
class CChildWindow : public custom_object<CChildWindow> {
 public:
  explicit CChildWindow(std::shared_ptr<IChildWindowCreator> creator);
  std::wstring GetName() const override { return L"childWindow"; }

  virtual HRESULT CreateWindow(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);

 private:
  std::shared_ptr<IChildWindowCreator> m_creator;
};

}  // namespace JS
}  // namespace BrowserControl
