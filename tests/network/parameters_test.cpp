#include "network/parameters.h"

#include <gtest/gtest.h>

#include "network/exceptions.h"

namespace Cxx::Network::Http::HttpClient {
namespace {

using Exception::CNetworkException;

std::string Bytes(const IParametersSet& set) {
  uint32_t length = 0;
  const char* data = set.GetBuffer(length);
  return std::string(data, length);
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const CNetworkException& e) {
    EXPECT_EQ(e.GetErrorCode(), 0);
    return e.what();
  }
  return "no error";
}

TEST(ParametersTest, TextAndJsonRendering) {
  CSimplePostParametersSet set;
  set.Add(std::make_shared<CSimpleTextParameter>(L"a", L"1"));
  set.Add(std::make_shared<CSimpleTextParameter>(L"b", L"2 &\u00E9"));  // no escaping
  EXPECT_EQ(Bytes(set), "a=1&b=2 &\xC3\xA9");
  set.Clear();
  set.Add(std::make_shared<CSimpleJSONParameter>("json", "x", true));
  EXPECT_EQ(Bytes(set), "{\"json\":\"x\"}");
  set.Clear();
  set.Add(std::make_shared<CSimpleJSONParameter>("json", "x", false));
  set.Add(std::make_shared<CSimpleJSONParameter>("", "{\"k\":1}", true));
  EXPECT_EQ(Bytes(set), "x&{\"k\":1}");
  set.Clear();
  set.Add(std::make_shared<CSimpleTextParameter>(L"whole text=as is"));
  EXPECT_EQ(Bytes(set), "whole text=as is");
}

TEST(ParametersTest, ErrorsThrownByValueWithExactMessages) {
  EXPECT_EQ(ErrorOf([] { uint32_t n = 0; CSimpleGetParametersSet().GetBuffer(n); }), "Parameters' list is empty.");
  EXPECT_EQ(ErrorOf([] { CSimplePostParametersSet().Add(nullptr); }),
            "Parameter is empty or returned parameter's buffer is incorrect.");
  EXPECT_EQ(ErrorOf([] { CSimplePostParametersSet().Add(std::make_shared<CSimpleJSONParameter>("n", "", false)); }),
            "Parameter is empty.");
  const std::wstring loneSurrogate(1, static_cast<wchar_t>(0xD800));
  EXPECT_EQ(ErrorOf([&] { CSimpleTextParameter(L"n", loneSurrogate); }), "Can't convert parameter to UTF-8 encoding.");
  EXPECT_EQ(ErrorOf([&] { CSimpleTextParameter(loneSurrogate + L"=v"); }), "Can't convert parameter to UTF-8 encoding.");
}

}  // namespace
}  // namespace Cxx::Network::Http::HttpClient
