#pragma once
// The HTTP and HTTPS listeners on 127.0.0.1 and the connections they accept. Every connection
// runs as one coroutine on a pool of threads and keeps HTTP/1.1 connections alive.
#include <filesystem>
#include <memory>

#include "tools/devserver/request_log.h"
#include "tools/devserver/scenario.h"

namespace DevServer {

class Server {
 public:
  // `log` may be null. Both must outlive the server.
  Server(Router& router, RequestLog* log);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Bind 127.0.0.1:port (0: any free port) and return the bound port; throw on failure.
  unsigned short ListenHttp(unsigned short port);
  unsigned short ListenHttps(unsigned short port, const std::filesystem::path& certFile,
                             const std::filesystem::path& keyFile);

  // Serves until SIGINT or SIGTERM arrives, Stop is called or, with `stopOnStdinEnd`, standard
  // input reaches its end (the parent process went away).
  void Run(unsigned threads, bool stopOnStdinEnd);
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace DevServer
