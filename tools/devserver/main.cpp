// omk-devserver: a local HTTP/HTTPS server for development and tests. It answers from the
// routes of a scenario file and can inject faults (cut connections, slow bodies, delays).
#include <charconv>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "tools/devserver/json_reader.h"
#include "tools/devserver/request_log.h"
#include "tools/devserver/scenario.h"
#include "tools/devserver/server.h"

namespace {

constexpr std::string_view kUsage =
    "usage: omk-devserver [--scenario FILE] [--http-port N] [--https-port N --cert FILE --key FILE]\n"
    "                     [--log FILE] [--threads N] [--stop-on-stdin-eof]\n"
    "Listens on 127.0.0.1 only; port 0 picks a free port. Prints \"http 127.0.0.1:PORT\",\n"
    "\"https 127.0.0.1:PORT\" and \"ready\" once listening; stops on SIGTERM or SIGINT.\n";

struct Options {
  std::optional<std::string> scenario;
  std::optional<unsigned short> httpPort;
  std::optional<unsigned short> httpsPort;
  std::optional<std::string> cert;
  std::optional<std::string> key;
  std::optional<std::string> log;
  unsigned threads = 2;
  bool stopOnStdinEnd = false;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

unsigned long Number(std::string_view option, std::string_view text, unsigned long max) {
  unsigned long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) {
    throw UsageError(std::string(option) + " needs a number from 0 to " + std::to_string(max));
  }
  return value;
}

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--stop-on-stdin-eof") {
      options.stopOnStdinEnd = true;
      continue;
    }
    if (arg == "--help") throw UsageError("");
    if (i + 1 >= argc) throw UsageError("unknown option or missing value: " + std::string(arg));
    const std::string value = argv[++i];
    if (arg == "--scenario") {
      options.scenario = value;
    } else if (arg == "--http-port") {
      options.httpPort = static_cast<unsigned short>(Number(arg, value, 65535));
    } else if (arg == "--https-port") {
      options.httpsPort = static_cast<unsigned short>(Number(arg, value, 65535));
    } else if (arg == "--cert") {
      options.cert = value;
    } else if (arg == "--key") {
      options.key = value;
    } else if (arg == "--log") {
      options.log = value;
    } else if (arg == "--threads") {
      options.threads = static_cast<unsigned>(Number(arg, value, 64));
      if (options.threads == 0) throw UsageError("--threads needs at least 1");
    } else {
      throw UsageError("unknown option: " + std::string(arg));
    }
  }
  if (!options.httpPort && !options.httpsPort) {
    throw UsageError("give --http-port, --https-port or both");
  }
  if (options.httpsPort && (!options.cert || !options.key)) {
    throw UsageError("--https-port needs --cert and --key");
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = Parse(argc, argv);
  } catch (const UsageError& e) {
    if (*e.what() != '\0') std::cerr << "omk-devserver: " << e.what() << '\n';
    std::cerr << kUsage;
    return 2;
  }
  try {
    DevServer::Router router;
    if (options.scenario) router = DevServer::Router::FromFile(*options.scenario);
    std::unique_ptr<DevServer::RequestLog> log;
    if (options.log) log = std::make_unique<DevServer::RequestLog>(*options.log);
    DevServer::Server server(router, log.get());
    if (options.httpPort) {
      std::cout << "http 127.0.0.1:" << server.ListenHttp(*options.httpPort) << '\n';
    }
    if (options.httpsPort) {
      std::cout << "https 127.0.0.1:"
                << server.ListenHttps(*options.httpsPort, *options.cert, *options.key) << '\n';
    }
    std::cout << "ready" << std::endl;
    server.Run(options.threads, options.stopOnStdinEnd);
    return 0;
  } catch (const DevServer::ScenarioError& e) {
    std::cerr << "omk-devserver: scenario: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "omk-devserver: " << e.what() << '\n';
    return 1;
  }
}
