#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace Platform {

namespace {

FileIdentity FromStat(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.changedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  id.mode = static_cast<uint32_t>(st.st_mode);
  id.links = static_cast<uint64_t>(st.st_nlink);
  id.owner = static_cast<uint32_t>(st.st_uid);
  return id;
}

}  // namespace

std::optional<FileIdentity> PathIdentity(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return FromStat(st);
}

CPrivateFile::~CPrivateFile() { Close(); }

bool CPrivateFile::Create(const std::filesystem::path& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
      ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return false;
  }
  m_fd = fd;
  m_writing = true;
  return true;
}

bool CPrivateFile::Write(const void* data, size_t size) {
  if (m_fd < 0 || !m_writing) return false;
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t done = ::write(m_fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

bool CPrivateFile::Seal() {
  if (m_fd < 0 || !m_writing) return false;
  if (::fchmod(m_fd, S_IRWXU) != 0) return false;
  // The same file again, for reading: through the descriptor, never through the path.
  const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
  const int reader = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
  if (reader < 0) return false;
  struct stat a {}, b {};
  if (::fstat(m_fd, &a) != 0 || ::fstat(reader, &b) != 0 || a.st_dev != b.st_dev || a.st_ino != b.st_ino) {
    ::close(reader);
    return false;
  }
  ::close(m_fd);
  m_fd = reader;
  m_writing = false;
  return true;
}

void CPrivateFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_writing = false;
}

std::optional<FileIdentity> CPrivateFile::Identity() const {
  struct stat st {};
  if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return std::nullopt;
  return FromStat(st);
}

namespace {

bool IsSafeAncestor(const struct stat& st) {
  if (!S_ISDIR(st.st_mode) || (st.st_uid != 0 && st.st_uid != ::geteuid())) return false;
  // Others may write into a sticky folder (/tmp) but not rename or remove what is ours there.
  return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
}

}  // namespace

bool AncestorsAreSafe(const std::filesystem::path& path) {
  // Whoever may rename a folder above could put another folder in this one's place.
  std::filesystem::path folder = path.lexically_normal();
  if (!folder.is_absolute()) return false;
  struct stat st {};
  while (folder.has_relative_path()) {
    folder = folder.parent_path();
    if (::stat(folder.c_str(), &st) != 0 || !IsSafeAncestor(st)) return false;
  }
  return true;
}

bool IsPrivateFolder(const std::filesystem::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && AncestorsAreSafe(path);
}

}  // namespace Platform
