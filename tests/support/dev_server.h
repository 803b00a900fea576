#pragma once
// Starts omk-devserver as a child process for one test and stops it again.
//
//   TestSupport::DevServer server(R"({"routes": [{"path": "/file", "body_size": 1000}]})");
//   Fetch(server.HttpUrl("/file"));
//   EXPECT_EQ(server.Requests().at(0).Header("range"), "bytes=500-");
//
// The scenario format is the one omk-devserver reads (tools/devserver/scenario.h).
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/json/object.hpp>

#include "tests/support/temp_dir.h"

namespace TestSupport {

struct DevServerOptions {
  bool http = true;
  bool https = false;  // served with the build's test certificate (OMK_TEST_SERVER_CERT)
  // Fixed ports instead of free ones (0 = any free port), and another certificate and key.
  unsigned short httpPort = 0;
  unsigned short httpsPort = 0;
  std::string cert = {};
  std::string key = {};
};

// One line of the server's request log.
struct RecordedRequest {
  std::uint64_t number = 0;      // per server run, from 1
  std::uint64_t connection = 0;  // per server run, from 1; equal numbers share a connection
  bool tls = false;
  std::int64_t timeUs = 0;  // when the header arrived, microseconds since the Unix epoch
  std::string route;        // name of the route that answered; empty for a 404
  std::string method;
  std::string target;  // path and query as sent
  std::string path;
  std::string query;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;                                          // the bytes as received

  // Value of a header, name in any case; empty when absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

class DevServer {
 public:
  // Throw std::runtime_error when the server does not start (bad scenario, no free port).
  explicit DevServer(std::string_view scenarioJson, DevServerOptions options = {});
  explicit DevServer(const boost::json::object& scenario, DevServerOptions options = {});
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  std::string HttpUrl(std::string_view path) const;   // "http://127.0.0.1:PORT" + path
  std::string HttpsUrl(std::string_view path) const;  // "https://127.0.0.1:PORT" + path
  unsigned short Port() const { return m_httpPort; }  // 0 when there is no HTTP listener
  unsigned short HttpsPort() const { return m_httpsPort; }

  // Every request received so far, in the order they arrived.
  std::vector<RecordedRequest> Requests() const;

  // SIGTERM and wait; the server's exit code, or -1 when it ended otherwise. Runs once; the
  // destructor calls it.
  int Stop();

 private:
  void Start(const std::string& scenarioJson, const DevServerOptions& options);

  TempDir m_dir;
  pid_t m_pid = -1;
  int m_stdin = -1;   // closing it also stops the server should this process die first
  int m_stdout = -1;
  int m_exitCode = -1;
  unsigned short m_httpPort = 0;
  unsigned short m_httpsPort = 0;
};

// The bytes of a generated body ("body_size") from `offset`: byte i is (i * 31 + 7) mod 251.
std::string GeneratedBody(std::uint64_t offset, std::size_t size);

// Paths of the build's test certificates.
const char* TestCaFile();

}  // namespace TestSupport
