#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/paths.h"
#include "platform/text.h"

namespace Platform {

namespace {

constexpr std::wstring_view kGlobalPrefix = L"Global\\";
constexpr std::wstring_view kLocalPrefix = L"Local\\";
constexpr std::string_view kFilePrefix = "omk-mutex-";
// File names longer than this are refused (the system's limit is 255 bytes).
constexpr size_t kMaxFileName = 240;

struct LockLocation {
  std::filesystem::path folder;
  std::string file;
  int error = 0;  // non-zero: no usable location
};

bool IsPlainByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '{' || c == '}';
}

std::string EncodeName(std::wstring_view name) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out(kFilePrefix);
  for (unsigned char c : WideToUtf8(name)) {
    if (IsPlainByte(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

// The machine-wide folder: every user may create lock files there, and no one may remove or
// replace a lock file of another user. So it must belong to root (or to this user, for a
// folder given to tests), and when others may write to it, it must carry the sticky bit.
bool IsSafeSharedFolder(const struct stat& st) {
  if (!S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) return false;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) return false;
  return true;
}

// The session folder: the user's own, and no one else may write to it.
bool IsPrivateFolder(const std::filesystem::path& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::filesystem::path GlobalFolder() {
  if (const char* dir = std::getenv("OMK_LOCK_DIR"); dir != nullptr && *dir != '\0') return dir;
  for (const char* candidate : {"/run/lock", "/var/lock", "/tmp"}) {
    struct stat st {};
    if (::stat(candidate, &st) == 0 && S_ISDIR(st.st_mode)) return candidate;
  }
  return "/tmp";
}

LockLocation Locate(std::wstring_view name) {
  LockLocation location;
  bool global = false;
  if (name.starts_with(kGlobalPrefix)) {
    global = true;
    name.remove_prefix(kGlobalPrefix.size());
  } else if (name.starts_with(kLocalPrefix)) {
    name.remove_prefix(kLocalPrefix.size());
  }
  if (name.empty()) {
    location.error = EINVAL;
    return location;
  }
  location.file = EncodeName(name);
  if (location.file.size() > kMaxFileName) {
    location.error = ENAMETOOLONG;
    return location;
  }
  if (global) {
    location.folder = GlobalFolder();
    return location;
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime)) {
    location.folder = runtime;
    return location;
  }
  try {
    location.folder = GetTempFolder();
  } catch (const std::exception&) {
    location.error = EACCES;
  }
  return location;
}

// A lock file whose lock proves that a copy of this user (or root) holds the mutex: a regular
// file with one name, owned by this user or root, that no one else may open. Another user's
// file, or one others could open (and lock), proves nothing.
bool IsTrustedLockFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_uid == ::geteuid() || st.st_uid == 0) && (st.st_mode & 077) == 0 &&
         st.st_nlink == 1;
}

// Opens (creating as needed) the lock file inside the open folder. Never through a link, never
// anything but a regular file (a FIFO put in its place would block the open), never inherited.
// A lock file that is not trusted is removed and made anew where this process may remove it
// (root may, in a sticky folder); where it may not, the mutex fails rather than waiting on
// another user's lock.
int OpenLockFile(int folderFd, const std::string& file, int& error) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  for (int attempt = 0; attempt < 3; ++attempt) {
    // 0600 whatever the umask asks for more: only this user (and root) may open, so only they
    // may hold the lock.
    int fd = ::openat(folderFd, file.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
      // Opened without O_CREAT: in a sticky folder the system refuses O_CREAT on another user's
      // existing file.
      fd = ::openat(folderFd, file.c_str(), kFlags);
    }
    if (fd < 0 && errno == ELOOP) {
      // A link in the lock file's place: removed like an untrusted file.
      if (::unlinkat(folderFd, file.c_str(), 0) != 0 && errno != ENOENT) {
        error = EPERM;
        return -1;
      }
      continue;
    }
    if (fd < 0) {
      error = errno;
      if (error != ENOENT) return -1;
      continue;  // removed between the two opens
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      error = errno;
      ::close(fd);
      return -1;
    }
    if (IsTrustedLockFile(st)) return fd;
    ::close(fd);
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) {
      error = EINVAL;  // a folder or a device: never removed
      return -1;
    }
    if (::unlinkat(folderFd, file.c_str(), 0) != 0 && errno != ENOENT) {
      error = EPERM;
      return -1;
    }
  }
  error = EAGAIN;
  return -1;
}

}  // namespace

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

void NamedMutex::Close() {
  if (m_fd >= 0) {
    ::close(m_fd);  // drops the lock
    m_fd = -1;
  }
}

NamedMutexStatus NamedMutex::Create(std::wstring_view name, NamedMutex& out, int* error) {
  int failure = 0;
  const auto status = [&]() {
    const LockLocation location = Locate(name);
    if (location.error != 0) {
      failure = location.error;
      return NamedMutexStatus::Failed;
    }
    const int folderFd = ::open(location.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
      failure = errno;
      return NamedMutexStatus::Failed;
    }
    struct stat st {};
    const bool usable = ::fstat(folderFd, &st) == 0 &&
                        (name.starts_with(kGlobalPrefix) ? IsSafeSharedFolder(st)
                                                         : S_ISDIR(st.st_mode) && st.st_uid == ::geteuid());
    if (!usable) {
      ::close(folderFd);
      failure = EPERM;
      return NamedMutexStatus::Failed;
    }
    const int fd = OpenLockFile(folderFd, location.file, failure);
    ::close(folderFd);
    if (fd < 0) return NamedMutexStatus::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int lockError = errno;
      ::close(fd);
      if (lockError == EWOULDBLOCK) return NamedMutexStatus::AlreadyExists;
      failure = lockError;
      return NamedMutexStatus::Failed;
    }
    out.Close();
    out.m_fd = fd;
    return NamedMutexStatus::Created;
  }();
  if (error != nullptr) *error = failure;
  return status;
}

bool IsNamedMutexHeld(std::wstring_view name) {
  const LockLocation location = Locate(name);
  if (location.error != 0) return false;
  const int fd = ::open((location.folder / location.file).c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;  // no lock file: no one ever held it since the folder was made
  struct stat st {};
  bool held = false;
  if (::fstat(fd, &st) == 0 && IsTrustedLockFile(st)) {
    held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  }
  ::close(fd);
  return held;
}

std::filesystem::path GetNamedMutexFile(std::wstring_view name) {
  const LockLocation location = Locate(name);
  if (location.error != 0) return {};
  return location.folder / location.file;
}

}  // namespace Platform
