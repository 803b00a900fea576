#pragma once
// Reads the members of one scenario object and rejects members nobody asked for, so that a
// misspelt option is an error instead of a silently different scenario.
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include <boost/json/value.hpp>

namespace DevServer {

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ObjectReader {
 public:
  // `where` names the object in messages, e.g. "route 2".
  ObjectReader(const boost::json::value& value, std::string where);

  const std::string& Where() const { return m_where; }
  bool Has(std::string_view key) const;
  const boost::json::value* Take(std::string_view key);  // null when absent
  std::optional<std::string> String(std::string_view key);
  std::optional<std::uint64_t> Unsigned(std::string_view key);
  std::optional<bool> Bool(std::string_view key);
  const boost::json::object* Object(std::string_view key);
  const boost::json::array* Array(std::string_view key);
  // Throws for every member that was not taken.
  void Finish() const;
  [[noreturn]] void Fail(std::string_view key, std::string_view problem) const;

 private:
  const boost::json::object* m_object;
  std::string m_where;
  std::set<std::string, std::less<>> m_taken;
};

}  // namespace DevServer
