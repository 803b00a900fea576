#include "browser/glib_page_thread.h"

#include <mutex>

#include "browser/main_thread.h"

namespace BrowserControl {

CGlibPageThread::CGlibPageThread()
    : m_queue([this] { PostToMainThread([this] { m_queue.RunPending(); }); }) {}

// Never destroyed: worker threads may post until the very end, and the page-thread
// registration must not be undone after the thread's own storage is gone. Kept in variables
// of their own (not optimised away) so that they count as reachable.
extern std::shared_ptr<CGlibPageThread>* g_mainPageThread;
extern CPageThreadScope* g_mainPageThreadScope;
std::shared_ptr<CGlibPageThread>* g_mainPageThread = nullptr;
CPageThreadScope* g_mainPageThreadScope = nullptr;

std::shared_ptr<CGlibPageThread> CGlibPageThread::Main() {
  static std::once_flag once;
  std::call_once(once, [] {
    InitMainThread();
    g_mainPageThread = new std::shared_ptr<CGlibPageThread>(new CGlibPageThread());
    if (IsMainThread()) g_mainPageThreadScope = new CPageThreadScope(*g_mainPageThread);
  });
  return *g_mainPageThread;
}

bool CGlibPageThread::IsCurrent() const { return IsMainThread(); }

bool CGlibPageThread::Post(std::function<void()> call) { return m_queue.Post(std::move(call)); }

}  // namespace BrowserControl
