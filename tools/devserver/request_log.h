#pragma once
// The request log: one JSON object per line for each request received, written and flushed
// before the reply goes out, so a client that has its reply finds its request in the log.
// Members: those of DescribeRequest, plus "number", "connection", "tls", "time_us" (receive
// time, microseconds since the Unix epoch) and "route" (the route's name, null for a 404).
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "tools/devserver/request.h"

namespace DevServer {

class RequestLog {
 public:
  // Truncates the file. Throws std::runtime_error when it cannot be opened.
  explicit RequestLog(const std::filesystem::path& file);
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  void Write(const Request& request, const std::string* routeName);

 private:
  std::mutex m_mutex;
  std::FILE* m_file = nullptr;
};

}  // namespace DevServer
