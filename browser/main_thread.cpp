#include "browser/main_thread.h"

#include <glib.h>

#include <atomic>
#include <mutex>
#include <memory>
#include <thread>

namespace BrowserControl {

namespace {

std::atomic<bool> g_mainKnown{false};
std::thread::id g_mainId;
std::once_flag g_mainOnce;

gboolean RunPosted(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void DeletePosted(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

void InitMainThread() {
  std::call_once(g_mainOnce, [] {
    g_mainId = std::this_thread::get_id();
    g_mainKnown.store(true, std::memory_order_release);
  });
}

bool IsMainThread() {
  return g_mainKnown.load(std::memory_order_acquire) && std::this_thread::get_id() == g_mainId;
}

void PostToMainThread(std::function<void()> call, int priority) {
  // An idle source rather than g_main_context_invoke: the latter runs the call at once when the
  // caller owns the context, which would re-enter the caller like a sent (not posted) message.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, priority);
  g_source_set_callback(source, RunPosted, new std::function<void()>(std::move(call)), DeletePosted);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

bool RunMainLoopUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const gint64 end = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
  GMainContext* context = g_main_context_default();
  while (!done()) {
    const gint64 now = g_get_monotonic_time();
    if (now >= end) return false;
    // Wake at least at the deadline even when nothing is ready.
    GSource* wake = g_timeout_source_new(static_cast<guint>((end - now + 999) / 1000));
    g_source_set_callback(wake, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(wake, context);
    g_main_context_iteration(context, TRUE);
    g_source_destroy(wake);
    g_source_unref(wake);
  }
  return true;
}

}  // namespace BrowserControl
