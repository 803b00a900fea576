#include "network/exceptions.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace Cxx::Network::Exception {
namespace {

TEST(ErrorKindTest, CurlCodesMapOntoKinds) {
  const std::pair<CURLcode, int32_t> cases[] = {
      {CURLE_OPERATION_TIMEDOUT, 0},  {CURLE_COULDNT_CONNECT, 1},  {CURLE_COULDNT_RESOLVE_HOST, 2},
      {CURLE_RECV_ERROR, 2},          {CURLE_PARTIAL_FILE, 2},     {CURLE_GOT_NOTHING, 2},
      {CURLE_OUT_OF_MEMORY, 3},       {CURLE_URL_MALFORMAT, 4},    {CURLE_UNSUPPORTED_PROTOCOL, 4},
      {CURLE_PEER_FAILED_VERIFICATION, 5}, {CURLE_SSL_CONNECT_ERROR, 5}, {CURLE_OK, 5},
  };
  for (const auto& [code, kind] : cases) {
    EXPECT_EQ(CCurlNetworkException(4, "m", code).GetErrorKind(), kind) << code;
    // The base class knows no transport and always answers 5.
    EXPECT_EQ(CNetworkException(4, "m", code).GetErrorKind(), 5);
  }
}

}  // namespace
}  // namespace Cxx::Network::Exception
