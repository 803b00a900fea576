#include "browser/page_thread.h"

#include <boost/thread/condition_variable.hpp>
#include <utility>

namespace BrowserControl {

namespace {

thread_local std::weak_ptr<IPageThread> t_pageThread;

}  // namespace

std::shared_ptr<IPageThread> CurrentPageThread() { return t_pageThread.lock(); }

CPageThreadScope::CPageThreadScope(std::shared_ptr<IPageThread> pageThread)
    : m_previous(std::exchange(t_pageThread, std::weak_ptr<IPageThread>(pageThread))) {}

CPageThreadScope::~CPageThreadScope() { t_pageThread = std::move(m_previous); }

CPageCallQueue::CPageCallQueue(std::function<void()> wake) : m_wake(std::move(wake)) {}

CPageCallQueue::~CPageCallQueue() { Close(); }

bool CPageCallQueue::Post(std::function<void()> call) {
  bool wake = false;
  {
    boost::lock_guard lock(m_mutex);
    if (m_closed) {
      // Destroyed here, after the lock: it may hold objects whose release takes time.
      std::function<void()> dropped = std::move(call);
      (void)dropped;
      return false;
    }
    wake = m_calls.empty();
    m_calls.push_back(std::move(call));
  }
  if (wake && m_wake) m_wake();
  return true;
}

size_t CPageCallQueue::RunPending() {
  std::deque<std::function<void()>> calls;
  {
    boost::lock_guard lock(m_mutex);
    calls.swap(m_calls);
  }
  size_t ran = 0;
  while (!calls.empty()) {
    auto call = std::move(calls.front());
    calls.pop_front();
    call();
    ++ran;
  }
  return ran;
}

void CPageCallQueue::Close() {
  std::deque<std::function<void()>> dropped;
  boost::lock_guard lock(m_mutex);
  m_closed = true;
  dropped.swap(m_calls);
}

struct CQueuedPageThread::Shared {
  boost::mutex mutex;
  boost::condition_variable changed;
  std::deque<std::function<void()>> calls;
  bool stopping = false;

  void Loop() {
    for (;;) {
      std::function<void()> call;
      {
        boost::unique_lock lock(mutex);
        while (calls.empty() && !stopping) changed.wait(lock);
        if (calls.empty()) return;
        call = std::move(calls.front());
        calls.pop_front();
      }
      try {
        call();
      } catch (...) {
        // A call's failure is its own; the thread goes on with the next one.
      }
    }
  }
};

std::shared_ptr<CQueuedPageThread> CQueuedPageThread::Start() {
  std::shared_ptr<CQueuedPageThread> thread(new CQueuedPageThread());
  thread->m_shared = std::make_shared<Shared>();
  thread->m_thread = boost::thread([shared = thread->m_shared, weak = std::weak_ptr<CQueuedPageThread>(thread)] {
    CPageThreadScope scope(weak.lock());
    shared->Loop();
  });
  thread->m_id = thread->m_thread.get_id();
  return thread;
}

CQueuedPageThread::~CQueuedPageThread() { Stop(); }

bool CQueuedPageThread::IsCurrent() const { return boost::this_thread::get_id() == m_id; }

bool CQueuedPageThread::Post(std::function<void()> call) {
  {
    boost::lock_guard lock(m_shared->mutex);
    if (!m_shared->stopping) {
      m_shared->calls.push_back(std::move(call));
      m_shared->changed.notify_all();
      return true;
    }
  }
  return false;  // `call` is destroyed with this frame, outside the lock
}

namespace {

struct WaitState {
  boost::mutex mutex;
  boost::condition_variable changed;
  bool done = false;
  bool ran = false;
};

// Ends the wait when the posted call is destroyed, whether it ran or not.
struct WaitDone {
  explicit WaitDone(std::shared_ptr<WaitState> s) : state(std::move(s)) {}
  WaitDone(const WaitDone&) = delete;
  WaitDone& operator=(const WaitDone&) = delete;
  ~WaitDone() {
    boost::lock_guard lock(state->mutex);
    state->done = true;
    state->ran = ran;
    state->changed.notify_all();
  }
  std::shared_ptr<WaitState> state;
  bool ran = false;
};

}  // namespace

bool CQueuedPageThread::RunAndWait(std::function<void()> call) {
  if (IsCurrent()) {
    call();
    return true;
  }
  const auto state = std::make_shared<WaitState>();
  auto done = std::make_shared<WaitDone>(state);
  const bool posted = Post([call = std::move(call), done]() mutable {
    call();
    done->ran = true;
  });
  done.reset();
  if (!posted) return false;
  boost::unique_lock lock(state->mutex);
  while (!state->done) state->changed.wait(lock);
  return state->ran;
}

void CQueuedPageThread::Stop() {
  {
    boost::lock_guard lock(m_shared->mutex);
    m_shared->stopping = true;
    m_shared->changed.notify_all();
  }
  if (!m_thread.joinable()) return;
  if (IsCurrent()) {
    m_thread.detach();  // the last owner let go on the thread itself: it ends on its own
    return;
  }
  boost::this_thread::disable_interruption noInterruption;
  m_thread.join();
}

}  // namespace BrowserControl
