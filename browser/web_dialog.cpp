#include "browser/web_dialog.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <vector>

#include "browser/child_creator.h"
#include "browser/default_objects.h"
#include "browser/main_thread.h"
#include "browser/tray_placement.h"
#include "browser/window_wrappers.h"
#include "browser/page_address.h"
#include "platform/text.h"

namespace BrowserControl {

namespace {

// Larger windows than this are not made, whatever a page asks.
constexpr int32_t kMaxWindowSide = 16384;

ScreenRect ToRect(const GdkRectangle& r) { return {r.x, r.y, r.x + r.width, r.y + r.height}; }

// The taskbar rectangle and the work area beside it, from the primary monitor.
void TaskbarAndWorkArea(GtkWidget* window, ScreenRect& taskbar, ScreenRect& workArea) {
  GdkDisplay* display = window ? gtk_widget_get_display(window) : gdk_display_get_default();
  GdkMonitor* primary = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!primary && display && gdk_display_get_n_monitors(display) > 0) primary = gdk_display_get_monitor(display, 0);
  if (!primary) {
    taskbar = {};
    workArea = {0, 0, 1024, 768};
    return;
  }
  GdkRectangle geometry, area;
  gdk_monitor_get_geometry(primary, &geometry);
  gdk_monitor_get_workarea(primary, &area);
  taskbar = TaskbarFromWorkArea(ToRect(geometry), ToRect(area));
  workArea = ToRect(area);
  if (!taskbar.IsEmpty()) {
    // The work area of the monitor nearest to the taskbar's corner.
    GdkMonitor* near = gdk_display_get_monitor_at_point(display, taskbar.left + 1, taskbar.top);
    if (near) {
      gdk_monitor_get_workarea(near, &area);
      workArea = ToRect(area);
    }
  }
}

std::vector<std::shared_ptr<CWebBaseModelessDlg>>& OpenModeless() {
  static auto* open = new std::vector<std::shared_ptr<CWebBaseModelessDlg>>();
  return *open;
}

}  // namespace

struct CWebBaseDlgImpl::Signals {
  static gboolean Delete(GtkWidget*, GdkEvent*, gpointer data) {
    static_cast<CWebBaseDlgImpl*>(data)->OnWindowMessage(kWindowCloseMessage, 0, 0);
    return TRUE;  // the dialog decides; GTK does not destroy the window
  }
  static gboolean ShowTimer(gpointer data) {
    auto* self = static_cast<CWebBaseDlgImpl*>(data);
    self->m_showTimer = 0;
    if (!self->m_shown.load()) self->PostMessage(WM_WEB_END, static_cast<uintptr_t>(kExitNotShown));
    return G_SOURCE_REMOVE;
  }
};

CWebBaseDlgImpl::CWebBaseDlgImpl(std::wstring mainUrl, std::wstring secondUrl, int32_t positionMode,
                                 uint32_t showTimeoutMs)
    : m_showTimeoutMs(showTimeoutMs),
      m_mainUrl(std::move(mainUrl)),
      m_secondUrl(std::move(secondUrl)),
      m_positionMode(positionMode) {}

CWebBaseDlgImpl::~CWebBaseDlgImpl() { DestroyDialogWindow(); }

void CWebBaseDlgImpl::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  PostWindowMessage(m_windowRef, message, wParam, lParam);
}

bool CWebBaseDlgImpl::CreateDialogWindow(GtkWidget* parent, bool modal) {
  InitMainThread();
  if (m_window) return false;
  if (!gdk_display_get_default()) return false;
  m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (!m_window) return false;
  g_object_ref_sink(m_window);
  gtk_window_set_decorated(GTK_WINDOW(m_window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(m_window), 474, 296);
  if (parent && GTK_IS_WINDOW(parent)) gtk_window_set_transient_for(GTK_WINDOW(m_window), GTK_WINDOW(parent));
  gtk_window_set_modal(GTK_WINDOW(m_window), modal ? TRUE : FALSE);
  m_layer = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(m_window), m_layer);
  gtk_widget_show(m_layer);
  m_windowRef = std::make_shared<CWindowRef>(m_window);
  SetWindowMessageTarget(m_window, this);
  g_signal_connect(m_window, "delete-event", G_CALLBACK(Signals::Delete), this);
  OnInitDialog();
  return true;
}

void CWebBaseDlgImpl::DestroyDialogWindow() {
  KillShowTimer();
  m_browser.reset();
  m_secondBrowser.reset();
  if (m_window) {
    SetWindowMessageTarget(m_window, nullptr);
    g_signal_handlers_disconnect_by_data(m_window, this);
    gtk_widget_destroy(m_window);
    g_object_unref(m_window);
    m_window = nullptr;
    m_layer = nullptr;
  }
}

void CWebBaseDlgImpl::OnInitDialog() {
  // Nothing is visible until the page asks: the window stays unmapped.
  if (m_mainUrl.empty()) {
    PostMessage(WM_WEB_END, 0);
    return;
  }
  if (!m_secondUrl.empty()) {
    auto second = std::make_shared<JS::CJSObjectsSimpleContainer>();
    auto wrapper = std::make_shared<CBrowserWindowWrapper>(m_window, WM_WEB_SHOW_2, WM_WEB_SHOW_SIZED_2, WM_WEB_CLOSE_2);
    auto windowRef = m_windowRef;
    auto basewnd = MakeComObject<JS::CJSWindowWrapper>(wrapper, [windowRef] {
      GtkWidget* w = windowRef->Get();
      const int32_t dpi = ScreenDpi(w);
      if (w) g_object_unref(w);
      return dpi;
    });
    JS::AddObject(*second, basewnd.get());
    m_secondBrowser = std::make_unique<CBrowserWindow>(second, m_secondUrl);
    if (!m_secondBrowser->Create(m_layer)) m_secondBrowser.reset();
  }
  auto container = std::make_shared<JS::CJSObjectsSimpleContainer>();
  RegisterJSObjects(*container);
  m_browser = std::make_unique<CBrowserWindow>(container, m_mainUrl, ContextMenuHandler());
  if (!m_browser->Create(m_layer)) {
    m_browser.reset();
  } else {
    m_browser->Hide();
  }
  m_showTimer = g_timeout_add(m_showTimeoutMs, Signals::ShowTimer, this);
  m_initialised.store(true);
}

void CWebBaseDlgImpl::RegisterJSObjects(JS::CJSObjects& container) {
  DefaultObjectParts parts;
  parts.window = std::make_shared<CBrowserWindowWrapper>(m_window, WM_WEB_SHOW, WM_WEB_SHOW_SIZED, WM_WEB_CLOSE_WITH_CODE);
  auto windowRef = m_windowRef;
  parts.dpi = [windowRef] {
    GtkWidget* w = windowRef->Get();
    const int32_t dpi = ScreenDpi(w);
    if (w) g_object_unref(w);
    return dpi;
  };
  parts.childCreator = std::make_shared<CChildCreator>(PageUriFromTarget(Platform::WideToUtf8(m_mainUrl)));
  container.AddAll(*CreateDefaultObjects(std::move(parts)));
}

void CWebBaseDlgImpl::KillShowTimer() {
  if (m_showTimer) {
    g_source_remove(m_showTimer);
    m_showTimer = 0;
  }
}

void CWebBaseDlgImpl::PlaceWindow(int32_t width, int32_t height) {
  if (m_positionMode == kPositionTray) {
    ScreenRect taskbar, workArea;
    TaskbarAndWorkArea(m_window, taskbar, workArea);
    const ScreenPoint at = TrayPosition(taskbar, workArea, width, height);
    gtk_window_move(GTK_WINDOW(m_window), at.x, at.y);
  } else if (m_positionMode == kPositionCenter) {
    CenterWindow(m_window, width, height);
  }
}

void CWebBaseDlgImpl::End(int32_t code) {
  if (m_browser) m_browser->Stop();
  if (m_secondBrowser) m_secondBrowser->Stop();
  KillShowTimer();
  EndWithCode(code);
}

void CWebBaseDlgImpl::OnClose(int32_t code) { End(code); }

void CWebBaseDlgImpl::OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!m_window) return;
  const auto width = static_cast<int32_t>(static_cast<uint32_t>(wParam));
  const auto height = static_cast<int32_t>(lParam);
  const bool sizeOk = width > 0 && height > 0 && width <= kMaxWindowSide && height <= kMaxWindowSide;
  switch (message) {
    case WM_WEB_SHOW_SIZED: {
      KillShowTimer();
      gtk_widget_hide(m_window);
      if (GtkWindow* parent = gtk_window_get_transient_for(GTK_WINDOW(m_window))) {
        if (GdkWindow* p = gtk_widget_get_window(GTK_WIDGET(parent))) gdk_window_raise(p);
      }
      if (m_secondBrowser) m_secondBrowser->Hide();
      if (m_initialised.load() && m_browser && sizeOk) {
        m_shown.store(true);
        gtk_window_resize(GTK_WINDOW(m_window), width, height);
        PlaceWindow(width, height);
        m_browser->Show();
        gtk_widget_show(m_window);
      } else {
        PostMessage(WM_WEB_END, 0);
      }
      break;
    }
    case WM_WEB_SHOW:
      KillShowTimer();
      gtk_widget_hide(m_window);
      if (m_secondBrowser) m_secondBrowser->Hide();
      if (m_initialised.load() && m_browser) {
        m_shown.store(true);
        m_browser->Show();
        gtk_widget_show(m_window);
      } else {
        PostMessage(WM_WEB_END, 0);
      }
      break;
    case WM_WEB_CLOSE_WITH_CODE:
      PostMessage(WM_WEB_END, m_shown.load() ? wParam : static_cast<uintptr_t>(kExitNotShown));
      break;
    case WM_WEB_SHOW_SIZED_2:
      if (m_shown.load() || !m_secondBrowser || !sizeOk) break;
      gtk_window_resize(GTK_WINDOW(m_window), width, height);
      PlaceWindow(width, height);
      m_secondBrowser->Show();
      gtk_widget_show(m_window);
      break;
    case WM_WEB_SHOW_2:
      if (m_shown.load() || !m_secondBrowser) break;
      gtk_widget_show(m_window);
      m_secondBrowser->Show();
      break;
    case WM_WEB_CLOSE_2:
      PostMessage(WM_WEB_END, 1);
      break;
    case WM_WEB_END:
      End(static_cast<int32_t>(static_cast<uint32_t>(wParam)));
      break;
    case kWindowCloseMessage:
      OnClose(static_cast<int32_t>(static_cast<uint32_t>(wParam)));
      break;
    default:
      break;
  }
}

CWebBaseModalDlg::~CWebBaseModalDlg() {
  if (m_loop) g_main_loop_unref(m_loop);
}

int32_t CWebBaseModalDlg::DoModal(GtkWidget* parent) {
  if (m_loop) return -1;  // already running
  if (!CreateDialogWindow(parent, true)) return -1;
  m_ended = false;
  m_loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(m_loop);
  g_main_loop_unref(m_loop);
  m_loop = nullptr;
  DestroyDialogWindow();
  return m_code;
}

void CWebBaseModalDlg::EndWithCode(int32_t code) {
  if (m_ended) return;
  m_ended = true;
  m_code = code;
  gtk_widget_hide(Window());
  // From a low-priority idle: the answer to the page's close() call is delivered first.
  GMainLoop* loop = g_main_loop_ref(m_loop);
  PostToMainThread(
      [loop] {
        g_main_loop_quit(loop);
        g_main_loop_unref(loop);
      },
      kPostLow);
}

std::shared_ptr<CWebBaseModelessDlg> CWebBaseModelessDlg::Make(std::wstring mainUrl, std::wstring secondUrl,
                                                               int32_t positionMode, uint32_t showTimeoutMs) {
  return std::shared_ptr<CWebBaseModelessDlg>(
      new CWebBaseModelessDlg(std::move(mainUrl), std::move(secondUrl), positionMode, showTimeoutMs));
}

CWebBaseModelessDlg::~CWebBaseModelessDlg() = default;

bool CWebBaseModelessDlg::Create(GtkWidget* parent) {
  if (!CreateDialogWindow(parent, false)) return false;
  OpenModeless().push_back(shared_from_this());
  return Window() != nullptr;
}

void CWebBaseModelessDlg::EndWithCode(int32_t code) {
  if (m_ended) return;
  m_ended = true;
  m_code = code;
  if (Window()) gtk_widget_hide(Window());
  PostToMainThread(
      [self = shared_from_this()] {
        auto& open = OpenModeless();
        open.erase(std::remove(open.begin(), open.end(), self), open.end());
        self->DestroyDialogWindow();
      },
      kPostLow);
}

std::vector<std::shared_ptr<CWebBaseModelessDlg>> CWebBaseModelessDlg::OpenDialogs() { return OpenModeless(); }

void CWebBaseModelessDlg::CloseAll() {
  auto open = std::move(OpenModeless());
  OpenModeless().clear();
  for (auto& dialog : open) {
    dialog->m_ended = true;
    dialog->DestroyDialogWindow();
  }
}

}  // namespace BrowserControl
