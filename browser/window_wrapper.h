#pragma once
// The hosting window as page script sees it ("basewnd").
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "browser/custom_object.h"

namespace BrowserControl {

// The window a page lives in. The platform's window classes implement it.
class IWindowWrapper {
 public:
  virtual ~IWindowWrapper() = default;
  virtual void Show() = 0;
  // Sets the size, centres the window and shows it.
  virtual void ShowSized(int32_t width, int32_t height) = 0;
  virtual void Close() = 0;
  virtual void Hide() = 0;
  virtual void Minimize() = 0;
  virtual bool IsMinimizeSupported() = 0;
  virtual void CloseWithExitCode(int32_t code) = 0;
};

// The screen's horizontal resolution in dots per inch (96 when unknown).
using DpiSource = std::function<int32_t()>;

// Truncation of dpi x 100 / 96 (96 -> 100, 120 -> 125, 144 -> 150).
int32_t DpiPercent(int32_t dpi);

namespace JS {

// "basewnd": members hide, close, show, minimize, isMinimizeSupported, getDPI,
// closeWithExitCode (DISPIDs 1-7).
class CJSWindowWrapper : public custom_object<CJSWindowWrapper> {
 public:
  // Without a DPI source "getDPI" reports 96 DPI.
  explicit CJSWindowWrapper(std::shared_ptr<IWindowWrapper> window, DpiSource dpi = {});
  std::wstring GetName() const override { return L"basewnd"; }

  virtual HRESULT Hide(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);
  virtual HRESULT Close(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);
  virtual HRESULT Show(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);
  virtual HRESULT Minimize(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);
  virtual HRESULT IsMinimizeSupported(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                      uint32_t* argError);
  virtual HRESULT GetDPI(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, uint32_t* argError);
  virtual HRESULT CloseWithExitCode(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                    uint32_t* argError);

 private:
  std::shared_ptr<IWindowWrapper> m_window;
  DpiSource m_dpi;
};

}  // namespace JS
}  // namespace BrowserControl
