#include "network/url.h"

#include <gtest/gtest.h>

namespace Cxx::Network {
namespace {

using namespace Http::HttpClient;

TEST(UrlTest, SplitsIntoSchemeHostPortAndPath) {
  struct Case {
    const wchar_t* url;
    EHttpScheme scheme;
    const wchar_t* host;
    uint16_t port;
    const wchar_t* path;
  };
  const Case cases[] = {
      {L"http://example.test/component", kSchemeHttp, L"example.test", 80, L"/component"},
      {L"https://example.test", kSchemeHttps, L"example.test", 443, L"/"},
      {L"HTTPS://Example.test:8443/a/b?x=1&y=2#frag", kSchemeHttps, L"Example.test", 8443, L"/a/b?x=1&y=2"},
      {L"127.0.0.1:47801/component", kSchemeHttp, L"127.0.0.1", 47801, L"/component"},
      {L"http://user:pw@host.test:81", kSchemeHttp, L"host.test", 81, L"/"},
      {L"http://[::1]:8080/x", kSchemeHttp, L"::1", 8080, L"/x"},
      {L"http://host.test?q", kSchemeHttp, L"host.test", 80, L"/?q"},
      {L"ftp://files.test/f", kSchemeFtp, L"files.test", 21, L"/f"},
      {L"weird://host.test/p", kSchemeUnknown, L"host.test", 0, L"/p"},
  };
  for (const auto& c : cases) {
    const auto parts = ParseUrl(c.url);
    ASSERT_TRUE(parts) << std::string(c.url, c.url + wcslen(c.url));
    EXPECT_EQ(parts->scheme, c.scheme);
    EXPECT_EQ(parts->host, c.host);
    EXPECT_EQ(parts->port, c.port);
    EXPECT_EQ(parts->path, c.path);
  }
}

TEST(UrlTest, RefusesUrlsWithoutHostOrWithBadPorts) {
  for (const wchar_t* url : {L"", L"http://", L"http:///path", L"/just/a/path", L"http://host:0/",
                             L"http://host:65536/", L"http://host:8x/", L"http://ho st/", L"http://[::1/",
                             L"http://host\n/"}) {
    EXPECT_FALSE(ParseUrl(url)) << std::string(url, url + wcslen(url));
  }
}

}  // namespace
}  // namespace Cxx::Network
