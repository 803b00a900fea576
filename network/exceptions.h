#pragma once
// Failures of the HTTP layer. Request and transfer errors are thrown as
// std::shared_ptr<CNetworkException>; only the parameter errors are thrown by value.
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace Cxx::Network::Exception {

class CException : public std::exception {
 public:
  explicit CException(std::string message) : m_message(std::move(message)) {}
  const char* what() const noexcept override { return m_message.c_str(); }

 private:
  std::string m_message;
};

// Error codes given at the throw site.
enum ENetworkErrorCode : int32_t {
  kErrorParameter = 0,   // bad parameter or conversion
  kErrorConnect = 2,     // session could not be opened / server could not be connected
  kErrorRequest = 3,     // request could not be created, sent or received
  kErrorRead = 4,        // body could not be read
  kErrorProxy = 5,       // proxy configuration could not be read
  kErrorAuth = 6,        // authentication did not end in status 200
  kErrorStatus4xx = 7,   // HTTP status 400 to 499
  kErrorStatus5xx = 8,   // HTTP status 500 to 599
  kErrorStatusOther = 9, // any other status
};

class CNetworkException : public CException {
 public:
  CNetworkException(int32_t errorCode, std::string message, uint32_t systemError = 0)
      : CException(std::move(message)), m_errorCode(errorCode), m_systemError(systemError) {}

  // Kind of the saved system error: 0 time-out, 1 cannot connect, 2 connection lost or
  // name not resolved, 3 internal error of the stack, 4 invalid URL, 5 anything else.
  // This base class knows no system errors and always answers 5.
  virtual int32_t GetErrorKind() const { return 5; }
  int32_t GetErrorCode() const { return m_errorCode; }
  uint32_t GetSystemError() const { return m_systemError; }

 private:
  int32_t m_errorCode;
  uint32_t m_systemError;
};

// An error of the libcurl transport; the system error is the CURLcode. GetErrorKind:
//   0  CURLE_OPERATION_TIMEDOUT
//   1  CURLE_COULDNT_CONNECT (refused, unreachable)
//   2  CURLE_COULDNT_RESOLVE_HOST, CURLE_COULDNT_RESOLVE_PROXY, CURLE_SEND_ERROR,
//      CURLE_RECV_ERROR, CURLE_GOT_NOTHING, CURLE_PARTIAL_FILE, CURLE_HTTP2,
//      CURLE_HTTP2_STREAM (name not resolved, connection reset or lost)
//   3  CURLE_FAILED_INIT, CURLE_OUT_OF_MEMORY, CURLE_BAD_FUNCTION_ARGUMENT,
//      CURLE_UNKNOWN_OPTION, CURLE_NOT_BUILT_IN (internal error of the stack)
//   4  CURLE_URL_MALFORMAT, CURLE_UNSUPPORTED_PROTOCOL (invalid URL)
//   5  everything else, TLS and certificate failures among them
class CCurlNetworkException : public CNetworkException {
 public:
  using CNetworkException::CNetworkException;
  int32_t GetErrorKind() const override;
};

using NetworkExceptionPtr = std::shared_ptr<CNetworkException>;

// Throws a shared pointer to a new exception of type E.
template <typename E = CNetworkException>
[[noreturn]] void Throw(int32_t errorCode, std::string message, uint32_t systemError = 0) {
  throw NetworkExceptionPtr(std::make_shared<E>(errorCode, std::move(message), systemError));
}

}  // namespace Cxx::Network::Exception
