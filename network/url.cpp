#include "network/url.h"

#include <algorithm>
#include <cwctype>

namespace Cxx::Network {

using namespace Http::HttpClient;

namespace {

struct SchemeName {
  const wchar_t* name;
  EHttpScheme scheme;
  uint16_t port;
};

constexpr SchemeName kSchemes[] = {
    {L"ftp", kSchemeFtp, 21},     {L"gopher", kSchemeGopher, 70}, {L"http", kSchemeHttp, 80},
    {L"https", kSchemeHttps, 443}, {L"file", kSchemeFile, 0},      {L"news", kSchemeNews, 119},
    {L"mailto", kSchemeMailto, 0}, {L"socks", kSchemeSocks, 1080},
};

uint16_t DefaultPort(EHttpScheme scheme) {
  for (const auto& s : kSchemes) {
    if (s.scheme == scheme) return s.port;
  }
  return 0;
}

}  // namespace

std::optional<UrlParts> ParseUrl(const std::wstring& url, EHttpScheme defaultScheme) {
  if (std::any_of(url.begin(), url.end(), [](wchar_t c) { return c <= L' ' || c == 0x7F; })) {
    return std::nullopt;
  }
  UrlParts parts;
  std::wstring rest = url;
  const size_t sep = url.find(L"://");
  if (sep != std::wstring::npos) {
    std::wstring name = url.substr(0, sep);
    std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
    for (const auto& s : kSchemes) {
      if (name == s.name) parts.scheme = s.scheme;
    }
    rest = url.substr(sep + 3);
  } else {
    parts.scheme = defaultScheme;
  }

  const size_t pathStart = rest.find_first_of(L"/?#");
  std::wstring authority = rest.substr(0, pathStart);
  std::wstring path = pathStart == std::wstring::npos ? L"" : rest.substr(pathStart);
  path = path.substr(0, path.find(L'#'));
  if (path.empty() || path.front() != L'/') path.insert(0, L"/");

  const size_t at = authority.rfind(L'@');
  if (at != std::wstring::npos) authority.erase(0, at + 1);

  std::wstring host = authority;
  std::wstring port;
  if (!authority.empty() && authority.front() == L'[') {
    const size_t close = authority.find(L']');
    if (close == std::wstring::npos) return std::nullopt;
    host = authority.substr(1, close - 1);
    const std::wstring after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != L':') return std::nullopt;
      port = after.substr(1);
    }
  } else {
    const size_t colon = authority.rfind(L':');
    if (colon != std::wstring::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
    }
  }
  if (host.empty()) return std::nullopt;

  parts.port = DefaultPort(parts.scheme);
  if (!port.empty()) {
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
      return std::nullopt;
    }
    const unsigned long value = std::stoul(port);
    if (value == 0 || value > 65535) return std::nullopt;
    parts.port = static_cast<uint16_t>(value);
  }
  parts.host = host;
  parts.path = path;
  return parts;
}

}  // namespace Cxx::Network
