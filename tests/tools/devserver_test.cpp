// omk-devserver seen from outside: curl's command line and raw sockets against a real server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "tests/support/dev_server.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using TestSupport::DevServer;
using TestSupport::GeneratedBody;

constexpr const char* kCurl = "/usr/bin/curl";

struct HttpResult {
  int curlExit = -1;  // 0 ok, 18 body shorter than announced, 60 certificate not trusted
  int status = 0;
  bool sawContinue = false;  // a "100 Continue" came before the answer
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string err;

  std::string Header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

// One request through curl. `args` go before the URL (headers, data, TLS options).
HttpResult Curl(const std::string& url, std::vector<std::string> args = {}) {
  args.insert(args.begin(), {"-s", "-S", "-i", "--max-time", "60"});
  args.push_back(url);
  const auto run = TestSupport::RunProcess(kCurl, args);
  HttpResult result;
  result.curlExit = run.exitCode;
  result.err = run.err;
  std::string_view rest = run.out;
  for (;;) {
    const auto end = rest.find("\r\n\r\n");
    if (!rest.starts_with("HTTP/") || end == std::string_view::npos) break;
    const std::string_view head = rest.substr(0, end);
    rest.remove_prefix(end + 4);
    result.status = std::stoi(std::string(head.substr(9, 3)));
    if (result.status == 100) {
      result.sawContinue = true;
      continue;
    }
    std::size_t pos = head.find("\r\n");
    while (pos != std::string_view::npos) {
      const auto next = head.find("\r\n", pos + 2);
      const auto line = head.substr(pos + 2, next == std::string_view::npos ? next : next - pos - 2);
      const auto colon = line.find(':');
      std::string name(line.substr(0, colon));
      for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      result.headers[name] = std::string(line.substr(colon + 2));
      pos = next;
    }
    break;
  }
  result.body = std::string(rest);
  return result;
}

// Sends `request` on a new connection; returns the socket (the caller closes it).
int SendRaw(unsigned short port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  return fd;
}

TEST(DevServerBodies, RangeAndSlicesOfEveryBodyKind) {
  TestSupport::TempDir dir;
  const std::string fileBytes = GeneratedBody(1000, 5000);  // any bytes will do
  std::ofstream(dir.Path() / "payload.bin", std::ios::binary) << fileBytes;
  // Larger than one 256 KiB block and not a multiple of the pattern's period.
  constexpr std::uint64_t kBig = 1'000'003;
  const DevServer server(R"({"routes": [
      {"path": "/big", "body_size": 1000003},
      {"path": "/norange", "body_size": 100, "range": false},
      {"path": "/text", "body": "0123456789"},
      {"path": "/file", "body_file": ")" + (dir.Path() / "payload.bin").string() + R"("}]})");
  const std::string big = GeneratedBody(0, kBig);

  struct Case {
    std::string path, range;
    int status;
    std::string contentRange, body;
  } cases[] = {
      {"/big", "", 200, "", big},
      {"/big", "bytes=262100-", 206, "bytes 262100-1000002/1000003", big.substr(262100)},
      {"/big", "bytes=10-19", 206, "bytes 10-19/1000003", big.substr(10, 10)},
      {"/big", "bytes=-5", 206, "bytes 999998-1000002/1000003", big.substr(kBig - 5)},
      {"/big", "bytes=1000003-", 416, "bytes */1000003", ""},
      {"/big", "bytes=5-2", 200, "", big},  // not a valid range: ignored
      {"/norange", "bytes=50-", 200, "", GeneratedBody(0, 100)},
      {"/text", "bytes=5-", 200, "", "0123456789"},  // text bodies ignore Range by default
      {"/file", "", 200, "", fileBytes},
      {"/file", "bytes=4990-", 206, "bytes 4990-4999/5000", fileBytes.substr(4990)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.range);
    const auto r = Curl(server.HttpUrl(c.path),
                        c.range.empty() ? std::vector<std::string>{}
                                        : std::vector<std::string>{"-H", "Range: " + c.range});
    EXPECT_EQ(r.curlExit, 0) << r.err;
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.Header("content-range"), c.contentRange);
    EXPECT_EQ(r.Header("content-length"), std::to_string(c.body.size()));
    EXPECT_TRUE(r.body == c.body) << "body of " << r.body.size() << " bytes differs";
  }
}

TEST(DevServerFaults, CutModesCutTheFirstRequestsOnly) {
  const DevServer server(R"({"routes": [
      {"path": "/once", "body_size": 1000, "cut_after": 300, "cut_mode": "once"},
      {"path": "/twice", "body_size": 1000, "cut_after": 300, "cut_mode": "times:2"},
      {"path": "/always", "body_size": 1000, "cut_after": 300}]})");
  const struct {
    std::string path;
    std::vector<bool> cut;
  } cases[] = {{"/once", {true, false, false}},
               {"/twice", {true, true, false}},
               {"/always", {true, true, true}}};
  for (const auto& c : cases) {
    for (std::size_t i = 0; i < c.cut.size(); ++i) {
      SCOPED_TRACE(c.path + " request " + std::to_string(i + 1));
      const auto r = Curl(server.HttpUrl(c.path));
      EXPECT_EQ(r.status, 200);
      EXPECT_EQ(r.Header("content-length"), "1000");  // the cut is not announced
      EXPECT_EQ(r.curlExit, c.cut[i] ? 18 : 0);
      EXPECT_TRUE(r.body == GeneratedBody(0, c.cut[i] ? 300 : 1000));
    }
  }
  // A resumed request is cut after N bytes of its own body.
  const auto resumed = Curl(server.HttpUrl("/always"), {"-H", "Range: bytes=300-"});
  EXPECT_EQ(resumed.status, 206);
  EXPECT_EQ(resumed.curlExit, 18);
  EXPECT_TRUE(resumed.body == GeneratedBody(300, 300));
}

TEST(DevServerFaults, BodyWithoutContentLengthEndsAtClose) {
  const DevServer server(
      R"({"routes": [{"path": "/nolength", "body_size": 300000, "content_length": false}]})",
      {.http = true, .https = true});
  for (const auto& url : {server.HttpUrl("/nolength"), server.HttpsUrl("/nolength")}) {
    SCOPED_TRACE(url);
    const auto r = Curl(url, {"--cacert", TestSupport::TestCaFile()});
    EXPECT_EQ(r.curlExit, 0) << r.err;  // over TLS the close_notify marks a complete body
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.headers.count("content-length"), 0u);
    EXPECT_EQ(r.headers.count("transfer-encoding"), 0u);
    EXPECT_EQ(r.Header("connection"), "close");
    EXPECT_TRUE(r.body == GeneratedBody(0, 300000));
  }
}

TEST(DevServerFaults, TrickleAndHeaderDelayStillDeliverTheBody) {
  const DevServer server(R"({"routes": [
      {"path": "/slow", "body_size": 100, "trickle": {"bytes": 10, "delay_ms": 20}},
      {"path": "/late", "body": "late", "delay_headers_ms": 150}]})");
  // Only lower bounds: the pauses must have happened, however slow the machine is.
  auto start = std::chrono::steady_clock::now();
  const auto slow = Curl(server.HttpUrl("/slow"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9 * 20));
  EXPECT_TRUE(slow.body == GeneratedBody(0, 100));
  start = std::chrono::steady_clock::now();
  const auto late = Curl(server.HttpUrl("/late"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  EXPECT_EQ(late.body, "late");
}

// A held reply waits until its file exists, while other requests are answered.
TEST(DevServerFaults, HeldReplyWaitsForItsFile) {
  TestSupport::TempDir dir;
  const auto release = dir.Path() / "release";
  const DevServer server(R"({"routes": [
      {"path": "/held", "body": "held", "hold_file": ")" + release.string() + R"("},
      {"path": "/quick", "body": "quick"}]})");
  const int held = SendRaw(server.Port(), "GET /held HTTP/1.1\r\nHost: t\r\n\r\n");
  EXPECT_EQ(Curl(server.HttpUrl("/quick")).body, "quick");
  // Nothing has come back on the held connection meanwhile.
  char byte;
  EXPECT_EQ(recv(held, &byte, 1, MSG_DONTWAIT), -1);
  std::ofstream(release).put('\n');
  std::string reply;
  for (char buffer[512]; reply.find("held") == std::string::npos;) {
    const ssize_t n = recv(held, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    reply.append(buffer, static_cast<size_t>(n));
  }
  close(held);
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
  EXPECT_TRUE(reply.ends_with("held")) << reply;
}

TEST(DevServerRoutes, StatusHeadersSequenceAndUnknownPaths) {
  const DevServer server(R"({"routes": [
      {"path": "/retry", "sequence": [{"status": 503}, {"status": 503},
          {"status": 302, "location": "/elsewhere"}, {"body": "done"}]},
      {"path": "/odd", "status": 599, "headers": {"X-Test": "yes"}, "body": "odd"},
      {"method": "POST", "path": "/post-only", "body": "posted"}]})");
  const struct {
    std::string path;
    int status;
    std::string body;
  } cases[] = {{"/retry", 503, ""},  {"/retry", 503, ""}, {"/retry", 302, ""},
               {"/retry", 200, "done"}, {"/retry", 200, "done"},  // the last one repeats
               {"/odd", 599, "odd"},    {"/post-only", 404, "no route for /post-only\n"},
               {"/missing", 404, "no route for /missing\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto r = Curl(server.HttpUrl(c.path));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body, c.body);
    if (c.status == 302) {
      EXPECT_EQ(r.Header("location"), "/elsewhere");
    }
    if (c.status == 599) {
      EXPECT_EQ(r.Header("x-test"), "yes");
    }
  }
  EXPECT_EQ(Curl(server.HttpUrl("/post-only"), {"-d", "x"}).body, "posted");
}

TEST(DevServerRoutes, EchoDescribesTheRequest) {
  TestSupport::TempDir dir;
  const std::string binary("\xff\x00\x01", 3);
  std::ofstream(dir.Path() / "binary", std::ios::binary) << binary;
  const DevServer server(R"({"routes": [{"path": "/echo", "echo": true}]})");

  const auto text = Curl(server.HttpUrl("/echo?a=1&b=2"),
                         {"-H", "Content-Type: application/json; charset=utf-8", "-H",
                          "Expect: 100-continue", "--data-binary", R"({"k":"\u00e9"})"});
  EXPECT_TRUE(text.sawContinue);
  EXPECT_EQ(text.Header("content-type"), "application/json");
  const auto echo = boost::json::parse(text.body).as_object();
  EXPECT_EQ(echo.at("method"), "POST");
  EXPECT_EQ(echo.at("target"), "/echo?a=1&b=2");
  EXPECT_EQ(echo.at("path"), "/echo");
  EXPECT_EQ(echo.at("query"), "a=1&b=2");
  EXPECT_EQ(echo.at("headers").at("content-type"), "application/json; charset=utf-8");
  EXPECT_EQ(echo.at("body"), R"({"k":"\u00e9"})");

  const auto raw = Curl(server.HttpUrl("/echo"), {"--data-binary", "@" + (dir.Path() / "binary").string()});
  const auto rawEcho = boost::json::parse(raw.body).as_object();
  EXPECT_FALSE(rawEcho.contains("body"));
  EXPECT_EQ(rawEcho.at("body_base64"), "/wAB");
}

TEST(DevServerHttps, ServesWithTheTestCertificateOnly) {
  const DevServer server(R"({"routes": [{"path": "/hello", "body": "hello"}]})",
                         {.http = false, .https = true});
  ASSERT_EQ(server.Port(), 0);
  const std::string localhost = "https://localhost:" + std::to_string(server.HttpsPort()) + "/hello";
  for (const auto& url : {server.HttpsUrl("/hello"), localhost}) {
    SCOPED_TRACE(url);
    const auto r = Curl(url, {"--cacert", TestSupport::TestCaFile()});
    EXPECT_EQ(r.curlExit, 0) << r.err;
    EXPECT_EQ(r.body, "hello");
  }
  EXPECT_EQ(Curl(server.HttpsUrl("/hello")).curlExit, 60);  // not trusted without the test CA
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].tls);
}

TEST(DevServerLog, RecordsEveryRequestAndItsConnection) {
  const DevServer server(R"({"routes": [
      {"path": "/a", "name": "first", "body": "A"},
      {"method": "PUT", "path": "/b", "body": "B"}]})");
  // Two requests on one kept-alive connection, then one with a body, then an unknown path.
  Curl(server.HttpUrl("/a"), {server.HttpUrl("/a?x=1")});  // curl fetches its arguments in order
  Curl(server.HttpUrl("/b"), {"-X", "PUT", "-H", "X-Mark: m", "--data-binary", "payload"});
  Curl(server.HttpUrl("/nothing"));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].target, "/a?x=1");
  EXPECT_EQ(requests[0].path, "/a");
  EXPECT_EQ(requests[0].query, "x=1");
  EXPECT_EQ(requests[0].route, "first");
  EXPECT_EQ(requests[0].connection, requests[1].connection);
  EXPECT_FALSE(requests[0].tls);
  EXPECT_EQ(requests[2].method, "PUT");
  EXPECT_EQ(requests[2].route, "PUT /b");
  EXPECT_EQ(requests[2].Header("x-mark"), "m");
  EXPECT_EQ(requests[2].body, "payload");
  EXPECT_NE(requests[2].connection, requests[1].connection);
  EXPECT_EQ(requests[3].route, "");
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].number, i + 1);
    if (i > 0) {
      EXPECT_GE(requests[i].timeUs, requests[i - 1].timeUs);
    }
  }
}

TEST(DevServerProcess, ServesOthersWhileOneReplyWaitsAndStopsOnSigterm) {
  DevServer server(R"({"routes": [
      {"path": "/stuck", "body": "x", "delay_headers_ms": 600000},
      {"path": "/quick", "body": "quick"}]})");
  const int stuck = SendRaw(server.Port(), "GET /stuck HTTP/1.1\r\nHost: t\r\n\r\n");
  EXPECT_EQ(Curl(server.HttpUrl("/quick")).body, "quick");
  EXPECT_EQ(server.Stop(), 0);  // does not wait for the stuck reply
  char byte;
  EXPECT_EQ(recv(stuck, &byte, 1, 0), 0);  // the connection was closed without a reply
  close(stuck);
}

TEST(DevServerProcess, RejectsBadScenariosWithTheReason) {
  TestSupport::TempDir dir;
  const struct {
    std::string scenario, reason;
  } cases[] = {
      {R"({"routes": [{"path": "/a", "body": "x", "cut-after": 3}]})", "\"cut-after\" is not a known option"},
      {R"({"routes": [{"path": "/a", "body": "x", "body_size": 3}]})", "give only one of"},
      {R"({"routes": [{"path": "/a", "cut_after": 3, "cut_mode": "sometimes"}]})", "cut_mode"},
      {R"({"routes": [{"path": "/a", "body_file": "/nonexistent/file"}]})", "/nonexistent/file"},
      {R"({"routes": [{"path": "/a", "kind": "nothing"}]})", "nothing"},
      {R"({"routes": [{"path": "/a", "sequence": []}]})", "sequence"},
      {R"({"routes": [{"body": "no path"}]})", "path"},
      {R"({"routes": [)", "not valid JSON"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    std::ofstream(dir.Path() / "s.json", std::ios::binary | std::ios::trunc) << c.scenario;
    const auto run = TestSupport::RunProcess(
        OMK_DEVSERVER_PATH, {"--scenario", (dir.Path() / "s.json").string(), "--http-port", "0"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");  // never "ready"
  }
}

}  // namespace
