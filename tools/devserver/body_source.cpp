#include "tools/devserver/body_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace DevServer {

namespace {

constexpr std::size_t kPeriod = 251;  // the generated pattern repeats every 251 bytes

// One block plus one period of the pattern: a block from any offset is a slice of it.
const std::array<char, kBlockSize + kPeriod>& Pattern() {
  static const auto pattern = [] {
    std::array<char, kBlockSize + kPeriod> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<char>((i * 31 + 7) % kPeriod);
    }
    return bytes;
  }();
  return pattern;
}

}  // namespace

std::span<const char> TextBody::Read(std::uint64_t offset, std::size_t maxSize,
                                     std::vector<char>&) const {
  const std::size_t n = std::min<std::uint64_t>(maxSize, m_text.size() - offset);
  return {m_text.data() + offset, n};
}

std::span<const char> GeneratedBody::Read(std::uint64_t offset, std::size_t maxSize,
                                          std::vector<char>&) const {
  const std::size_t n = std::min<std::uint64_t>({maxSize, kBlockSize, m_size - offset});
  return {Pattern().data() + offset % kPeriod, n};
}

FileBody::FileBody(const std::filesystem::path& path) {
  m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (m_fd < 0) {
    throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(m_fd);
    throw std::runtime_error("not a regular file: " + path.string());
  }
  m_size = static_cast<std::uint64_t>(st.st_size);
}

FileBody::~FileBody() { ::close(m_fd); }

std::span<const char> FileBody::Read(std::uint64_t offset, std::size_t maxSize,
                                     std::vector<char>& scratch) const {
  const std::size_t want = std::min<std::uint64_t>({maxSize, kBlockSize, m_size - offset});
  scratch.resize(std::max(scratch.size(), want));
  ssize_t n = 0;
  do {
    n = ::pread(m_fd, scratch.data(), want, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n <= 0) throw std::runtime_error("cannot read the body file");
  return {scratch.data(), static_cast<std::size_t>(n)};
}

}  // namespace DevServer
