#pragma once
// The web dialogs: a frameless window whose whole area is a browser window. It starts hidden
// and shows itself only when its page asks (through "basewnd"), ends by itself when the page
// has not asked within the show time-out, and ends with the code the page chooses.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "browser/browser_window.h"
#include "browser/js_objects.h"
#include "browser/window_messages.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GMainLoop GMainLoop;

namespace BrowserControl {

// Private messages of the web dialogs (posted; 5386 is not used).
inline constexpr uint32_t WM_WEB_END = 5385;              // end code
inline constexpr uint32_t WM_WEB_SHOW_SIZED = 5387;       // width, height
inline constexpr uint32_t WM_WEB_SHOW = 5388;
inline constexpr uint32_t WM_WEB_CLOSE_WITH_CODE = 5389;  // code
inline constexpr uint32_t WM_WEB_SHOW_SIZED_2 = 5390;     // width, height
inline constexpr uint32_t WM_WEB_SHOW_2 = 5391;
inline constexpr uint32_t WM_WEB_CLOSE_2 = 5392;

// The end code of a dialog whose page never showed it.
inline constexpr int32_t kExitNotShown = 32000;
inline constexpr uint32_t kShowTimeoutMs = 10000;

// Position modes.
inline constexpr int32_t kPositionCenter = 0;
inline constexpr int32_t kPositionTray = 1;

class CWebBaseDlgImpl : public IWindowMessageTarget {
 public:
  CWebBaseDlgImpl(std::wstring mainUrl, std::wstring secondUrl, int32_t positionMode,
                  uint32_t showTimeoutMs = kShowTimeoutMs);
  ~CWebBaseDlgImpl() override;
  CWebBaseDlgImpl(const CWebBaseDlgImpl&) = delete;
  CWebBaseDlgImpl& operator=(const CWebBaseDlgImpl&) = delete;

  // The dialog's GTK window (null before creation and after destruction).
  GtkWidget* Window() const { return m_window; }
  bool IsShown() const { return m_shown.load(); }
  bool IsInitialised() const { return m_initialised.load(); }
  CBrowserWindow* MainBrowser() const { return m_browser.get(); }
  CBrowserWindow* SecondBrowser() const { return m_secondBrowser.get(); }
  int32_t PositionMode() const { return m_positionMode; }

  // Posts a message to this dialog. Any thread.
  void PostMessage(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

  void OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

 protected:
  // Creates the hidden window (modal over `parent` when given) and initialises it. False
  // when the window cannot be made.
  bool CreateDialogWindow(GtkWidget* parent, bool modal);
  // Destroys the browsers and the window.
  void DestroyDialogWindow();

  // The dialog's own initialisation; subclasses that extend it call the base after theirs.
  virtual void OnInitDialog();
  // Fills the container published as window.external. The base adds the default objects.
  virtual void RegisterJSObjects(JS::CJSObjects& container);
  // Context-menu handler of the main browser window (none).
  virtual std::shared_ptr<IContextMenuHandler> ContextMenuHandler() { return nullptr; }
  // Ends the dialog's life with `code`.
  virtual void EndWithCode(int32_t code) = 0;
  // The window-close message (Alt+F4, the window manager's close): ends with `code`.
  virtual void OnClose(int32_t code);
  // The pixel position of a window of the given size in this dialog's position mode.
  void PlaceWindow(int32_t width, int32_t height);

  const std::shared_ptr<CWindowRef>& WindowRef() const { return m_windowRef; }

 private:
  struct Signals;
  void KillShowTimer();
  void End(int32_t code);

  GtkWidget* m_window = nullptr;
  GtkWidget* m_layer = nullptr;  // overlay holding both browser windows
  std::shared_ptr<CWindowRef> m_windowRef;
  uint32_t m_showTimeoutMs;
  unsigned m_showTimer = 0;
  std::unique_ptr<CBrowserWindow> m_browser;
  std::unique_ptr<CBrowserWindow> m_secondBrowser;
  std::atomic<bool> m_shown{false};
  std::atomic<bool> m_initialised{false};
  std::wstring m_mainUrl;
  std::wstring m_secondUrl;
  int32_t m_positionMode;
};

// A modal web dialog: DoModal runs until the dialog ends and returns its end code.
class CWebBaseModalDlg : public CWebBaseDlgImpl {
 public:
  using CWebBaseDlgImpl::CWebBaseDlgImpl;
  ~CWebBaseModalDlg() override;

  // -1 when the window cannot be created.
  int32_t DoModal(GtkWidget* parent = nullptr);

 protected:
  void EndWithCode(int32_t code) override;

 private:
  GMainLoop* m_loop = nullptr;
  int32_t m_code = 0;
  bool m_ended = false;
};

// A modeless web dialog: lives until its page closes it (or it is never shown); nobody
// collects its end code.
class CWebBaseModelessDlg : public CWebBaseDlgImpl, public std::enable_shared_from_this<CWebBaseModelessDlg> {
 public:
  static std::shared_ptr<CWebBaseModelessDlg> Make(std::wstring mainUrl, std::wstring secondUrl, int32_t positionMode,
                                                   uint32_t showTimeoutMs = kShowTimeoutMs);
  ~CWebBaseModelessDlg() override;

  // Creates the window (without a parent when `parent` is null). The dialog keeps itself
  // alive until it ends. True when the window exists afterwards.
  bool Create(GtkWidget* parent = nullptr);
  bool HasEnded() const { return m_ended; }
  int32_t EndCode() const { return m_code; }

  // The modeless dialogs that have not ended yet, and ending them all (at exit).
  static std::vector<std::shared_ptr<CWebBaseModelessDlg>> OpenDialogs();
  static void CloseAll();

 protected:
  using CWebBaseDlgImpl::CWebBaseDlgImpl;
  void EndWithCode(int32_t code) override;

 private:
  bool m_ended = false;
  int32_t m_code = 0;
};

}  // namespace BrowserControl
