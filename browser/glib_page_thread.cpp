#include "browser/glib_page_thread.h"

#include <mutex>

#include "browser/main_thread.h"

namespace BrowserControl {

CGlibPageThread::CGlibPageThread()
    : m_queue([this] { PostToMainThread([this] { m_queue.RunPending(); }); }) {}

std::shared_ptr<CGlibPageThread> CGlibPageThread::Main() {
  static std::once_flag once;
  static std::shared_ptr<CGlibPageThread>* main = nullptr;
  std::call_once(once, [] {
    InitMainThread();
    // Never destroyed: worker threads may still post while the program ends.
    main = new std::shared_ptr<CGlibPageThread>(new CGlibPageThread());
    if (IsMainThread()) new CPageThreadScope(*main);
  });
  return *main;
}

bool CGlibPageThread::IsCurrent() const { return IsMainThread(); }

bool CGlibPageThread::Post(std::function<void()> call) { return m_queue.Post(std::move(call)); }

}  // namespace BrowserControl
