#pragma once
// The page thread of the browser host: the GTK main thread, reached through its GLib main
// context.
#include <memory>

#include "browser/page_thread.h"

namespace BrowserControl {

class CGlibPageThread : public IPageThread {
 public:
  // The main thread's page thread; the first call (on the main thread) also registers it as
  // that thread's page thread (CurrentPageThread). Lives until the program ends.
  static std::shared_ptr<CGlibPageThread> Main();

  bool IsCurrent() const override;
  bool Post(std::function<void()> call) override;

 private:
  CGlibPageThread();
  CPageCallQueue m_queue;
};

}  // namespace BrowserControl
