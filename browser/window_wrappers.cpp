#include "browser/window_wrappers.h"

#include <gtk/gtk.h>

namespace BrowserControl {

namespace {

// Holds the window for one operation; empty when it has gone away.
class CLocked {
 public:
  explicit CLocked(const std::shared_ptr<CWindowRef>& ref) : m_widget(ref ? ref->Get() : nullptr) {}
  ~CLocked() {
    if (m_widget) g_object_unref(m_widget);
  }
  GtkWindow* window() const { return m_widget && GTK_IS_WINDOW(m_widget) ? GTK_WINDOW(m_widget) : nullptr; }

 private:
  GtkWidget* m_widget;
};

GdkMonitor* MonitorOf(GtkWidget* window) {
  GdkDisplay* display = window ? gtk_widget_get_display(window) : gdk_display_get_default();
  if (!display) return nullptr;
  if (window) {
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    if (gdkWindow) {
      if (GdkMonitor* monitor = gdk_display_get_monitor_at_window(display, gdkWindow)) return monitor;
    }
  }
  if (GdkMonitor* primary = gdk_display_get_primary_monitor(display)) return primary;
  return gdk_display_get_n_monitors(display) > 0 ? gdk_display_get_monitor(display, 0) : nullptr;
}

}  // namespace

int32_t DpiFromScale(int scaleFactor, double resolution) {
  if (resolution <= 0) resolution = 96;
  if (scaleFactor < 1) scaleFactor = 1;
  return static_cast<int32_t>(scaleFactor * resolution);
}

int32_t ScreenDpi(GtkWidget* window) {
  GdkMonitor* monitor = MonitorOf(window);
  GdkScreen* screen = window ? gtk_widget_get_screen(window) : gdk_screen_get_default();
  const int scale = monitor ? gdk_monitor_get_scale_factor(monitor) : 1;
  return DpiFromScale(scale, screen ? gdk_screen_get_resolution(screen) : -1);
}

void CenterWindow(GtkWidget* window, int32_t width, int32_t height) {
  GdkMonitor* monitor = MonitorOf(window);
  GdkRectangle area{0, 0, 1024, 768};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  gtk_window_move(GTK_WINDOW(window), area.x + (area.width - width) / 2, area.y + (area.height - height) / 2);
}

CSingleWindowWrapper::CSingleWindowWrapper(GtkWidget* window, uint32_t closeMessage)
    : m_window(std::make_shared<CWindowRef>(window)), m_closeMessage(closeMessage) {}

void CSingleWindowWrapper::Show() {
  CLocked w(m_window);
  if (w.window()) gtk_widget_show(GTK_WIDGET(w.window()));
}

void CSingleWindowWrapper::ShowSized(int32_t width, int32_t height) {
  CLocked w(m_window);
  if (!w.window() || width <= 0 || height <= 0) return;
  gtk_window_resize(w.window(), width, height);
  CenterWindow(GTK_WIDGET(w.window()), width, height);
  gtk_widget_show(GTK_WIDGET(w.window()));
}

void CSingleWindowWrapper::Close() { CloseWithExitCode(0); }

void CSingleWindowWrapper::Hide() {
  CLocked w(m_window);
  if (w.window()) gtk_widget_hide(GTK_WIDGET(w.window()));
}

void CSingleWindowWrapper::Minimize() {
  CLocked w(m_window);
  if (w.window() && gtk_widget_get_visible(GTK_WIDGET(w.window())) && IsMinimizeSupported()) {
    gtk_window_iconify(w.window());
  }
}

bool CSingleWindowWrapper::IsMinimizeSupported() {
  CLocked w(m_window);
  GtkWindow* window = w.window();
  if (!window) return false;
  if (gtk_window_get_transient_for(window) || gtk_widget_get_parent(GTK_WIDGET(window))) return false;
  if (gtk_window_get_window_type(window) == GTK_WINDOW_POPUP) return false;
  switch (gtk_window_get_type_hint(window)) {
    case GDK_WINDOW_TYPE_HINT_UTILITY:
    case GDK_WINDOW_TYPE_HINT_TOOLBAR:
    case GDK_WINDOW_TYPE_HINT_MENU:
    case GDK_WINDOW_TYPE_HINT_TOOLTIP:
    case GDK_WINDOW_TYPE_HINT_POPUP_MENU:
    case GDK_WINDOW_TYPE_HINT_DROPDOWN_MENU:
    case GDK_WINDOW_TYPE_HINT_NOTIFICATION:
    case GDK_WINDOW_TYPE_HINT_COMBO:
    case GDK_WINDOW_TYPE_HINT_DND:
    case GDK_WINDOW_TYPE_HINT_DOCK:
      return false;
    default:
      return true;
  }
}

void CSingleWindowWrapper::CloseWithExitCode(int32_t code) {
  PostWindowMessage(m_window, m_closeMessage, static_cast<uintptr_t>(static_cast<uint32_t>(code)));
}

CBrowserWindowWrapper::CBrowserWindowWrapper(GtkWidget* window, uint32_t showMessage, uint32_t showSizedMessage,
                                             uint32_t closeWithCodeMessage)
    : CSingleWindowWrapper(window),
      m_show(showMessage),
      m_showSized(showSizedMessage),
      m_closeWithCode(closeWithCodeMessage) {}

void CBrowserWindowWrapper::Show() { PostWindowMessage(Window(), m_show); }

void CBrowserWindowWrapper::ShowSized(int32_t width, int32_t height) {
  PostWindowMessage(Window(), m_showSized, static_cast<uintptr_t>(static_cast<uint32_t>(width)),
                    static_cast<intptr_t>(height));
}

void CBrowserWindowWrapper::Close() { CloseWithExitCode(1); }

void CBrowserWindowWrapper::CloseWithExitCode(int32_t code) {
  PostWindowMessage(Window(), m_closeWithCode, static_cast<uintptr_t>(static_cast<uint32_t>(code)));
}

}  // namespace BrowserControl
