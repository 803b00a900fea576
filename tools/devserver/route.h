#pragma once
// A route turns a request into a reply; the server writes the reply with the faults it names.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/devserver/body_source.h"
#include "tools/devserver/request.h"

namespace DevServer {

struct Trickle {
  std::size_t bytes = 1;  // piece size
  unsigned delayMs = 0;   // pause after each piece but the last
};

struct Reply {
  unsigned status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::shared_ptr<const IBodySource> body;  // none: empty body
  // false: no Content-Length; the body ends when the server closes the connection.
  bool contentLength = true;
  bool range = false;  // answer "Range: bytes=N-" / "bytes=N-M" with 206
  // Close the connection abruptly (no TLS close_notify) after this many body bytes.
  std::optional<std::uint64_t> cutAfter;
  std::optional<Trickle> trickle;
  unsigned delayHeadersMs = 0;
  // Before the status line, wait until this file exists (a test releases the reply).
  std::filesystem::path holdFile;
  // Close the connection at once (no TLS close_notify) without writing any answer.
  bool dropConnection = false;
  // Write nothing at all and keep the connection open until the client closes it.
  bool neverAnswer = false;
  // Write the whole answer, status line and headers too, one byte at a time this many ms apart.
  unsigned dripMs = 0;
};

// Routes are shared by all connections: Answer may run on several threads at once.
class IRoute {
 public:
  virtual ~IRoute() = default;
  virtual Reply Answer(const Request& request) = 0;
};

}  // namespace DevServer
