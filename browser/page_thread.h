#pragma once
// The page thread: the one thread on which page script and its objects are used. Native code
// on other threads reaches script only by handing calls to it.
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <deque>
#include <functional>
#include <memory>

namespace BrowserControl {

class IPageThread {
 public:
  virtual ~IPageThread() = default;
  // True when called on the page thread itself.
  virtual bool IsCurrent() const = 0;
  // Queues `call` to run on the page thread after every call queued before it (first in,
  // first out across all posting threads). Never runs it inside Post, even on the page
  // thread. False once the page thread is gone: `call` is then destroyed without running.
  // Calls still queued when the page thread goes away are destroyed without running.
  virtual bool Post(std::function<void()> call) = 0;
};

// A first-in, first-out queue of calls for one page thread: the core of an IPageThread. The
// platform's page thread wraps it: `wake` is called (on the posting thread, outside the
// queue's lock) whenever a call lands in an empty queue, and must arrange that RunPending
// then runs on the page thread (for a GLib main loop: g_main_context_invoke_full from a
// thread that does not own the context, or an idle source attached to it).
class CPageCallQueue {
 public:
  explicit CPageCallQueue(std::function<void()> wake);
  // Closes the queue.
  ~CPageCallQueue();
  CPageCallQueue(const CPageCallQueue&) = delete;
  CPageCallQueue& operator=(const CPageCallQueue&) = delete;

  // False (and `call` destroyed) once closed.
  bool Post(std::function<void()> call);
  // Runs the calls queued so far, in order; calls posted while it runs wait for the next
  // wake. Page thread only. Returns how many ran.
  size_t RunPending();
  // Refuses further calls and destroys the queued ones without running them.
  void Close();

 private:
  boost::mutex m_mutex;
  std::deque<std::function<void()>> m_calls;
  bool m_closed = false;
  std::function<void()> m_wake;
};

// A page thread of its own: a thread that runs posted calls one after the other until it is
// stopped. Tests use it as the page thread; it also serves any component that needs a
// single-threaded home for its objects.
class CQueuedPageThread : public IPageThread, public std::enable_shared_from_this<CQueuedPageThread> {
 public:
  // Starts the thread; each call runs with this object registered as the thread's page
  // thread (CurrentPageThread).
  static std::shared_ptr<CQueuedPageThread> Start();
  // Stops the thread (see Stop).
  ~CQueuedPageThread() override;

  bool IsCurrent() const override;
  bool Post(std::function<void()> call) override;

  // Runs `call` on the page thread and waits for it (an interruption point of the caller);
  // runs it directly when called on the page thread. False when the thread is gone.
  bool RunAndWait(std::function<void()> call);
  // Lets the calls queued so far run, then ends the thread and waits for it; later posts are
  // refused. Not on the page thread itself.
  void Stop();

 private:
  struct Shared;
  CQueuedPageThread() = default;

  std::shared_ptr<Shared> m_shared;  // also held by the thread, which may outlive this object
  boost::thread::id m_id;
  boost::thread m_thread;
};

// The page thread registered for the calling thread: set on the page thread by its owner
// (the browser host, a test) for as long as it runs pages. Null elsewhere.
std::shared_ptr<IPageThread> CurrentPageThread();

// Registers `pageThread` as the calling thread's page thread for the scope's lifetime (the
// earlier registration comes back afterwards). The registration does not keep the page
// thread alive: its owner does.
class CPageThreadScope {
 public:
  explicit CPageThreadScope(std::shared_ptr<IPageThread> pageThread);
  ~CPageThreadScope();
  CPageThreadScope(const CPageThreadScope&) = delete;
  CPageThreadScope& operator=(const CPageThreadScope&) = delete;

 private:
  std::weak_ptr<IPageThread> m_previous;
};

}  // namespace BrowserControl
