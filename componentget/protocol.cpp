#include "componentget/protocol.h"

#include <boost/json.hpp>
#include <exception>

#include "platform/text.h"

namespace ComponentGet::Protocol {

namespace json = boost::json;

namespace {

json::string Utf8(const std::wstring& text) {
  const std::string bytes = Platform::WideToUtf8(text);
  return json::string(bytes.data(), bytes.size());
}

void PutIfNotEmpty(json::object& object, json::string_view key, const std::wstring& value) {
  if (!value.empty()) object.emplace(key, Utf8(value));
}

void PutIfNotZero(json::object& object, json::string_view key, int32_t value) {
  if (value != 0) object.emplace(key, value);
}

// A member that must be a non-empty string.
bool GetText(const json::object& object, json::string_view key, std::wstring& out) {
  const json::value* value = object.if_contains(key);
  if (!value || !value->is_string() || value->get_string().empty()) return false;
  const json::string& text = value->get_string();
  out = Platform::Utf8ToWide(std::string_view(text.data(), text.size()));
  return true;
}

}  // namespace

bool CProtocol::BuildRequest(ComponentsRequest request, std::wstring& out) {
  try {
    if (request.application.code.empty()) return false;

    // json::object keeps members in insertion order.
    json::object application;
    application.emplace("code", Utf8(request.application.code));
    PutIfNotZero(application, "buildId", request.application.buildId);
    PutIfNotEmpty(application, "uid", request.application.uid);
    PutIfNotEmpty(application, "puid", request.application.puid);
    PutIfNotEmpty(application, "version", request.application.version);
    PutIfNotEmpty(application, "language", request.application.language);

    json::object os;
    PutIfNotEmpty(os, "arch", request.os.arch);
    PutIfNotEmpty(os, "version", request.os.version);
    PutIfNotZero(os, "build", request.os.build);

    json::array components;
    for (const ComponentQuery& query : request.components) {
      if (query.id.empty() || query.arch.empty()) return false;
      json::object component;
      component.emplace("id", Utf8(query.id));
      component.emplace("arch", Utf8(query.arch));
      component.emplace("version", Utf8(query.version));
      components.emplace_back(std::move(component));
    }

    json::object top;
    top.emplace("protocolVersion", request.protocolVersion);
    top.emplace("application", std::move(application));
    top.emplace("os", std::move(os));
    top.emplace("components", std::move(components));
    out = Platform::Utf8ToWide(json::serialize(top));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool CProtocol::ParseResponse(const std::wstring& response, std::vector<ComponentInfo>& components) {
  try {
    std::wstring_view text = response;
    // The transport's reply ends with the zero byte that the body read counts.
    if (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
    // The reply usually arrives one byte per character; encoding that back as UTF-8 reads
    // every byte value as the character of the same code, so any reply bytes parse the same.
    const std::string bytes = Platform::WideToUtf8(text);

    json::error_code error;
    const json::value value = json::parse(bytes, error);
    if (error || !value.is_array()) return false;
    for (const json::value& element : value.get_array()) {
      if (!element.is_object()) return false;
      const json::object& object = element.get_object();
      ComponentInfo info;
      if (!GetText(object, "id", info.id) || !GetText(object, "version", info.version) ||
          !GetText(object, "url", info.url) || !GetText(object, "md5", info.md5)) {
        return false;
      }
      components.push_back(std::move(info));
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace ComponentGet::Protocol
