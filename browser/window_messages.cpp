#include "browser/window_messages.h"

#include <gtk/gtk.h>

#include "browser/main_thread.h"

namespace BrowserControl {

namespace {
constexpr const char* kTargetKey = "omk-window-message-target";
}

struct CWindowRef::Impl {
  GWeakRef ref;
};

CWindowRef::CWindowRef(GtkWidget* window) : m_impl(std::make_unique<Impl>()) {
  g_weak_ref_init(&m_impl->ref, window);
}

CWindowRef::~CWindowRef() { g_weak_ref_clear(&m_impl->ref); }

GtkWidget* CWindowRef::Get() const {
  gpointer object = g_weak_ref_get(&m_impl->ref);
  return object ? GTK_WIDGET(object) : nullptr;
}

void SetWindowMessageTarget(GtkWidget* window, IWindowMessageTarget* target) {
  if (window) g_object_set_data(G_OBJECT(window), kTargetKey, target);
}

void PostWindowMessage(const std::shared_ptr<CWindowRef>& window, uint32_t message, uintptr_t wParam,
                       intptr_t lParam) {
  if (!window) return;
  PostToMainThread([window, message, wParam, lParam] {
    GtkWidget* widget = window->Get();
    if (!widget) return;
    auto* target = static_cast<IWindowMessageTarget*>(g_object_get_data(G_OBJECT(widget), kTargetKey));
    if (target) {
      target->OnWindowMessage(message, wParam, lParam);
    } else if (message == kWindowCloseMessage && GTK_IS_WINDOW(widget)) {
      gtk_window_close(GTK_WINDOW(widget));
    }
    g_object_unref(widget);
  });
}

}  // namespace BrowserControl
