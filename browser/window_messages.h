#pragma once
// Posted window messages: a call carried to a window on the main thread, later, from any
// thread. A window that has gone away by then receives nothing.
#include <cstdint>
#include <memory>

typedef struct _GtkWidget GtkWidget;

namespace BrowserControl {

// The window-close message (Alt+F4, the close request of a window wrapper).
inline constexpr uint32_t kWindowCloseMessage = 16;

// Whoever handles a window's messages (a web dialog).
class IWindowMessageTarget {
 public:
  virtual ~IWindowMessageTarget() = default;
  virtual void OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// Routes the messages of `window` to `target` (null: none; a close message then closes the
// window). Main thread.
void SetWindowMessageTarget(GtkWidget* window, IWindowMessageTarget* target);

// A reference to a GTK window that does not keep it alive and may be copied to any thread.
class CWindowRef {
 public:
  explicit CWindowRef(GtkWidget* window);
  ~CWindowRef();
  CWindowRef(const CWindowRef&) = delete;
  CWindowRef& operator=(const CWindowRef&) = delete;
  // The window with an added reference (release with g_object_unref), or null when it is
  // gone. Main thread.
  GtkWidget* Get() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Posts `message` to the window. Safe from any thread.
void PostWindowMessage(const std::shared_ptr<CWindowRef>& window, uint32_t message, uintptr_t wParam = 0,
                       intptr_t lParam = 0);

}  // namespace BrowserControl
