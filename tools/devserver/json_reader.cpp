#include "tools/devserver/json_reader.h"

namespace DevServer {

ObjectReader::ObjectReader(const boost::json::value& value, std::string where)
    : m_object(value.if_object()), m_where(std::move(where)) {
  if (m_object == nullptr) throw ScenarioError(m_where + ": must be a JSON object");
}

bool ObjectReader::Has(std::string_view key) const { return m_object->contains(key); }

const boost::json::value* ObjectReader::Take(std::string_view key) {
  const auto* value = m_object->if_contains(key);
  if (value != nullptr) m_taken.emplace(key);
  return value;
}

std::optional<std::string> ObjectReader::String(std::string_view key) {
  const auto* value = Take(key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_string()) Fail(key, "must be a string");
  return std::string(value->get_string());
}

std::optional<std::uint64_t> ObjectReader::Unsigned(std::string_view key) {
  const auto* value = Take(key);
  if (value == nullptr) return std::nullopt;
  if (value->is_uint64()) return value->get_uint64();
  if (value->is_int64() && value->get_int64() >= 0) {
    return static_cast<std::uint64_t>(value->get_int64());
  }
  Fail(key, "must be a whole number of 0 or more");
}

std::optional<bool> ObjectReader::Bool(std::string_view key) {
  const auto* value = Take(key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_bool()) Fail(key, "must be true or false");
  return value->get_bool();
}

const boost::json::object* ObjectReader::Object(std::string_view key) {
  const auto* value = Take(key);
  if (value == nullptr) return nullptr;
  if (!value->is_object()) Fail(key, "must be an object");
  return &value->get_object();
}

const boost::json::array* ObjectReader::Array(std::string_view key) {
  const auto* value = Take(key);
  if (value == nullptr) return nullptr;
  if (!value->is_array()) Fail(key, "must be a list");
  return &value->get_array();
}

void ObjectReader::Finish() const {
  for (const auto& member : *m_object) {
    if (m_taken.count(member.key()) == 0) Fail(member.key(), "is not a known option");
  }
}

void ObjectReader::Fail(std::string_view key, std::string_view problem) const {
  throw ScenarioError(m_where + ": \"" + std::string(key) + "\" " + std::string(problem));
}

}  // namespace DevServer
