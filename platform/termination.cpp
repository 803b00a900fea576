#include "platform/termination.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace Platform {

namespace {

// Fixed storage, so the signal handler only reads memory that never moves and makes plain
// system calls (open, getdents64, unlinkat, close): no allocation, no lock.
struct Slot {
  enum : int { kFree, kWriting, kReady };
  std::atomic<int> state{kFree};
  bool tree = false;
  char path[4096] = {};
};
std::array<Slot, 16> g_slots;
std::mutex g_registration;  // between threads registering and forgetting; the handler takes no lock
static_assert(std::atomic<int>::is_always_lock_free);

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool RemoveTreeAt(int parent, const char* name, int depth);

// Deletes what the open folder holds: files and links by unlinkat, folders by descending at
// most `depth` more levels. Entries are read again after a pass that deleted something, as a
// folder's listing need not stay complete while it changes.
void EmptyFolder(int folder, int depth) {
  for (int pass = 0; pass < 8; ++pass) {
    if (::lseek(folder, 0, SEEK_SET) != 0) return;
    bool deleted = false;
    alignas(dirent64) char buffer[1024];
    for (;;) {
      const ssize_t size = ::getdents64(folder, buffer, sizeof buffer);
      if (size <= 0) break;
      for (ssize_t offset = 0; offset < size;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
        offset += entry->d_reclen;
        const char* name = entry->d_name;
        if (IsDotOrDotDot(name)) continue;
        if (entry->d_type != DT_DIR && ::unlinkat(folder, name, 0) == 0) {
          deleted = true;
        } else if ((entry->d_type == DT_DIR || errno == EISDIR) && depth > 0 && RemoveTreeAt(folder, name, depth - 1)) {
          deleted = true;
        }
      }
    }
    if (!deleted) return;
  }
}

// Deletes the folder `name` under `parent` with its content; a link there is not followed.
bool RemoveTreeAt(int parent, const char* name, int depth) {
  const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return false;
  EmptyFolder(folder, depth);
  ::close(folder);
  return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

extern "C" void OnTerminationSignal(int number) {
  const int savedErrno = errno;
  for (auto& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) != Slot::kReady) continue;
    if (slot.tree) {
      RemoveTreeAt(AT_FDCWD, slot.path, kTerminationTreeDepth - 1);
    } else {
      ::unlink(slot.path);
    }
  }
  errno = savedErrno;
  // The default action once the handler returns: the process ends with this signal.
  ::signal(number, SIG_DFL);
  ::raise(number);
}

bool Register(const std::filesystem::path& path, bool tree) {
  const std::string& text = path.native();
  if (text.empty() || text.size() >= sizeof(Slot::path)) return false;
  std::lock_guard lock(g_registration);
  for (auto& slot : g_slots) {
    if (slot.state.load(std::memory_order_relaxed) == Slot::kReady && slot.tree == tree && text == slot.path) {
      return true;
    }
  }
  for (auto& slot : g_slots) {
    if (slot.state.load(std::memory_order_relaxed) != Slot::kFree) continue;
    slot.state.store(Slot::kWriting, std::memory_order_relaxed);
    slot.tree = tree;
    std::memcpy(slot.path, text.c_str(), text.size() + 1);
    slot.state.store(Slot::kReady, std::memory_order_release);
    return true;
  }
  return false;
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

bool RemoveOnTermination(const std::filesystem::path& file) { return Register(file, false); }

bool RemoveTreeOnTermination(const std::filesystem::path& folder) { return Register(folder, true); }

void ForgetOnTermination(const std::filesystem::path& path) {
  const std::string& text = path.native();
  std::lock_guard lock(g_registration);
  for (auto& slot : g_slots) {
    if (slot.state.load(std::memory_order_relaxed) == Slot::kReady && text == slot.path) {
      slot.state.store(Slot::kFree, std::memory_order_release);
    }
  }
}

}  // namespace Platform
