#include "tools/devserver/request.h"

#include <boost/algorithm/string/predicate.hpp>

namespace DevServer {

std::string Request::Header(std::string_view name) const {
  std::string value;
  bool found = false;
  for (const auto& [n, v] : headers) {
    if (!boost::algorithm::iequals(n, name)) continue;
    if (found) value += ", ";
    value += v;
    found = true;
  }
  return value;
}

bool Request::HasHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (boost::algorithm::iequals(header.first, name)) return true;
  }
  return false;
}

boost::json::object DescribeRequest(const Request& request) {
  boost::json::object out;
  out["method"] = request.method;
  out["target"] = request.target;
  out["path"] = request.path;
  out["query"] = request.query;
  boost::json::object headers;
  for (const auto& [name, value] : request.headers) {
    if (headers.contains(name)) continue;
    headers[name] = request.Header(name);
  }
  out["headers"] = std::move(headers);
  if (IsValidUtf8(request.body)) {
    out["body"] = request.body;
  } else {
    out["body_base64"] = Base64Encode(request.body);
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p;
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++p;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) <= extra) return false;
    for (std::size_t i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    p += extra + 1;
  }
  return true;
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                            (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                            static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace DevServer
