#include "platform/termination.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace Platform {

namespace {

// Fixed storage, so the signal handler only reads memory that never moves and calls unlink.
struct Slot {
  enum : int { kFree, kWriting, kReady };
  std::atomic<int> state{kFree};
  char path[4096] = {};
};
std::array<Slot, 16> g_slots;
std::mutex g_registration;  // between threads registering and forgetting; the handler takes no lock
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnTerminationSignal(int number) {
  for (auto& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) == Slot::kReady) ::unlink(slot.path);
  }
  // The default action once the handler returns: the process ends with this signal.
  ::signal(number, SIG_DFL);
  ::raise(number);
}

}  // namespace

void InstallTerminationCleanup() {
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (const int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, other);
    ::sigaction(number, &action, nullptr);
  }
}

bool RemoveOnTermination(const std::filesystem::path& file) {
  const std::string& text = file.native();
  if (text.empty() || text.size() >= sizeof(Slot::path)) return false;
  std::lock_guard lock(g_registration);
  for (auto& slot : g_slots) {
    if (slot.state.load(std::memory_order_relaxed) != Slot::kFree) continue;
    slot.state.store(Slot::kWriting, std::memory_order_relaxed);
    std::memcpy(slot.path, text.c_str(), text.size() + 1);
    slot.state.store(Slot::kReady, std::memory_order_release);
    return true;
  }
  return false;
}

void ForgetOnTermination(const std::filesystem::path& file) {
  const std::string& text = file.native();
  std::lock_guard lock(g_registration);
  for (auto& slot : g_slots) {
    if (slot.state.load(std::memory_order_relaxed) == Slot::kReady && text == slot.path) {
      slot.state.store(Slot::kFree, std::memory_order_release);
    }
  }
}

}  // namespace Platform
