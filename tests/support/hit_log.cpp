#include "tests/support/hit_log.h"

#include <gtest/gtest.h>

#include <fstream>

#include <boost/json.hpp>

namespace TestSupport {

std::string LoggedHit::Field(const std::string& name) const {
  std::string value;
  size_t found = 0;
  for (const auto& [key, text] : parameters) {
    if (key != name) continue;
    if (found++ > 0) value += '&';
    value += text;
  }
  if (found > 1) ADD_FAILURE() << "the hit carries \"" << name << "\" " << found << " times: " << Text();
  return value;
}

size_t LoggedHit::Count(const std::string& name) const {
  size_t count = 0;
  for (const auto& parameter : parameters) count += parameter.first == name;
  return count;
}

std::string LoggedHit::Text(const std::set<std::string>& masked) const {
  std::string text;
  for (const auto& [key, value] : parameters) {
    if (!text.empty()) text += '&';
    text += key + "=" + (masked.count(key) != 0 ? "*" : value);
  }
  return text;
}

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
