// The storage over the real transport against omk-devserver's component route, and a query
// whose answer is then downloaded and verified.
#include <gtest/gtest.h>

#include "componentget/components_storage.h"
#include "network/downloader.h"
#include "network/exceptions.h"
#include "platform/md5.h"
#include "platform/text.h"
#include "tests/support/dev_server.h"

namespace ComponentGet {
namespace {

using Cxx::Network::RequestResponse::CHttpRequestResponse;
using TestSupport::DevServer;

CComponentsStorage MakeStorage(const std::string& url) {
  ApplicationInfo application{L"OMK", 77, L"{guid}", L"{guid}", L"3.10.1.2", L"de"};
  OsInfo os{L"x64", L"6.1", 0};
  return CComponentsStorage(application, os, std::make_shared<Protocol::CProtocol>(),
                            std::make_shared<CHttpRequestResponse>(Platform::Utf8ToWide(url), 0));
}

const std::vector<ComponentQuery> kWanted = {{L"OMK_SM", L"x64", L"3.10.1.2"}};

TEST(ComponentServiceTest, AnswersInTurnAndTheExactRequestSent) {
  const DevServer server(R"({"routes": [{"method": "POST", "path": "/component", "kind": "component",
    "answers": [
      {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/f.bin", "md5": "AB"}]},
      {"garbage": 64},
      {"empty": true},
      {"components": []},
      {"status": 503, "body": "busy"}]}]})");
  auto storage = MakeStorage(server.HttpUrl("/component"));

  std::map<std::wstring, ComponentInfo> components;
  ASSERT_EQ(storage.QueryComponents(kWanted, components), kStorageSuccess);
  ASSERT_EQ(components.count(L"OMK_SM"), 1u);
  EXPECT_EQ(components[L"OMK_SM"].url, Platform::Utf8ToWide(server.HttpUrl("/f.bin")));
  EXPECT_EQ(components[L"OMK_SM"].md5, L"AB");

  components.clear();
  EXPECT_EQ(storage.QueryComponents(kWanted, components), kStorageNothing);   // garbage
  EXPECT_EQ(storage.QueryComponents(kWanted, components), kStorageNoAnswer);  // empty body
  EXPECT_EQ(storage.QueryComponents(kWanted, components), kStorageNothing);   // empty array
  try {
    storage.QueryComponents(kWanted, components);
    ADD_FAILURE() << "a 503 must come out as the network exception";
  } catch (const Cxx::Network::Exception::NetworkExceptionPtr& e) {
    EXPECT_EQ(e->GetErrorCode(), 8);
  }
  EXPECT_TRUE(components.empty());

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.Header("content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(request.body,
              R"({"protocolVersion":1,"application":{"code":"OMK","buildId":77,"uid":"{guid}","puid":"{guid}",)"
              R"("version":"3.10.1.2","language":"de"},"os":{"arch":"x64","version":"6.1"},)"
              R"("components":[{"id":"OMK_SM","arch":"x64","version":"3.10.1.2"}]})");
  }
}

TEST(ComponentServiceTest, NoServiceHostSendsNothing) {
  auto storage = MakeStorage("http:///component");
  std::map<std::wstring, ComponentInfo> components;
  EXPECT_EQ(storage.QueryComponents(kWanted, components), kStorageNoAnswer);
}

TEST(ComponentServiceTest, AnsweredComponentIsDownloadedAndVerified) {
  const std::string body = TestSupport::GeneratedBody(0, 300000);
  const std::string scenario =
      R"({"routes": [{"method": "POST", "path": "/component", "kind": "component", "answer":
        {"components": [{"id": "OMK_SM", "version": "3.10.1.2", "url": "{base}/f.bin", "md5": ")" +
      Platform::Md5Hex(body) + R"("}]}}, {"path": "/f.bin", "body_size": 300000}]})";
  const DevServer server(scenario);
  auto storage = MakeStorage(server.HttpUrl("/component"));
  std::map<std::wstring, ComponentInfo> components;
  ASSERT_EQ(storage.QueryComponents(kWanted, components), kStorageSuccess);

  const ComponentInfo& info = components.at(L"OMK_SM");
  auto downloader = Cxx::Network::Downloader::CreateDownloader(info.url, info.md5);
  ASSERT_NE(downloader, nullptr);
  auto buffer = std::make_shared<Cxx::Network::Downloader::CByteBuffer>();
  ASSERT_TRUE(downloader->StartToStream(buffer));
  downloader->Wait();
  EXPECT_TRUE(std::string(buffer->Bytes().begin(), buffer->Bytes().end()) == body);
}

}  // namespace
}  // namespace ComponentGet
