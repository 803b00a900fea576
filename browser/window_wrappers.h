#pragma once
// "basewnd" over GTK windows: a plain window acted on directly, and a web dialog that is
// asked through its posted messages (so any thread may ask). Also the screen's DPI.
#include <cstdint>
#include <memory>

#include "browser/window_messages.h"
#include "browser/window_wrapper.h"

typedef struct _GtkWidget GtkWidget;

namespace BrowserControl {

// dots per inch = the monitor's scale factor x the X resolution; 96 when unknown.
int32_t DpiFromScale(int scaleFactor, double resolution);

// The DPI of the monitor showing `window` (the primary monitor without one). Main thread.
int32_t ScreenDpi(GtkWidget* window = nullptr);

// Acts on the window directly; messages only for closing. Operations on a window that has
// gone away do nothing. Main thread, except CloseWithExitCode.
class CSingleWindowWrapper : public IWindowWrapper {
 public:
  explicit CSingleWindowWrapper(GtkWidget* window, uint32_t closeMessage = kWindowCloseMessage);

  void Show() override;
  // Sets the size (position kept), centres the window on its monitor's work area, shows it.
  void ShowSized(int32_t width, int32_t height) override;
  void Close() override;
  void Hide() override;
  // Iconifies the window when it is shown and minimising is supported.
  void Minimize() override;
  // False without a window, for a window with a parent (transient for another) or a tool
  // window (utility, toolbar, pop-up); true otherwise.
  bool IsMinimizeSupported() override;
  // Posts the close message with the code.
  void CloseWithExitCode(int32_t code) override;

 protected:
  const std::shared_ptr<CWindowRef>& Window() const { return m_window; }

 private:
  std::shared_ptr<CWindowRef> m_window;
  uint32_t m_closeMessage;
};

// A web dialog: show, show-sized and close-with-code are posted messages of the dialog.
class CBrowserWindowWrapper : public CSingleWindowWrapper {
 public:
  CBrowserWindowWrapper(GtkWidget* window, uint32_t showMessage, uint32_t showSizedMessage,
                        uint32_t closeWithCodeMessage);

  void Show() override;
  void ShowSized(int32_t width, int32_t height) override;
  // CloseWithExitCode (1).
  void Close() override;
  void CloseWithExitCode(int32_t code) override;

 private:
  uint32_t m_show, m_showSized, m_closeWithCode;
};

// Centres a window of `width` x `height` on the work area of the monitor nearest to it.
void CenterWindow(GtkWidget* window, int32_t width, int32_t height);

}  // namespace BrowserControl
