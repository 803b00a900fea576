#pragma once
// Waits for what another process writes into a file, woken by its folder's change events.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace TestSupport {

// Waits until `done` holds for the file's text, checked again on every change in its folder.
// False after `timeout`: nothing wrote it.
inline bool WaitForFileText(const std::filesystem::path& file, const std::function<bool(const std::string&)>& done,
                            std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return false;
  inotify_add_watch(fd, file.parent_path().c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool seen = false;
  for (;;) {
    std::ifstream in(file);
    std::stringstream text;
    if (in) text << in.rdbuf();
    if (in && done(text.str())) {
      seen = true;
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left)) > 0) {
      char events[4096];
      while (read(fd, events, sizeof events) > 0) {
      }
    }
  }
  close(fd);
  return seen;
}

// Waits until the file holds at least `count` whole lines.
inline bool WaitForLines(const std::filesystem::path& file, size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  return WaitForFileText(
      file,
      [count](const std::string& text) {
        size_t lines = 0;
        for (char c : text) lines += c == '\n';
        return lines >= count;
      },
      timeout);
}

}  // namespace TestSupport
