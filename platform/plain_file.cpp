#include "platform/plain_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Platform {

namespace {

// Opens without following a final link and without blocking on a pipe; -1 unless the result
// is a regular file.
int OpenRegular(const std::filesystem::path& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

namespace {

std::optional<std::string> ReadOpen(int fd, std::size_t maxBytes) {
  std::string bytes(maxBytes, '\0');
  std::size_t got = 0;
  while (got < maxBytes) {
    const ssize_t n = ::read(fd, bytes.data() + got, maxBytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  return bytes;
}

}  // namespace

std::optional<std::string> ReadPlainFile(const std::filesystem::path& path, std::size_t maxBytes) {
  const int fd = OpenRegular(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  return ReadOpen(fd, maxBytes);
}

std::optional<std::string> ReadTrustedFile(const std::filesystem::path& path, std::size_t maxBytes) {
  const int fd = OpenRegular(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (st.st_uid != ::geteuid() && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  return ReadOpen(fd, maxBytes);
}

bool WritePlainFile(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = OpenRegular(path, O_WRONLY | O_CREAT);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, 0) == 0;
  while (ok && !bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return ::close(fd) == 0 && ok;
}

bool WriteIntoEmptyFile(const std::filesystem::path& path, std::string_view bytes) {
  constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  bool created = true;
  int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
  if (fd < 0 && errno == EEXIST) {
    created = false;
    fd = ::open(path.c_str(), kFlags);
  }
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size != 0 ||
      st.st_nlink != 1) {
    ::close(fd);
    return false;
  }
  bool ok = true;
  while (ok && !bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (!ok) (void)::ftruncate(fd, 0);
  ok = ::close(fd) == 0 && ok;
  if (!ok && created) ::unlink(path.c_str());
  return ok;
}

}  // namespace Platform
