#include "componentget/components_storage.h"

#include <gtest/gtest.h>

#include "network/exceptions.h"

namespace ComponentGet {
namespace {

using Cxx::Network::RequestResponse::IRequestResponse;

// Answers every Send with a fixed result and reply and keeps the bodies it was given.
class FakeTransport : public IRequestResponse {
 public:
  FakeTransport(int32_t result, std::string reply) : m_result(result), m_reply(std::move(reply)) {}
  int32_t Send(const std::string& body, std::string& reply) override {
    bodies.push_back(body);
    if (m_result == 0) reply = m_reply;
    return m_result;
  }
  std::vector<std::string> bodies;

 private:
  int32_t m_result;
  std::string m_reply;
};

class ThrowingTransport : public IRequestResponse {
 public:
  int32_t Send(const std::string&, std::string&) override {
    Cxx::Network::Exception::Throw(3, "Can't send request to the server.");
  }
};

std::string Reply(const std::string& json) { return json + std::string(1, '\0'); }

const std::vector<ComponentQuery> kWanted = {{L"OMK_SM", L"x64", L"3.10.1.2"}};

CComponentsStorage MakeStorage(std::shared_ptr<IRequestResponse> transport,
                               std::shared_ptr<Protocol::IProtocol> protocol = std::make_shared<Protocol::CProtocol>()) {
  ApplicationInfo application;
  application.code = L"OMK";
  application.version = L"3.10.1.2";
  OsInfo os;
  os.arch = L"x64";
  return CComponentsStorage(application, os, std::move(protocol), std::move(transport));
}

TEST(ComponentsStorageTest, ResultCodes) {
  const std::string good = R"([{"id":"OMK_SM","version":"3.10.1.2","url":"http://h/f","md5":"00"}])";
  struct Case {
    const char* name;
    int32_t sendResult;
    std::string reply;
    std::vector<ComponentQuery> wanted;
    EStorageResult expected;
    size_t sends;
  };
  const Case cases[] = {
      {"success", 0, Reply(good), kWanted, kStorageSuccess, 1},
      {"nothing wanted", 0, Reply(good), {}, kStorageNothing, 0},
      {"component without arch", 0, Reply(good), {{L"OMK_SM", L"", L""}}, kStorageBadRequest, 0},
      {"no host", 1, "", kWanted, kStorageNoAnswer, 1},
      {"empty reply body", 2, "", kWanted, kStorageNoAnswer, 1},
      {"empty reply text", 0, "", kWanted, kStorageEmptyReply, 1},
      {"empty array", 0, Reply("[]"), kWanted, kStorageNothing, 1},
      {"not JSON", 0, Reply("<html></html>"), kWanted, kStorageNothing, 1},
      {"first element bad", 0, Reply(R"([{"id":"OMK_SM"}])"), kWanted, kStorageNothing, 1},
      {"later element bad", 0, Reply("[" + good.substr(1, good.size() - 2) + ",7]"), kWanted, kStorageSuccess, 1},
  };
  for (const Case& c : cases) {
    auto transport = std::make_shared<FakeTransport>(c.sendResult, c.reply);
    auto storage = MakeStorage(transport);
    std::map<std::wstring, ComponentInfo> components;
    EXPECT_EQ(storage.QueryComponents(c.wanted, components), c.expected) << c.name;
    EXPECT_EQ(transport->bodies.size(), c.sends) << c.name;
    EXPECT_EQ(components.size(), c.expected == kStorageSuccess ? 1u : 0u) << c.name;
  }
}

TEST(ComponentsStorageTest, MissingObjects) {
  std::map<std::wstring, ComponentInfo> components;
  EXPECT_EQ(MakeStorage(std::make_shared<FakeTransport>(0, Reply("[]")), nullptr).QueryComponents(kWanted, components),
            kStorageNoObjects);
  EXPECT_EQ(MakeStorage(nullptr).QueryComponents(kWanted, components), kStorageNoObjects);
}

TEST(ComponentsStorageTest, SendsTheRequestAsUtf8AndKeepsTheLaterOfTwoRecords) {
  auto transport = std::make_shared<FakeTransport>(
      0, Reply(R"([{"id":"A","version":"1","url":"http://h/1","md5":"11"},)"
               R"({"id":"B","version":"1","url":"http://h/b","md5":"bb"},)"
               R"({"id":"A","version":"2","url":"http://h/2","md5":"22"}])"));
  auto storage = MakeStorage(transport);
  std::map<std::wstring, ComponentInfo> components;
  ASSERT_EQ(storage.QueryComponents({{L"A", L"x64", L"\u00e9"}}, components), kStorageSuccess);
  ASSERT_EQ(transport->bodies.size(), 1u);
  EXPECT_EQ(transport->bodies[0],
            "{\"protocolVersion\":1,\"application\":{\"code\":\"OMK\",\"version\":\"3.10.1.2\"},"
            "\"os\":{\"arch\":\"x64\"},\"components\":[{\"id\":\"A\",\"arch\":\"x64\",\"version\":\"\xC3\xA9\"}]}");
  ASSERT_EQ(components.size(), 2u);
  EXPECT_EQ(components[L"A"].version, L"2");
  EXPECT_EQ(components[L"A"].url, L"http://h/2");
  EXPECT_EQ(components[L"A"].md5, L"22");
  EXPECT_EQ(components[L"B"].url, L"http://h/b");
}

TEST(ComponentsStorageTest, NetworkExceptionsPassThrough) {
  auto storage = MakeStorage(std::make_shared<ThrowingTransport>());
  std::map<std::wstring, ComponentInfo> components;
  try {
    storage.QueryComponents(kWanted, components);
    FAIL() << "no exception";
  } catch (const Cxx::Network::Exception::NetworkExceptionPtr& e) {
    EXPECT_EQ(e->GetErrorCode(), 3);
  }
}

}  // namespace
}  // namespace ComponentGet
