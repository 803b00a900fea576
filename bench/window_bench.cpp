// The installer window's start: from the exec of the setup program to the moment its window is
// mapped, which follows the page's "show" call at once (the window stays unmapped until then).
// Runs the program RUNS times on a private Xvfb and prints each run, then the median and the
// peak resident set size of all its processes (the setup, WebKit's web and network
// processes): each process's own peak (VmHWM) summed, read when the window has shown.
//   omk_bench_window RUNS SETUP [ARGUMENTS...]
//   -> "show 0.612 s rss 312 MiB" per run, then "median 0.612 s ... peak-rss 330 MiB"
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/xvfb.h"

extern char** environ;

namespace {

const char* const kTitle = "Quarro Omnikit Setup";

std::string Title(Display* display, Window window) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024, False,
                         AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    title.assign(reinterpret_cast<const char*>(data), count);
  }
  if (data != nullptr) XFree(data);
  return title;
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

// The process and all its descendants, from /proc.
std::vector<pid_t> ProcessTree(pid_t root) {
  std::map<pid_t, pid_t> parents;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* entry = readdir(proc)) {
      const pid_t pid = std::atoi(entry->d_name);
      if (pid <= 0) continue;
      std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
      std::string line;
      std::getline(stat, line);
      const auto close = line.rfind(')');
      if (close == std::string::npos) continue;
      char state = 0;
      pid_t parent = 0;
      if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2) parents[pid] = parent;
    }
    closedir(proc);
  }
  std::vector<pid_t> tree{root};
  for (size_t i = 0; i < tree.size(); ++i) {
    for (const auto& [pid, parent] : parents) {
      if (parent == tree[i]) tree.push_back(pid);
    }
  }
  return tree;
}

long PeakRssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: omk_bench_window RUNS SETUP [ARGUMENTS...]\n";
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  TestSupport::Xvfb xvfb(1024, 768);
  setenv("DISPLAY", xvfb.Display().c_str(), 1);
  Display* display = XOpenDisplay(xvfb.Display().c_str());
  if (display == nullptr) {
    std::cerr << "cannot open the display\n";
    return 1;
  }
  XSetErrorHandler(&IgnoreErrors);
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);

  std::vector<double> times;
  long peak = 0;
  for (int run = 0; run < runs; ++run) {
    std::vector<char*> args{argv[2]};
    for (int i = 3; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    while (XPending(display) > 0) {
      XEvent stale;
      XNextEvent(display, &stale);
    }

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[2], nullptr, nullptr, args.data(), environ) != 0) {
      std::perror("posix_spawn");
      return 1;
    }
    bool shown = false;
    const auto deadline = start + std::chrono::seconds(30);
    while (!shown && std::chrono::steady_clock::now() < deadline) {
      if (XPending(display) == 0) {
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, 100);
        if (XPending(display) == 0) continue;
      }
      XEvent event;
      XNextEvent(display, &event);
      shown = event.type == MapNotify && Title(display, event.xmap.window) == kTitle;
    }
    const auto showAt = std::chrono::steady_clock::now();
    long rss = 0;
    for (const pid_t member : ProcessTree(pid)) rss += PeakRssKiB(member);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!shown) {
      std::cerr << "run " << run + 1 << ": the window did not show within 30 s\n";
      return 1;
    }
    const double seconds = std::chrono::duration<double>(showAt - start).count();
    times.push_back(seconds);
    peak = std::max(peak, rss);
    std::printf("run %d: show %.3f s rss %ld MiB\n", run + 1, seconds, rss / 1024);
  }
  XCloseDisplay(display);
  std::sort(times.begin(), times.end());
  const double median = times.size() % 2 ? times[times.size() / 2]
                                         : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
  std::printf("median %.3f s min %.3f s max %.3f s peak-rss %ld MiB (%ld KiB)\n", median, times.front(), times.back(),
              peak / 1024, peak);
  return 0;
}
