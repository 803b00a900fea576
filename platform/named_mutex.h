#pragma once
// Named mutexes that other processes see: a lock (flock) on a lock file named after the mutex.
// A mutex "exists" while some process holds its lock; the system drops the lock when the
// holder ends, however it ends.
//
// Names: "Global\<name>" is machine-wide, its lock file lives in the machine-wide lock folder
// ($OMK_LOCK_DIR when set, else /run/lock); "Local\<name>" and a name without prefix belong to
// the user's session, their lock files live in $XDG_RUNTIME_DIR (else the user's private
// temporary folder). The lock file is "omk-mutex-<name>", the name percent-encoded; names are
// case-sensitive. Lock files are left in place when released: removing one would let a second
// process lock a fresh file of the same name while a third still holds the removed one.
//
// Only a lock on a lock file that no other user could open counts: the file is made 0600, and one
// that belongs to another user (not root) or that others may open is not proof of a holder. It
// is replaced where this process may remove it (root may, in the sticky lock folder); elsewhere
// the mutex fails (Failed), so another user can neither hold nor plant it.
#include <filesystem>
#include <string_view>

namespace Platform {

enum class NamedMutexStatus {
  Created,        // this process now holds it
  AlreadyExists,  // another holder has it
  Failed,         // could not be created for another reason (errno-style code in `error`)
};

class NamedMutex {
 public:
  NamedMutex() = default;
  ~NamedMutex() { Close(); }
  NamedMutex(NamedMutex&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  NamedMutex& operator=(NamedMutex&& other) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Creates the mutex owned by the caller. Only a Created result leaves `out` holding it. A
  // second Create of a name this process already holds reports AlreadyExists, as it would for
  // another process. The lock's descriptor is never inherited by started programs.
  static NamedMutexStatus Create(std::wstring_view name, NamedMutex& out, int* error = nullptr);

  bool IsHeld() const { return m_fd >= 0; }
  // Releases it (nothing when not held).
  void Close();

 private:
  int m_fd = -1;
};

// Whether some process (this one included) holds the named mutex. Only looks: creates no lock
// file, and the probe's shared lock lasts only for the instant of the look. False when it
// cannot tell (no usable folder, no rights).
bool IsNamedMutexHeld(std::wstring_view name);

// The folder that holds the lock file of `name`, and that file; empty when the name is empty,
// too long or its folder is not safe to use (see the .cpp).
std::filesystem::path GetNamedMutexFile(std::wstring_view name);

}  // namespace Platform
