#include "tests/support/hit_log.h"

#include <fstream>

#include <boost/json.hpp>

namespace TestSupport {

std::vector<LoggedHit> ReadHitLog(const std::filesystem::path& log, size_t skip) {
  std::vector<LoggedHit> hits;
  std::ifstream in(log);
  size_t number = 0;
  for (std::string line; std::getline(in, line);) {
    if (number++ < skip) continue;
    const auto record = boost::json::parse(line).as_object();
    LoggedHit hit;
    hit.answer = record.at("answer").as_string().c_str();
    hit.userAgent = record.at("user_agent").as_string().c_str();
    for (const auto& pair : record.at("hit").as_array()) {
      hit.parameters.emplace_back(pair.as_array().at(0).as_string().c_str(),
                                  pair.as_array().at(1).as_string().c_str());
    }
    hits.push_back(std::move(hit));
  }
  return hits;
}

}  // namespace TestSupport
