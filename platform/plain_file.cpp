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

std::optional<std::string> ReadPlainFile(const std::filesystem::path& path, std::size_t maxBytes) {
  const int fd = OpenRegular(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
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

}  // namespace Platform
