// Calls into script objects from other threads: they run on the page thread, in order, and
// a waiting caller never hangs: not when it is interrupted, not when the page thread goes
// away, not when the page thread joins it.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/thread/latch.hpp>
#include <memory>
#include <vector>

#include "browser/marshaled_interface_pointer.h"
#include "browser/page_thread.h"
#include "tests/browser/script_test_support.h"

namespace {

using namespace BrowserControl;
using BrowserTest::Call;
using BrowserTest::CRecorder;
using BrowserTest::RecordedCall;
using BrowserTest::Str;
using Pointer = marshaled_interface_pointer<IDispatch>;

CComPtr<CRecorder> Recorder() { return MakeComObject<CRecorder>(std::vector<std::wstring>{L"onProgress", L"onDone"}); }

boost::thread::id PageThreadId(CQueuedPageThread& page) {
  boost::thread::id id;
  page.RunAndWait([&] { id = boost::this_thread::get_id(); });
  return id;
}

// A page thread that reports each call posted to it.
class CWatchedPageThread : public IPageThread {
 public:
  explicit CWatchedPageThread(std::shared_ptr<IPageThread> inner) : m_inner(std::move(inner)) {}
  bool IsCurrent() const override { return m_inner->IsCurrent(); }
  bool Post(std::function<void()> call) override {
    const bool posted = m_inner->Post(std::move(call));
    {
      boost::lock_guard lock(m_mutex);
      ++m_posts;
    }
    m_changed.notify_all();
    return posted;
  }
  void WaitForPosts(int n) {
    boost::unique_lock lock(m_mutex);
    while (m_posts < n) m_changed.wait(lock);
  }

 private:
  std::shared_ptr<IPageThread> m_inner;
  boost::mutex m_mutex;
  boost::condition_variable m_changed;
  int m_posts = 0;
};

TEST(MarshaledPointerTest, TheObjectOnThePageThreadAProxyElsewhere) {
  const auto page = CQueuedPageThread::Start();
  const auto pageId = PageThreadId(*page);
  const auto recorder = Recorder();
  std::unique_ptr<Pointer> pointer;
  page->RunAndWait([&] {
    // Made on the page thread, it finds that thread by itself.
    pointer = std::make_unique<Pointer>(recorder.get());
    EXPECT_EQ(pointer->Get().get(), recorder.get());
  });

  const CComPtr<IDispatch> proxy = pointer->Get();
  ASSERT_TRUE(proxy);
  EXPECT_NE(proxy.get(), static_cast<IDispatch*>(recorder.get()));
  EXPECT_EQ(Call(proxy.get(), L"onProgress", {Str(L"5"), MakeVariantI4(7)}, false).hr, S_OK);
  EXPECT_EQ(Call(proxy.get(), L"unknown", {}, false).hr, E_NOTIMPL);  // codes come back as they are
  EXPECT_EQ(pointer->CallMethod(L"onDone"), S_OK);
  EXPECT_EQ(pointer->CallMethod(L"missing"), E_NOTIMPL);

  const auto calls = recorder->Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].method, L"onProgress");
  EXPECT_EQ(calls[0].thread, pageId);
  ASSERT_EQ(calls[0].args.size(), 2u);
  EXPECT_EQ(*calls[0].args[0].bstrVal, L"5");  // script order kept across the hop
  EXPECT_EQ(calls[0].args[1].lVal, 7);
  EXPECT_EQ(calls[1].method, L"onDone");
  EXPECT_EQ(calls[1].thread, pageId);

  // An object in a result crosses as a proxy of its own.
  VARIANT self;
  ASSERT_EQ(proxy->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &self, nullptr, nullptr), S_OK);
  ASSERT_EQ(self.vt, VT_DISPATCH);
  EXPECT_NE(self.pdispVal.get(), static_cast<IDispatch*>(recorder.get()));
  EXPECT_EQ(Call(self.pdispVal.get(), L"onDone", {}, false).hr, S_OK);
  EXPECT_EQ(recorder->Calls().back().thread, pageId);

}

TEST(MarshaledPointerTest, WithoutMarshallingOrWithoutAPageThread) {
  const auto page = CQueuedPageThread::Start();
  const auto recorder = Recorder();
  Pointer local(recorder.get(), page, true);
  EXPECT_EQ(local.Get(), nullptr);
  EXPECT_EQ(local.CallMethod(L"onDone"), RPC_E_WRONG_THREAD);
  page->RunAndWait([&] { EXPECT_EQ(local.Get().get(), recorder.get()); });

  // Made on a thread that serves no pages: usable there only.
  Pointer unhomed(recorder.get());
  EXPECT_EQ(unhomed.Get().get(), recorder.get());
  EXPECT_EQ(unhomed.CallMethod(L"onDone"), S_OK);
  page->RunAndWait([&] {
    EXPECT_EQ(unhomed.Get(), nullptr);
    EXPECT_EQ(unhomed.CallMethod(L"onDone"), RPC_E_WRONG_THREAD);
  });
  EXPECT_EQ(recorder->Calls().size(), 1u);
}

TEST(MarshaledPointerTest, CallsFromWorkersRunOnThePageThreadInTheOrderMade) {
  const auto page = CQueuedPageThread::Start();
  const auto pageId = PageThreadId(*page);
  const auto recorder = Recorder();
  Pointer pointer(recorder.get(), page);
  constexpr int kWorkers = 4;
  constexpr int kCalls = 100;
  boost::thread_group workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.create_thread([&, w] {
      for (int i = 0; i < kCalls; ++i) {
        EXPECT_EQ(pointer.CallMethod(L"onProgress", {MakeVariantI4(w), MakeVariantI4(i)}), S_OK);
      }
    });
  }
  workers.join_all();
  const auto calls = recorder->Calls();
  ASSERT_EQ(calls.size(), static_cast<size_t>(kWorkers * kCalls));
  std::vector<int> next(kWorkers, 0);
  for (const auto& c : calls) {
    EXPECT_EQ(c.thread, pageId);
    const int w = c.args.at(0).lVal;
    EXPECT_EQ(c.args.at(1).lVal, next[w]) << "worker " << w;
    next[w] = c.args.at(1).lVal + 1;
  }

  // Each call returns only once it has run: a second worker started after the first one's
  // call returned is seen after it.
  boost::thread([&] { pointer.CallMethod(L"onDone", {MakeVariantI4(1)}); }).join();
  boost::thread([&] { pointer.CallMethod(L"onDone", {MakeVariantI4(2)}); }).join();
  const auto last = recorder->Calls();
  EXPECT_EQ(last[last.size() - 2].args[0].lVal, 1);
  EXPECT_EQ(last.back().args[0].lVal, 2);
}

TEST(MarshaledPointerTest, AnInterruptedWorkerStopsWaitingAndItsCallIsDropped) {
  const auto page = CQueuedPageThread::Start();
  auto watched = std::make_shared<CWatchedPageThread>(page);
  const auto recorder = Recorder();
  Pointer pointer(recorder.get(), watched);

  boost::latch gate(1);
  page->Post([&] { gate.wait(); });  // the page thread is busy
  std::atomic<bool> interrupted{false};
  boost::thread worker([&] {
    try {
      pointer.CallMethod(L"onProgress");
    } catch (const boost::thread_interrupted&) {
      interrupted = true;
    }
  });
  watched->WaitForPosts(1);  // the worker's call is queued; it waits for the page thread
  worker.interrupt();
  worker.join();
  EXPECT_TRUE(interrupted);

  gate.count_down();
  page->RunAndWait([] {});
  EXPECT_TRUE(recorder->Calls().empty());
}

TEST(MarshaledPointerTest, ThePageThreadJoiningACallingWorkerDoesNotDeadlock) {
  const auto page = CQueuedPageThread::Start();
  auto watched = std::make_shared<CWatchedPageThread>(page);
  const auto recorder = Recorder();
  Pointer pointer(recorder.get(), watched);
  bool joined = false;
  page->RunAndWait([&] {
    // As a Stop on the page thread: a worker calls back until it is stopped.
    boost::thread worker([&] {
      for (;;) pointer.CallMethod(L"onProgress");
    });
    watched->WaitForPosts(1);  // it is waiting for this very thread
    worker.interrupt();
    worker.join();
    joined = true;
  });
  EXPECT_TRUE(joined);
}

// A page thread that the test drives by hand.
class CManualPageThread : public IPageThread {
 public:
  bool IsCurrent() const override { return boost::this_thread::get_id() == m_id; }
  bool Post(std::function<void()> call) override {
    const bool posted = queue.Post(std::move(call));
    {
      boost::lock_guard lock(m_mutex);
      ++m_posts;
    }
    m_changed.notify_all();
    return posted;
  }
  void WaitForPosts(int n) {
    boost::unique_lock lock(m_mutex);
    while (m_posts < n) m_changed.wait(lock);
  }
  int wakes = 0;
  CPageCallQueue queue{[this] { ++wakes; }};

 private:
  boost::thread::id m_id = boost::this_thread::get_id();
  boost::mutex m_mutex;
  boost::condition_variable m_changed;
  int m_posts = 0;
};

TEST(MarshaledPointerTest, AWaitEndsWhenThePageThreadIsGone) {
  auto page = std::make_shared<CManualPageThread>();
  const auto recorder = Recorder();
  auto pointer = std::make_unique<Pointer>(recorder.get(), page);

  HRESULT hr = S_OK;
  boost::thread worker([&] { hr = pointer->CallMethod(L"onProgress"); });
  page->WaitForPosts(1);
  page->queue.Close();  // the page thread stops serving: queued calls are dropped unrun
  worker.join();
  EXPECT_EQ(hr, RPC_E_DISCONNECTED);
  boost::thread([&] { hr = pointer->CallMethod(L"onProgress"); }).join();
  EXPECT_EQ(hr, RPC_E_DISCONNECTED);
  EXPECT_TRUE(recorder->Calls().empty());

  // A page thread that no longer exists at all.
  pointer.reset();
  pointer = std::make_unique<Pointer>(recorder.get(), page);
  page.reset();
  boost::thread([&] {
    hr = pointer->CallMethod(L"onProgress");
    EXPECT_EQ(pointer->Get(), nullptr);
  }).join();
  EXPECT_EQ(hr, RPC_E_DISCONNECTED);
}

TEST(PageCallQueueTest, RunsInOrderAndWakesOncePerBatch) {
  CManualPageThread page;
  std::vector<int> ran;
  for (int i = 0; i < 3; ++i) page.Post([&, i] { ran.push_back(i); });
  EXPECT_EQ(page.wakes, 1);
  EXPECT_TRUE(ran.empty());  // never inside Post
  EXPECT_EQ(page.queue.RunPending(), 3u);
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
  // A call posted while the queue runs waits for the next wake.
  page.Post([&] { page.Post([&] { ran.push_back(9); }); });
  EXPECT_EQ(page.queue.RunPending(), 1u);
  EXPECT_EQ(page.wakes, 3);
  EXPECT_EQ(page.queue.RunPending(), 1u);
  EXPECT_EQ(ran.back(), 9);
}

TEST(MarshaledPointerTest, TheObjectIsReleasedOnItsPageThread) {
  const auto page = CQueuedPageThread::Start();
  const auto pageId = PageThreadId(*page);
  boost::thread::id releasedOn;
  auto recorder = Recorder();
  recorder->onDestroyed = [&] { releasedOn = boost::this_thread::get_id(); };
  auto pointer = std::make_unique<Pointer>(recorder.get(), page);
  recorder.Reset();
  boost::thread([&] {
    const CComPtr<IDispatch> proxy = pointer->Get();
    pointer.reset();  // the proxy still holds the object
  }).join();
  page->RunAndWait([] {});
  EXPECT_EQ(releasedOn, pageId);
}

}  // namespace
