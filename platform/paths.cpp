#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/private_file.h"
#include "platform/termination.h"

namespace Platform {

namespace {

[[noreturn]] void Fail(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

// Opens the folder without following a link and checks what it is and who owns it.
// Returns the open descriptor so that a mode change applies to the folder that was checked.
int OpenOwnedFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    // O_NOFOLLOW on a link gives ELOOP; O_DIRECTORY on a non-folder gives ENOTDIR.
    Fail(error, "temporary folder " + path + " is not a usable folder (a link or not a folder)");
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    Fail(error, "cannot inspect temporary folder " + path);
  }
  if (st.st_uid != ::geteuid()) {
    ::close(fd);
    Fail(EPERM, "temporary folder " + path + " belongs to another user");
  }
  return fd;
}

}  // namespace

namespace {

// $TMPDIR when it is set, a folder (not a link), the user's own, and no one else may write
// there; otherwise none. Where others may write, a checked installer could be swapped before
// it runs.
std::optional<std::string> SafeTmpdir() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir == nullptr || *tmpdir == '\0') return std::nullopt;
  std::string path(tmpdir);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  const bool safe = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  ::close(fd);
  if (!safe || !AncestorsAreSafe(path)) return std::nullopt;
  return path;
}

// Makes (or takes) the folder with mode 0700; throws when it is a link, not a folder, another
// user's, cannot be made private, or a folder above it could be moved aside by someone else.
std::string FixedPrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    Fail(errno, "cannot create temporary folder " + path);
  }
  const int fd = OpenOwnedFolder(path);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
    const int error = errno;
    ::close(fd);
    Fail(error, "cannot make temporary folder " + path + " private");
  }
  ::close(fd);
  if (!AncestorsAreSafe(path)) Fail(EPERM, "a folder above temporary folder " + path + " is open to others");
  return path;
}

// Folders made by mkdtemp for this process because the fixed name was taken; removed (when
// empty) as the process ends.
struct UniqueFolders {
  std::mutex lock;
  std::map<std::string, std::string> byFixedName;
  ~UniqueFolders() {
    for (const auto& [fixed, unique] : byFixedName) ::rmdir(unique.c_str());
  }
};

UniqueFolders& MadeUniqueFolders() {
  static UniqueFolders folders;
  return folders;
}

// The folder `path` as FixedPrivateFolder makes it; when that name is someone else's or
// otherwise unusable, a folder of this process's own beside it ("<path>-XXXXXX", made by
// mkdtemp, the same one for every later call), so that a squatted name cannot turn a run away.
std::string PrivateFolder(const std::string& path) {
  try {
    return FixedPrivateFolder(path);
  } catch (const std::system_error&) {
    // The unique folder below.
  }
  UniqueFolders& folders = MadeUniqueFolders();
  std::lock_guard guard(folders.lock);
  if (const auto found = folders.byFixedName.find(path); found != folders.byFixedName.end()) {
    if (IsPrivateFolder(found->second)) return found->second;
    folders.byFixedName.erase(found);
  }
  std::string pattern = path + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) Fail(errno, "cannot create a temporary folder beside " + path);
  if (!IsPrivateFolder(pattern)) {
    ::rmdir(pattern.c_str());
    Fail(EPERM, "a folder above temporary folder " + pattern + " is open to others");
  }
  folders.byFixedName.emplace(path, pattern);
  // The folder is this process's alone: a termination signal takes it with what is inside.
  RemoveTreeOnTermination(pattern);
  return pattern;
}

std::string Uid() { return std::to_string(::geteuid()); }

}  // namespace

std::filesystem::path MakePrivateFolder(const std::filesystem::path& path) { return PrivateFolder(path.string()); }

std::filesystem::path GetTempFolder() {
  if (auto tmpdir = SafeTmpdir()) return *tmpdir;
  return PrivateFolder("/tmp/omk-" + Uid());
}

bool AllowsRunning(const std::filesystem::path& folder) {
  struct statvfs info {};
  return ::statvfs(folder.c_str(), &info) == 0 && (info.f_flag & ST_NOEXEC) == 0;
}

std::filesystem::path GetRunnableTempFolder() {
  std::vector<std::function<std::string()>> candidates = {
      [] { return GetTempFolder().string(); },
      [] { return PrivateFolder("/var/tmp/omk-" + Uid()); },
  };
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  if (cache != nullptr && *cache == '/') {
    candidates.push_back([base = std::string(cache)] { return PrivateFolder(base + "/omk-setup"); });
  } else if (home != nullptr && *home == '/') {
    candidates.push_back([base = std::string(home)] { return PrivateFolder(base + "/.cache/omk-setup"); });
  }
  for (const auto& candidate : candidates) {
    try {
      const std::string folder = candidate();
      if (AllowsRunning(folder)) return folder;
    } catch (const std::system_error&) {
      // Not usable: the next one.
    }
  }
  Fail(EACCES, "no private temporary folder where the product installer may run: the temporary "
               "folder, /var/tmp/omk-" + Uid() + " and the cache folder are all missing, unsafe or "
               "on file systems mounted noexec");
}

std::filesystem::path GetModulePath() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::system_error(ec, "cannot read the program's own path");
  return path;
}

}  // namespace Platform
