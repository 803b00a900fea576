#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

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

std::filesystem::path GetTempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') {
    std::string path(tmpdir);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const int fd = OpenOwnedFolder(path);
    struct stat st {};
    const bool othersMayWrite = ::fstat(fd, &st) != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    ::close(fd);
    // Where others may write, a checked installer could be swapped before it runs: the
    // private folder below is used instead. The user's own folder is left as it is.
    if (!othersMayWrite) return path;
  }
  const std::string path = "/tmp/omk-" + std::to_string(::geteuid());
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
  return path;
}

std::filesystem::path GetModulePath() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::system_error(ec, "cannot read the program's own path");
  return path;
}

}  // namespace Platform
