#pragma once
// Reads the hit log that omk-devserver's collector route writes (one JSON record a line).
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

struct LoggedHit {
  std::string answer;     // how the collector answered ("ok", "fail", ...)
  std::string userAgent;
  std::vector<std::pair<std::string, std::string>> parameters;  // decoded, in order
};

// The hits logged after the first `skip` ones; none when the log does not exist yet.
std::vector<LoggedHit> ReadHitLog(const std::filesystem::path& log, size_t skip = 0);

}  // namespace TestSupport
