#pragma once
// Splits a URL into scheme number, host, port and path (with the query).
#include <cstdint>
#include <optional>
#include <string>

#include "network/connection.h"

namespace Cxx::Network {

struct UrlParts {
  Http::HttpClient::EHttpScheme scheme = Http::HttpClient::kSchemeUnknown;
  std::wstring host;
  uint16_t port = 0;
  std::wstring path;  // "/" when the URL has none; the query stays on it; no fragment
};

// "scheme://[user[:password]@]host[:port][/path][?query][#fragment]". Without "scheme://" the
// default scheme applies. The port defaults by scheme (http 80, https 443, ftp 21, gopher 70).
// Nothing when the URL has no host, a bad port, or white space or control characters.
std::optional<UrlParts> ParseUrl(const std::wstring& url,
                                 Http::HttpClient::EHttpScheme defaultScheme = Http::HttpClient::kSchemeHttp);

}  // namespace Cxx::Network
