#include "componentget/protocol.h"

#include <gtest/gtest.h>

namespace ComponentGet::Protocol {
namespace {

ComponentsRequest FullRequest() {
  ComponentsRequest request;
  request.protocolVersion = 1;
  request.application = {L"OMK", 1234, L"{uid}", L"{puid}", L"3.10.1.2", L"en"};
  request.os = {L"x64", L"6.1", 7601};
  request.components = {{L"OMK_SM", L"x64", L"3.10.1.2"}, {L"EXTRA", L"x86", L""}};
  return request;
}

TEST(ProtocolBuildRequestTest, FullRequestInMemberOrder) {
  CProtocol protocol;
  std::wstring json;
  ASSERT_TRUE(protocol.BuildRequest(FullRequest(), json));
  EXPECT_EQ(json,
            L"{\"protocolVersion\":1,"
            L"\"application\":{\"code\":\"OMK\",\"buildId\":1234,\"uid\":\"{uid}\",\"puid\":\"{puid}\","
            L"\"version\":\"3.10.1.2\",\"language\":\"en\"},"
            L"\"os\":{\"arch\":\"x64\",\"version\":\"6.1\",\"build\":7601},"
            L"\"components\":[{\"id\":\"OMK_SM\",\"arch\":\"x64\",\"version\":\"3.10.1.2\"},"
            L"{\"id\":\"EXTRA\",\"arch\":\"x86\",\"version\":\"\"}]}");
}

TEST(ProtocolBuildRequestTest, MinimalRequestOmitsEmptyMembers) {
  CProtocol protocol;
  ComponentsRequest request;
  request.application.code = L"OMK";
  std::wstring json;
  ASSERT_TRUE(protocol.BuildRequest(request, json));
  EXPECT_EQ(json, L"{\"protocolVersion\":1,\"application\":{\"code\":\"OMK\"},\"os\":{},\"components\":[]}");
}

TEST(ProtocolBuildRequestTest, TextIsEscapedAndNonAsciiKept) {
  CProtocol protocol;
  ComponentsRequest request;
  request.application.code = L"a\"b\\c\n\u00e9";
  request.application.buildId = -1;
  std::wstring json;
  ASSERT_TRUE(protocol.BuildRequest(request, json));
  EXPECT_EQ(json,
            L"{\"protocolVersion\":1,\"application\":{\"code\":\"a\\\"b\\\\c\\n\u00e9\",\"buildId\":-1},"
            L"\"os\":{},\"components\":[]}");
}

TEST(ProtocolBuildRequestTest, RefusalsLeaveTheTextUnchanged) {
  struct Case {
    const char* name;
    void (*change)(ComponentsRequest&);
  };
  const Case cases[] = {
      {"empty code", [](ComponentsRequest& r) { r.application.code.clear(); }},
      {"component without id", [](ComponentsRequest& r) { r.components[1].id.clear(); }},
      {"component without arch", [](ComponentsRequest& r) { r.components[0].arch.clear(); }},
  };
  CProtocol protocol;
  for (const Case& c : cases) {
    ComponentsRequest request = FullRequest();
    c.change(request);
    std::wstring json = L"before";
    EXPECT_FALSE(protocol.BuildRequest(request, json)) << c.name;
    EXPECT_EQ(json, L"before") << c.name;
  }
}

TEST(ProtocolParseResponseTest, Replies) {
  struct Case {
    std::wstring text;
    bool ok;
    size_t records;
  };
  const std::wstring one = L"{\"id\":\"OMK_SM\",\"version\":\"3.10\",\"url\":\"http://h/f.bin\",\"md5\":\"ab\"}";
  const std::wstring z(1, L'\0');
  const Case cases[] = {
      {L"[]" + z, true, 0},
      {L"[]", true, 0},
      {L" [ " + one + L" , " + one + L" ]\r\n" + z, true, 2},
      {L"[{\"md5\":\"m\",\"url\":\"u\",\"version\":\"v\",\"id\":\"i\",\"size\":5,\"x\":{}}]" + z, true, 1},
      {one + z, false, 0},                                                   // an object, not an array
      {L"[" + one + L",{\"id\":\"b\",\"version\":\"1\",\"url\":\"u\",\"md5\":\"\"}]" + z, false, 1},
      {L"[" + one + L",{\"id\":\"b\",\"version\":\"1\",\"url\":\"u\",\"md5\":7}]" + z, false, 1},
      {L"[" + one + L",{\"id\":\"b\",\"version\":\"1\",\"url\":\"u\"}]" + z, false, 1},
      {L"[" + one + L",{\"id\":null,\"version\":\"1\",\"url\":\"u\",\"md5\":\"m\"}]" + z, false, 1},
      {L"[" + one + L",[]]" + z, false, 1},
      {L"[1," + one + L"]" + z, false, 0},
      {L"[" + one + z, false, 0},                                            // cut short
      {L"[" + one + L"]x" + z, false, 0},                                    // text after the value
      {L"[" + one + L"]" + z + z, false, 0},                                 // only one zero belongs
      {L"[" + one + L"]" + z + L"[]", false, 0},
      {L"", false, 0},
      {z, false, 0},
      {L"<html>502 Bad Gateway</html>" + z, false, 0},
  };
  CProtocol protocol;
  for (const Case& c : cases) {
    std::vector<ComponentInfo> records;
    EXPECT_EQ(protocol.ParseResponse(c.text, records), c.ok) << testing::PrintToString(c.text);
    EXPECT_EQ(records.size(), c.records) << testing::PrintToString(c.text);
  }
}

TEST(ProtocolParseResponseTest, RecordsAreAppendedInArrayOrder) {
  CProtocol protocol;
  std::vector<ComponentInfo> records(1);
  records[0].id = L"kept";
  ASSERT_TRUE(protocol.ParseResponse(
      L"[{\"id\":\"a\",\"version\":\"1\",\"url\":\"http://h/a?x=1&y=2\",\"md5\":\"AB\"},"
      L"{\"id\":\"b\",\"version\":\"2\",\"url\":\"u\\/v\",\"md5\":\"cd\",\"id2\":3}]",
      records));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].id, L"kept");
  EXPECT_EQ(records[1].id, L"a");
  EXPECT_EQ(records[1].version, L"1");
  EXPECT_EQ(records[1].url, L"http://h/a?x=1&y=2");
  EXPECT_EQ(records[1].md5, L"AB");
  EXPECT_EQ(records[1].flags, 0);
  EXPECT_EQ(records[2].id, L"b");
  EXPECT_EQ(records[2].url, L"u/v");
}

TEST(ProtocolParseResponseTest, ReplyBytesWidenedOnePerCharacterReadBack) {
  // The storage widens each reply byte to one character; every byte value must survive.
  std::wstring text = L"[{\"id\":\"";
  text.push_back(0xC3);
  text.push_back(0xA9);
  text.push_back(0xFF);
  text += L"\",\"version\":\"1\",\"url\":\"u\",\"md5\":\"m\"}]";
  text.push_back(L'\0');
  CProtocol protocol;
  std::vector<ComponentInfo> records;
  ASSERT_TRUE(protocol.ParseResponse(text, records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].id, std::wstring({wchar_t(0xC3), wchar_t(0xA9), wchar_t(0xFF)}));
}

}  // namespace
}  // namespace ComponentGet::Protocol
