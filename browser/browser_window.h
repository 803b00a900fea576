#pragma once
// A WebKitGTK web view inside a GTK container, showing one page with window.external, under a
// fixed policy: no context menu, no browser keys, navigation only inside the page's folder,
// no new windows, downloads or permissions, nothing stored on disk.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "browser/js_objects.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace BrowserControl {

class CScriptBridge;

// Shows a context menu of its own at a screen point; the browser never shows its own.
class IContextMenuHandler {
 public:
  virtual ~IContextMenuHandler() = default;
  virtual void ShowContextMenu(int x, int y) = 0;
};

// Signalled when a document (other than about:blank) has completed loading. Any thread may
// wait on it.
class CDocumentWaiter {
 public:
  void Signal();
  void Reset();
  bool IsSignalled() const;
  // False when `timeoutMs` passed first. Not on the main thread, whose loop signals it.
  bool Wait(uint32_t timeoutMs);

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_signalled = false;
};

// True for the keys the browser never sees: the browser keys (back, forward, refresh, stop,
// search, favourites, home), the menu key, F5, F10, Ctrl with F, P, N, O or L, and Alt with
// Left or Right. `keyval` and `state` are GDK's.
bool IsFilteredBrowserKey(unsigned keyval, unsigned state);

class CBrowserWindow {
 public:
  // `mainUrl`: an absolute file path or an address with a scheme.
  CBrowserWindow(std::shared_ptr<JS::CJSObjects> objects, std::wstring mainUrl,
                 std::shared_ptr<IContextMenuHandler> contextMenu = nullptr);
  virtual ~CBrowserWindow();
  CBrowserWindow(const CBrowserWindow&) = delete;
  CBrowserWindow& operator=(const CBrowserWindow&) = delete;

  // Creates the web view inside `parent` (a GtkContainer), publishes the objects and starts
  // loading the main URL. False when there is no parent or the URL cannot be shown.
  bool Create(GtkWidget* parent);

  void Show();
  void Hide();
  bool IsVisible() const;
  // Stops loading.
  void Stop();

  // Calls the page's global function `name` without arguments (nothing when there is none).
  void CallGlobalFunction(const std::wstring& name);

  // The waiter signalled at each document completion.
  void SetDocumentWaiter(std::shared_ptr<CDocumentWaiter> waiter);

  bool CanGoBack() const;
  bool CanGoForward() const;

  GtkWidget* Widget() const;
  WebKitWebView* View() const { return m_view; }
  // The address the window loaded, and the folder whose pages it may show.
  const std::string& PageUri() const { return m_pageUri; }
  const std::string& PageFolder() const { return m_folder; }
  const std::shared_ptr<CScriptBridge>& Bridge() const { return m_bridge; }
  const std::wstring& MainUrl() const { return m_mainUrl; }

 protected:
  // A document other than about:blank completed (also after a failed load).
  virtual void OnDocumentComplete(const std::string& url);

 private:
  struct Signals;
  friend struct Signals;

  std::shared_ptr<JS::CJSObjects> m_objects;
  std::wstring m_mainUrl;
  std::wstring m_secondUrl;  // no caller gives one
  std::shared_ptr<IContextMenuHandler> m_contextMenu;
  std::string m_pageUri;
  std::string m_folder;
  WebKitWebView* m_view = nullptr;
  std::shared_ptr<CScriptBridge> m_bridge;
  std::mutex m_waiterMutex;
  std::shared_ptr<CDocumentWaiter> m_waiter;
};

}  // namespace BrowserControl
