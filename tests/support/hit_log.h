#pragma once
// Reads the hit log that omk-devserver's collector route writes (one JSON record a line).
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

struct LoggedHit {
  std::string answer;     // how the collector answered ("ok", "fail", ...)
  std::string userAgent;
  std::vector<std::pair<std::string, std::string>> parameters;  // decoded, in order, repeats kept

  // The value of the parameter; empty when there is none. A name that comes more than once
  // fails the calling test, and its values come joined by "&".
  std::string Field(const std::string& name) const;
  size_t Count(const std::string& name) const;
  // The whole list as "name=value&name=value...", values of the `masked` names shown as "*".
  std::string Text(const std::set<std::string>& masked = {}) const;
};

// The hits logged after the first `skip` ones; none when the log does not exist yet.
std::vector<LoggedHit> ReadHitLog(const std::filesystem::path& log, size_t skip = 0);

}  // namespace TestSupport
