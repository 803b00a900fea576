#include "network/exceptions.h"

#include <curl/curl.h>

namespace Cxx::Network::Exception {

int32_t CCurlNetworkException::GetErrorKind() const {
  switch (static_cast<CURLcode>(GetSystemError())) {
    case CURLE_OPERATION_TIMEDOUT:
      return 0;
    case CURLE_COULDNT_CONNECT:
      return 1;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return 2;
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_UNKNOWN_OPTION:
    case CURLE_NOT_BUILT_IN:
      return 3;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return 4;
    default:
      return 5;
  }
}

}  // namespace Cxx::Network::Exception
