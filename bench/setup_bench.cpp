// Runs the setup program once and prints how long it took until the product installer started
// (read from the demo product installer's run log, OMK_DEMO_RUN_LOG), how long the whole run
// took, the setup's peak resident set size and its exit code:
//   omk_bench_setup SETUP RUN_LOG [ARGUMENTS...]
//   -> "exec 0.412 s total 0.530 s peak-rss 81234 KiB exit 0"
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

extern char** environ;

namespace {

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: omk_bench_setup SETUP RUN_LOG [ARGUMENTS...]\n";
    return 2;
  }
  const std::filesystem::path runLog = argv[2];
  std::filesystem::remove(runLog);
  std::vector<char*> args{argv[1]};
  for (int i = 3; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);

  const long long start = NowNs();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[1], nullptr, nullptr, args.data(), environ) != 0) {
    std::perror("posix_spawn");
    return 1;
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 1;
  }
  const long long end = NowNs();

  long long started = 0;
  std::ifstream log(runLog);
  for (std::string word; log >> word;) {
    if (word == "started") {
      log >> started;
      break;
    }
  }
  if (started == 0) {
    std::cerr << "the product installer did not start\n";
    return 1;
  }
  std::printf("exec %.3f s total %.3f s peak-rss %ld KiB exit %d\n", (started - start) / 1e9, (end - start) / 1e9,
              usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}
