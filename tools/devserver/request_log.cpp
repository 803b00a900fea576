#include "tools/devserver/request_log.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <boost/json/serialize.hpp>

namespace DevServer {

RequestLog::RequestLog(const std::filesystem::path& file) {
  m_file = std::fopen(file.c_str(), "we");
  if (m_file == nullptr) {
    throw std::runtime_error("cannot write the log " + file.string() + ": " +
                             std::strerror(errno));
  }
}

RequestLog::~RequestLog() { std::fclose(m_file); }

void RequestLog::Write(const Request& request, const std::string* routeName) {
  boost::json::object record;
  record["number"] = request.number;
  record["connection"] = request.connection;
  record["tls"] = request.tls;
  record["time_us"] = request.receivedUs;
  if (routeName != nullptr) {
    record["route"] = *routeName;
  } else {
    record["route"] = nullptr;
  }
  for (auto& member : DescribeRequest(request)) record[member.key()] = std::move(member.value());
  std::string line = boost::json::serialize(record);
  line += '\n';
  const std::lock_guard lock(m_mutex);
  std::fwrite(line.data(), 1, line.size(), m_file);
  std::fflush(m_file);
}

}  // namespace DevServer
