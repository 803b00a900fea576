#pragma once
// One received HTTP request as the routes and the request log see it.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/json/object.hpp>

namespace DevServer {

struct Request {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;    // target up to "?"
  std::string query;   // after "?", without it; empty when there is none
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, in order
  std::string body;
  bool tls = false;
  std::uint64_t connection = 0;  // numbers the connections of one server run from 1
  std::uint64_t number = 0;      // numbers the requests of one server run from 1
  std::int64_t receivedUs = 0;   // microseconds since the Unix epoch when the header arrived

  // The value of a header (name in any case); repeated headers are joined by ", ".
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// The request as JSON: method, target, path, query, headers (object, names in lower case)
// and either "body" (valid UTF-8) or "body_base64".
boost::json::object DescribeRequest(const Request& request);

bool IsValidUtf8(std::string_view text);
std::string Base64Encode(std::string_view bytes);

}  // namespace DevServer
