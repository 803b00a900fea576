#pragma once
// Runs a program as a child process and collects what it wrote and how it ended.
#include <map>
#include <string>
#include <vector>

namespace TestSupport {

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
  long peakRssKiB = 0;  // the largest resident set it had
};

// Runs `path` with `args` (argv[1] on) and `extraEnv` added to the environment; waits for it.
ProcessResult RunProcess(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& extraEnv = {});

}  // namespace TestSupport
