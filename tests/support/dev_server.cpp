#include "tests/support/dev_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace TestSupport {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(20);

std::string Base64Decode(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') {
      v = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      v = c - '0' + 52;
    } else if (c == '+') {
      v = 62;
    } else if (c == '/') {
      v = 63;
    } else {
      continue;  // padding
    }
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

std::string Text(const boost::json::object& o, std::string_view key) {
  const auto* v = o.if_contains(key);
  return v != nullptr && v->is_string() ? std::string(v->get_string()) : std::string();
}

}  // namespace

std::string RecordedRequest::Header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (boost::algorithm::iequals(n, name)) return v;
  }
  return {};
}

bool RecordedRequest::HasHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (boost::algorithm::iequals(header.first, name)) return true;
  }
  return false;
}

DevServer::DevServer(std::string_view scenarioJson, DevServerOptions options) {
  Start(std::string(scenarioJson), options);
}

DevServer::DevServer(const boost::json::object& scenario, DevServerOptions options) {
  Start(boost::json::serialize(scenario), options);
}

DevServer::~DevServer() { Stop(); }

void DevServer::Start(const std::string& scenarioJson, const DevServerOptions& options) {
  const auto scenarioFile = m_dir.Path() / "scenario.json";
  std::ofstream(scenarioFile, std::ios::binary) << scenarioJson;
  std::vector<std::string> args{OMK_DEVSERVER_PATH, "--scenario", scenarioFile.string(),
                                "--log", (m_dir.Path() / "requests.jsonl").string(),
                                "--stop-on-stdin-eof"};
  if (options.http) {
    args.insert(args.end(), {"--http-port", std::to_string(options.httpPort)});
  }
  if (options.https) {
    args.insert(args.end(), {"--https-port", std::to_string(options.httpsPort), "--cert",
                             options.cert.empty() ? OMK_TEST_SERVER_CERT : options.cert, "--key",
                             options.key.empty() ? OMK_TEST_SERVER_KEY : options.key});
  }

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  m_stdin = in[1];
  m_stdout = out[0];
  if (rc != 0) {
    m_pid = -1;
    throw std::runtime_error(std::string("cannot start omk-devserver: ") + std::strerror(rc));
  }

  // Read the listener lines up to "ready".
  std::string output;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (output.find("ready\n") == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{m_stdout, POLLIN, 0};
    char buffer[256];
    ssize_t n = -1;
    if (left.count() > 0 && poll(&fd, 1, static_cast<int>(left.count())) > 0) {
      n = read(m_stdout, buffer, sizeof buffer);
    }
    if (n <= 0) {
      const int code = Stop();
      throw std::runtime_error("omk-devserver did not start (exit code " + std::to_string(code) +
                               "); it printed: " + output);
    }
    output.append(buffer, static_cast<std::size_t>(n));
  }
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = output.substr(start, end - start);
    const auto colon = line.rfind(':');
    if (colon == std::string::npos) continue;
    const auto port = static_cast<unsigned short>(std::stoi(line.substr(colon + 1)));
    if (line.starts_with("http ")) m_httpPort = port;
    if (line.starts_with("https ")) m_httpsPort = port;
  }
}

std::string DevServer::HttpUrl(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(m_httpPort) + std::string(path);
}

std::string DevServer::HttpsUrl(std::string_view path) const {
  return "https://127.0.0.1:" + std::to_string(m_httpsPort) + std::string(path);
}

std::vector<RecordedRequest> DevServer::Requests() const {
  std::vector<RecordedRequest> requests;
  std::ifstream in(m_dir.Path() / "requests.jsonl", std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const boost::json::object o = boost::json::parse(line).as_object();
    RecordedRequest r;
    r.number = o.at("number").to_number<std::uint64_t>();
    r.connection = o.at("connection").to_number<std::uint64_t>();
    r.tls = o.at("tls").as_bool();
    r.timeUs = o.at("time_us").to_number<std::int64_t>();
    r.route = Text(o, "route");
    r.method = Text(o, "method");
    r.target = Text(o, "target");
    r.path = Text(o, "path");
    r.query = Text(o, "query");
    for (const auto& header : o.at("headers").as_object()) {
      r.headers.emplace_back(header.key(), header.value().as_string());
    }
    r.body = o.contains("body_base64") ? Base64Decode(Text(o, "body_base64")) : Text(o, "body");
    requests.push_back(std::move(r));
  }
  return requests;
}

int DevServer::Stop() {
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_pid = -1;
  }
  if (m_stdin >= 0) close(m_stdin);
  if (m_stdout >= 0) close(m_stdout);
  m_stdin = m_stdout = -1;
  return m_exitCode;
}

std::string GeneratedBody(std::uint64_t offset, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(((offset + i) % 251 * 31 + 7) % 251);
  }
  return bytes;
}

const char* TestCaFile() { return OMK_TEST_CA_PEM; }

}  // namespace TestSupport
