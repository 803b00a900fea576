// The HTTP clients against the local test server.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/thread/latch.hpp>
#include <chrono>
#include <cstring>

#include "network/exceptions.h"
#include "network/http_clients.h"
#include "network/operation_thread.h"
#include "network/parameters.h"
#include "network/request_response.h"
#include "platform/text.h"
#include "tests/support/dev_server.h"

namespace Cxx::Network::Http::HttpClient {
namespace {

using Exception::CNetworkException;
using Exception::NetworkExceptionPtr;
using TestSupport::DevServer;
using TestSupport::GeneratedBody;

ConnectionSettings TestSettings() {
  ConnectionSettings settings;
  settings.caBundle = OMK_TEST_CA_PEM;
  settings.resumePause = std::chrono::milliseconds(1);
  return settings;
}

std::shared_ptr<IConnection> Get(const DevServer& server, const std::wstring& path,
                                 IParametersSet* parameters = nullptr) {
  auto client = CreateSimpleGetHttpClient(L"", L"127.0.0.1", server.Port(), kSchemeHttp, TestSettings());
  client->SendRequest(path, parameters, L"");
  return client;
}

// Collects every chunk; can stop after a number of chunks.
struct Collector : IReadDataCallBack {
  std::string body;
  std::vector<uint32_t> sizes;
  int64_t contentLength = -2;
  size_t stopAfter = SIZE_MAX;
  bool OnData(const uint8_t* buffer, uint32_t bufferSize, uint32_t bytesRead, uint64_t totalRead,
              int64_t length) override {
    EXPECT_LE(bytesRead, bufferSize);
    body.append(reinterpret_cast<const char*>(buffer), bytesRead);
    EXPECT_EQ(totalRead, body.size());
    sizes.push_back(bytesRead);
    contentLength = length;
    return sizes.size() < stopAfter;
  }
};

// The exception a call throws, as the layer throws it (a shared pointer).
NetworkExceptionPtr Failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const NetworkExceptionPtr& e) {
    return e;
  }
  ADD_FAILURE() << "no network exception";
  return std::make_shared<CNetworkException>(-1, "none");
}

TEST(ConnectionTest, ReadAllCountsTheZeroAndPadsThreeZeros) {
  DevServer server(R"({"routes": [{"path": "/text", "body": "hello"}, {"path": "/empty", "body": ""},
                                  {"path": "/nolength", "body": "streamed", "content_length": false}]})");
  const std::pair<std::wstring, std::string> cases[] = {
      {L"/text", "hello"}, {L"/empty", ""}, {L"/nolength", "streamed"}};
  for (const auto& [path, body] : cases) {
    std::unique_ptr<uint8_t[]> block;
    uint32_t length = 0;
    Get(server, path)->ReadAll(block, length);
    ASSERT_EQ(length, body.size() + 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.get()), body.size()), body);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.get()) + body.size(), 3), std::string(3, '\0'));
  }
}

TEST(ConnectionTest, ReadChunksHandsOutFullChunksOfTheBody) {
  DevServer server(R"({"routes": [{"path": "/file", "body_size": 1000000}]})");
  Collector collector;
  Get(server, L"/file")->ReadChunks(collector, 131072);
  EXPECT_EQ(collector.body, GeneratedBody(0, 1000000));
  EXPECT_EQ(collector.contentLength, 1000000);
  ASSERT_EQ(collector.sizes.size(), 8u);
  EXPECT_EQ(collector.sizes.front(), 131072u);
  EXPECT_EQ(collector.sizes.back(), 1000000u - 7 * 131072u);
}

TEST(ConnectionTest, ReadChunksNeedsAContentLength) {
  DevServer server(R"({"routes": [{"path": "/nolength", "body": "streamed", "content_length": false}]})");
  Collector collector;
  const auto connection = Get(server, L"/nolength");
  const auto e = Failure([&] { connection->ReadChunks(collector, 4096); });
  EXPECT_EQ(e->GetErrorCode(), 4);
  EXPECT_STREQ(e->what(),
               "Error by receiving data from server ( asynchronously ). Available data size is unknown. "
               "Can't get content length header.");
  EXPECT_TRUE(collector.sizes.empty());
}

TEST(ConnectionTest, ReceiverStopsTheReadWithoutError) {
  DevServer server(R"({"routes": [{"path": "/file", "body_size": 1000000}]})");
  Collector collector;
  collector.stopAfter = 1;
  Get(server, L"/file")->ReadChunks(collector, 65536);
  EXPECT_EQ(collector.body, GeneratedBody(0, 65536));
}

TEST(ConnectionTest, BrokenTransferResumesWithRange) {
  DevServer server(R"({"routes": [
      {"path": "/once", "body_size": 700000, "cut_after": 300000, "cut_mode": "once"},
      {"path": "/norange", "body_size": 700000, "cut_after": 300000, "cut_mode": "once", "range": false}]})");
  for (const std::wstring path : {L"/once", L"/norange"}) {
    Collector collector;
    Get(server, path)->ReadChunks(collector, 131072);
    EXPECT_EQ(collector.body, GeneratedBody(0, 700000));
    EXPECT_EQ(collector.contentLength, 700000);  // the first answer's length serves throughout
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_FALSE(requests[0].HasHeader("range"));
  EXPECT_EQ(requests[1].Header("range"), "bytes=300000-");
  EXPECT_EQ(requests[3].Header("range"), "bytes=300000-");  // answered in full, start dropped
}

// Counts past 4 GiB: a 5 GiB body cut at 4.5 GiB resumes at that byte, and the running total
// and the Content-Length stay right to the end.
TEST(ConnectionTest, BodyPastFourGiBCountsAndResumesRight) {
  constexpr uint64_t kSize = uint64_t{5} << 30;
  constexpr uint64_t kCut = uint64_t{9} << 29;
  DevServer server(R"({"routes": [{"path": "/huge", "body_size": 5368709120, "cut_after": 4831838208,
                                   "cut_mode": "once"}]})");
  struct Counter : IReadDataCallBack {
    uint64_t total = 0;
    int64_t contentLength = 0;
    bool sumsUp = true;
    std::string atCut;  // the bytes of the chunk that comes right after the cut
    bool OnData(const uint8_t* buffer, uint32_t, uint32_t bytesRead, uint64_t totalRead, int64_t length) override {
      sumsUp = sumsUp && totalRead == total + bytesRead;
      if (total == kCut) atCut.assign(reinterpret_cast<const char*>(buffer), bytesRead);
      total = totalRead;
      contentLength = length;
      return true;
    }
  } counter;
  ConnectionSettings settings = TestSettings();
  settings.chunkedLimit = kSize;
  const auto client = CreateSimpleGetHttpClient(L"", L"127.0.0.1", server.Port(), kSchemeHttp, settings);
  client->SendRequest(L"/huge", nullptr, L"");
  client->ReadChunks(counter, 1 << 20);
  EXPECT_TRUE(counter.sumsUp);
  EXPECT_EQ(counter.total, kSize);
  EXPECT_EQ(counter.contentLength, static_cast<int64_t>(kSize));
  EXPECT_TRUE(counter.atCut == GeneratedBody(kCut, 1 << 20));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].Header("range"), "bytes=4831838208-");
}

TEST(ConnectionTest, ResumeAnsweredWithALongerBodyIsAFailedRead) {
  // The resend is answered in full, but the body has grown past the first answer's length.
  DevServer server(R"({"routes": [{"path": "/grows", "sequence": [
      {"body_size": 10000, "cut_after": 5000}, {"body_size": 100000, "range": false}]}]})");
  Collector collector;
  const auto connection = Get(server, L"/grows");
  const auto e = Failure([&] { connection->ReadChunks(collector, 4096); });
  EXPECT_EQ(e->GetErrorCode(), 4);
  EXPECT_STREQ(e->what(), "Error by receiving data from server ( asynchronously ). The body is too long.");
  EXPECT_LE(collector.body.size(), 10000u);
}

TEST(ConnectionTest, ResumeGivesUpAfterTenFruitlessResends) {
  // Every answer breaks before its first byte, so no chunk ever restores the retries.
  DevServer server(R"({"routes": [{"path": "/dead", "body_size": 5000, "cut_after": 0}]})");
  Collector collector;
  const auto connection = Get(server, L"/dead");
  const auto e = Failure([&] { connection->ReadChunks(collector, 4096); });
  EXPECT_EQ(e->GetErrorCode(), 4);
  EXPECT_STREQ(e->what(), "Error by receiving data from server ( asynchronously ).");
  EXPECT_EQ(server.Requests().size(), 11u);
}

TEST(ConnectionTest, EachArrivingChunkRestoresTheRetries) {
  // 12 breaks in a row would exhaust 10 retries, but each answer brings 1000 new bytes.
  DevServer server(R"({"routes": [{"path": "/choppy", "body_size": 12500, "cut_after": 1000}]})");
  Collector collector;
  Get(server, L"/choppy")->ReadChunks(collector, 4096);
  EXPECT_EQ(collector.body, GeneratedBody(0, 12500));
  EXPECT_EQ(server.Requests().size(), 13u);
}

// Replies that would never let a transfer end: each ends within the bounds of the settings, as
// a finished response or as the failure the bound gives.
TEST(ConnectionTest, HostileRepliesEndWithinTheBounds) {
  DevServer server(R"({"routes": [
      {"path": "/nowhere", "status": 302, "location": "", "body_size": 50000},
      {"path": "/nowhere-empty", "status": 302, "location": " "},
      {"path": "/silent", "never_answer": true},
      {"path": "/drip", "body": "slow", "drip_ms": 100},
      {"path": "/trickle", "body_size": 900, "trickle": {"bytes": 1, "delay_ms": 100}},
      {"path": "/steady", "body_size": 6000, "trickle": {"bytes": 300, "delay_ms": 100}},
      {"path": "/endless", "endless": true},
      {"path": "/large", "body_size": 1001}]})");
  ConnectionSettings settings = TestSettings();
  settings.stallTimeout = std::chrono::milliseconds(300);
  settings.lowSpeedWindow = std::chrono::milliseconds(600);
  settings.replyTimeout = std::chrono::milliseconds(900);
  settings.replyLimit = 100000;
  settings.chunkedLimit = 1000;
  enum Read { kNone, kAll, kChunks };
  struct Case {
    const wchar_t* path;
    bool post;
    Read read;
    int32_t code;  // the failure's error code; 0: none
    uint32_t status;
    const char* message;
  };
  const Case cases[] = {
      // A redirect that is not followed is the final response, body and all.
      {L"/nowhere", false, kAll, 0, 302, nullptr},
      {L"/nowhere", false, kChunks, 4, 302, "Error by receiving data from server ( asynchronously ). The body is too long."},
      {L"/nowhere-empty", true, kAll, 0, 302, nullptr},
      // No byte at all, or far too few: a time-out, not resumed.
      {L"/silent", false, kNone, 3, 0, "Can't send request to the server."},
      {L"/silent", true, kNone, 3, 0, "Can't send request to the server."},
      {L"/drip", false, kNone, 3, 0, "Can't send request to the server."},
      {L"/trickle", false, kAll, 4, 200, "Error by receiving data from server ( synchronously )."},
      {L"/trickle", false, kChunks, 4, 200, "Error by receiving data from server ( asynchronously )."},
      // 3 KiB/s is fast enough, but a POST's reply has its time in all.
      {L"/steady", false, kAll, 0, 200, nullptr},
      {L"/steady", true, kAll, 4, 200, "Error by receiving data from server ( synchronously )."},
      // Bodies past the limits.
      {L"/endless", false, kAll, 4, 200, "Error by receiving data from server ( synchronously ). The reply is too long."},
      {L"/large", false, kChunks, 4, 200, "Error by receiving data from server ( asynchronously ). The body is too long."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Platform::WideToUtf8(c.path) + (c.post ? " POST" : " GET"));
    const size_t before = server.Requests().size();
    const auto start = std::chrono::steady_clock::now();
    std::shared_ptr<IConnection> client;
    if (c.post) {
      client = CreateSimplePostHttpClient(L"", L"127.0.0.1", server.Port(), kSchemeHttp, settings);
    } else {
      client = CreateSimpleGetHttpClient(L"", L"127.0.0.1", server.Port(), kSchemeHttp, settings);
    }
    const auto run = [&] {
      client->SendRequest(c.path, nullptr, L"");
      std::unique_ptr<uint8_t[]> block;
      uint32_t length = 0;
      Collector collector;
      if (c.read == kAll) {
        client->ReadAll(block, length);
        if (c.path == std::wstring(L"/nowhere")) {
          EXPECT_EQ(length, 50001u);
        }
      }
      if (c.read == kChunks) client->ReadChunks(collector, 4096);
    };
    if (c.code == 0) {
      run();
    } else {
      const auto e = Failure(run);
      EXPECT_EQ(e->GetErrorCode(), c.code);
      EXPECT_STREQ(e->what(), c.message);
    }
    // Far below what an unbounded wait would take, far above the bound.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds / 0.9, 5.0);
    uint32_t status = 0;
    if (c.status != 0) {
      EXPECT_TRUE(client->QueryStatusCode(status));
      EXPECT_EQ(status, c.status);
    }
    EXPECT_EQ(server.Requests().size(), before + 1);  // nothing resent
  }
}

TEST(ConnectionTest, StatusCheck) {
  DevServer server(R"({"routes": [{"path": "/404", "status": 404, "body": "no"},
                                  {"path": "/503", "status": 503}, {"path": "/302", "status": 302, "body": "moved"},
                                  {"path": "/599", "status": 599}, {"path": "/600", "status": 600}]})");
  const std::tuple<std::wstring, int32_t, const char*> failures[] = {
      {L"/404", 7, "Send request to the server failure status 404 ."},
      {L"/503", 8, "Send request to the server failure status 503 ."},
      {L"/599", 8, "Send request to the server failure status 599 ."},
  };
  for (const auto& [path, code, message] : failures) {
    const auto e = Failure([&] { Get(server, path); });
    EXPECT_EQ(e->GetErrorCode(), code);
    EXPECT_STREQ(e->what(), message);
    EXPECT_EQ(e->GetErrorKind(), 5);
  }
  for (const std::wstring path : {L"/302", L"/600"}) {
    uint32_t status = 0;
    EXPECT_TRUE(Get(server, path)->QueryStatusCode(status));
    EXPECT_EQ(status, path == L"/302" ? 302u : 600u);
  }
}

TEST(ConnectionTest, RedirectIsFollowed) {
  DevServer server(R"({"routes": [{"path": "/moved", "status": 302, "location": "/text"},
                                  {"path": "/text", "body": "here"}]})");
  std::unique_ptr<uint8_t[]> block;
  uint32_t length = 0;
  Get(server, L"/moved")->ReadAll(block, length);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.get())), "here");
}

TEST(ConnectionTest, ConnectionRefused) {
  uint16_t port = 0;
  {
    DevServer server(R"({"routes": []})");
    port = server.Port();
  }  // stopped: nothing listens there any more
  for (bool post : {false, true}) {
    const auto e = Failure([&] {
      if (post) {
        CreateSimplePostHttpClient(L"", L"127.0.0.1", port, kSchemeHttp, TestSettings())->SendRequest(L"/", nullptr, L"");
      } else {
        CreateSimpleGetHttpClient(L"", L"127.0.0.1", port, kSchemeHttp, TestSettings())->SendRequest(L"/", nullptr, L"");
      }
    });
    EXPECT_EQ(e->GetErrorCode(), 3);
    EXPECT_STREQ(e->what(), "Can't send request to the server.");
    // GET throws the transport's exception (kind 1, cannot connect); POST the plain one.
    EXPECT_EQ(e->GetErrorKind(), post ? 5 : 1);
  }
}

TEST(ConnectionTest, GetAppendsTheQueryAndPostSendsBodyAndHeaders) {
  DevServer server(R"({"routes": [{"path": "/echo", "echo": true}]})");
  CSimpleGetParametersSet query;
  query.Add(std::make_shared<CSimpleTextParameter>(L"a", L"1"));
  query.Add(std::make_shared<CSimpleTextParameter>(L"b", L"2"));
  Get(server, L"/echo", &query);

  const auto post = CreateSimplePostHttpClient(L"agent/1", L"127.0.0.1", server.Port(), kSchemeHttp, TestSettings());
  CSimplePostParametersSet body;
  body.Add(std::make_shared<CSimpleTextParameter>(L"v", L"1"));
  post->SendRequest(L"/echo", &body, L"X-One: 1\r\nX-Two: 2");
  const auto empty = CreateSimplePostHttpClient(L"", L"127.0.0.1", server.Port(), kSchemeHttp, TestSettings());
  empty->SendRequest(L"/echo", nullptr, L"");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, "/echo?a=1&b=2");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body, "v=1");
  EXPECT_EQ(requests[1].Header("x-one"), "1");
  EXPECT_EQ(requests[1].Header("x-two"), "2");
  EXPECT_EQ(requests[1].Header("user-agent"), "agent/1");
  EXPECT_FALSE(requests[1].HasHeader("content-type"));
  EXPECT_FALSE(requests[1].HasHeader("expect"));
  EXPECT_EQ(requests[2].body, "");
  EXPECT_EQ(requests[2].Header("content-length"), "0");
}

TEST(ConnectionTest, HttpsVerifiesTheServerAgainstTheTrustStore) {
  DevServer server(R"({"routes": [{"path": "/text", "body": "secret"}]})", {.http = false, .https = true});
  const auto trusted = CreateSimpleGetHttpClient(L"", L"127.0.0.1", server.HttpsPort(), kSchemeHttps, TestSettings());
  trusted->SendRequest(L"/text", nullptr, L"");
  std::unique_ptr<uint8_t[]> block;
  uint32_t length = 0;
  trusted->ReadAll(block, length);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.get())), "secret");

  ConnectionSettings systemRoots = TestSettings();
  systemRoots.caBundle = "/etc/ssl/certs/ca-certificates.crt";
  const auto e = Failure([&] {
    CreateSimpleGetHttpClient(L"", L"127.0.0.1", server.HttpsPort(), kSchemeHttps, systemRoots)
        ->SendRequest(L"/text", nullptr, L"");
  });
  EXPECT_EQ(e->GetErrorCode(), 3);
  EXPECT_EQ(server.Requests().size(), 1u);  // the untrusted attempt never got a request through
}

TEST(ConnectionTest, NetworkWaitsAreInterruptionPoints) {
  DevServer server(R"({"routes": [{"path": "/slow", "body_size": 100000, "trickle": {"bytes": 10, "delay_ms": 50}}]})");
  Core::Utils::COperationThread thread;
  boost::latch firstChunk(1);
  std::atomic<bool> interrupted{false};
  struct Signal : IReadDataCallBack {
    boost::latch& latch;
    explicit Signal(boost::latch& l) : latch(l) {}
    bool OnData(const uint8_t*, uint32_t, uint32_t, uint64_t totalRead, int64_t) override {
      if (totalRead == 10) latch.count_down();
      return true;
    }
  };
  thread.Start([&] {
    Signal signal(firstChunk);
    try {
      Get(server, L"/slow")->ReadChunks(signal, 10);
    } catch (const boost::thread_interrupted&) {
      interrupted = true;
    }
  });
  firstChunk.wait();
  thread.Interrupt();
  EXPECT_TRUE(thread.Wait(-1));
  EXPECT_TRUE(interrupted);
}

}  // namespace
}  // namespace Cxx::Network::Http::HttpClient

namespace Cxx::Network::RequestResponse {
namespace {

using TestSupport::DevServer;

TEST(RequestResponseTest, JsonAndTextBodiesAndResults) {
  DevServer server(R"({"routes": [{"path": "/echo", "echo": true}, {"path": "/empty", "body": ""}]})");
  Http::HttpClient::SetDefaultConnectionSettings([] {
    auto s = Http::HttpClient::DefaultConnectionSettings();
    s.caBundle = OMK_TEST_CA_PEM;
    return s;
  }());
  const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(server.Port());

  std::string reply;
  EXPECT_EQ(CHttpRequestResponse(base + L"/echo", 0).Send("{\"a\":[1,\"\xC3\xA9\"]}", reply), kSendReplied);
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply.back(), '\0');  // the zero byte ReadAll counts
  EXPECT_EQ(CHttpRequestResponse(base + L"/echo", 1).Send("plain=text", reply), kSendReplied);
  EXPECT_EQ(CHttpRequestResponse(base + L"/echo", 1).Send("bad \xFF utf-8", reply), kSendReplied);
  EXPECT_EQ(CHttpRequestResponse(base + L"/empty", 0).Send("{}", reply), kSendEmptyReply);

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].body, "{\"a\":[1,\"\xC3\xA9\"]}");
  EXPECT_EQ(requests[0].Header("content-type"), "application/json; charset=utf-8");
  EXPECT_EQ(requests[1].body, "plain=text");
  EXPECT_FALSE(requests[1].HasHeader("content-type"));
  EXPECT_EQ(requests[2].body, "");  // not UTF-8: sent without a body
}

TEST(RequestResponseTest, NoHostMeansNoTraffic) {
  DevServer server(R"({"routes": [{"path": "/echo", "echo": true}]})");
  std::string reply;
  for (const wchar_t* url : {L"", L"http:///echo", L"/echo", L"http://:80/echo"}) {
    EXPECT_EQ(CHttpRequestResponse(url, 0).Send("{}", reply), kSendNoHost);
  }
  EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
}  // namespace Cxx::Network::RequestResponse
