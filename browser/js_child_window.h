#pragma once
// "childWindow": further web windows opened by the page.
#include <memory>
#include <string>

#include "browser/custom_object.h"

namespace BrowserControl {

// Opens a modeless web window showing `url`, centred on the screen or (with `tray`) beside
// the taskbar's notification area. True when the window exists afterwards. Called on the
// page thread.
class IChildWindowCreator {
 public:
  virtual ~IChildWindowCreator() = default;
  virtual bool CreateChildWindow(const std::wstring& url, bool tray) = 0;
};

namespace JS {

// Member createWindow (URL, an unused text, placement "Center" or "Tray" in any letter case)
// -> boolean (DISPID 1).
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
