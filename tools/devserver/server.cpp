#include "tools/devserver/server.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <list>
#include <string_view>
#include <vector>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/thread/thread.hpp>

namespace DevServer {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::awaitable;
using asio::use_awaitable;
using tcp = asio::ip::tcp;

namespace {

constexpr std::uint64_t kMaxRequestBody = 256ull * 1024 * 1024;
constexpr auto kHandshakeTimeout = std::chrono::seconds(10);
constexpr auto kShutdownTimeout = std::chrono::seconds(2);
constexpr unsigned kMaxHoldMs = 3'600'000;  // the longest a held reply waits for its file

struct Shared {
  Router& router;
  RequestLog* log;
  std::atomic<std::uint64_t> connections{0};
  std::atomic<std::uint64_t> requests{0};
};

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A "Range" header: one range "bytes=N-", "bytes=N-M" or "bytes=-S". Anything else is
// ignored and the whole body served, as HTTP allows.
struct RangeRequest {
  enum Kind { Ignore, Unsatisfiable, Slice } kind = Ignore;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
};

bool ParseNumber(std::string_view text, std::uint64_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

RangeRequest ParseRange(std::string header, std::uint64_t size) {
  boost::algorithm::trim(header);
  if (!boost::algorithm::istarts_with(header, "bytes=")) return {};
  const std::string_view byteRange = std::string_view(header).substr(6);
  const auto dash = byteRange.find('-');
  if (dash == std::string_view::npos || byteRange.find(',') != std::string_view::npos) return {};
  const std::string_view from = byteRange.substr(0, dash);
  const std::string_view to = byteRange.substr(dash + 1);
  std::uint64_t a = 0, b = 0;
  if (from.empty()) {  // the last b bytes
    if (!ParseNumber(to, b)) return {};
    if (b == 0 || size == 0) return {RangeRequest::Unsatisfiable};
    return {RangeRequest::Slice, size > b ? size - b : 0, size - 1};
  }
  if (!ParseNumber(from, a)) return {};
  if (!to.empty() && (!ParseNumber(to, b) || b < a)) return {};
  if (a >= size) return {RangeRequest::Unsatisfiable};
  return {RangeRequest::Slice, a, to.empty() ? size - 1 : std::min(b, size - 1)};
}

std::string ReasonPhrase(unsigned status) {
  const auto known = http::int_to_status(status);
  if (known == http::status::unknown) return "Status " + std::to_string(status);
  return std::string(http::obsolete_reason(known));
}

template <class Stream>
awaitable<void> Pause(Stream& stream, unsigned ms) {
  asio::steady_timer timer(stream.get_executor());
  timer.expires_after(std::chrono::milliseconds(ms));
  co_await timer.async_wait(use_awaitable);
}

template <class Stream>
void CloseAbruptly(Stream& stream) {
  auto& socket = beast::get_lowest_layer(stream).socket();
  beast::error_code ec;
  socket.shutdown(tcp::socket::shutdown_both, ec);
  socket.close(ec);
}

enum class After { KeepOpen, Close, Closed };

// Writes the bytes, one at a time `dripMs` apart when that is not 0.
template <class Stream>
awaitable<void> WriteBytes(Stream& stream, const char* data, std::size_t size, unsigned dripMs) {
  if (dripMs == 0) {
    co_await asio::async_write(stream, asio::buffer(data, size), use_awaitable);
    co_return;
  }
  for (std::size_t i = 0; i < size; ++i) {
    co_await asio::async_write(stream, asio::buffer(data + i, 1), use_awaitable);
    co_await Pause(stream, dripMs);
  }
}

// Reads and drops whatever the client sends until it closes the connection.
template <class Stream>
awaitable<void> WaitForClose(Stream& stream) {
  std::array<char, 4096> sink{};
  beast::error_code ec;
  while (!ec) co_await stream.async_read_some(asio::buffer(sink), asio::redirect_error(use_awaitable, ec));
}

template <class Stream>
awaitable<After> WriteReply(Stream& stream, const Request& request, const Reply& reply,
                            bool clientKeepAlive) {
  if (reply.dropConnection) {
    CloseAbruptly(stream);
    co_return After::Closed;
  }
  if (reply.neverAnswer) {
    co_await WaitForClose(stream);
    co_return After::Closed;
  }
  const std::uint64_t size = reply.body ? reply.body->Size() : 0;
  std::uint64_t first = 0;
  std::uint64_t count = size;
  unsigned status = reply.status;
  std::vector<std::pair<std::string, std::string>> fields{{"Server", "omk-devserver"}};
  if (reply.range && reply.body && request.HasHeader("range")) {
    const RangeRequest range = ParseRange(request.Header("range"), size);
    if (range.kind == RangeRequest::Unsatisfiable) {
      status = 416;
      count = 0;
      fields.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    } else if (range.kind == RangeRequest::Slice) {
      status = 206;
      first = range.first;
      count = range.last - range.first + 1;
      fields.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                               std::to_string(range.last) + "/" +
                                               std::to_string(size));
    }
  }
  if (reply.range) fields.emplace_back("Accept-Ranges", "bytes");
  for (const auto& header : reply.headers) {
    std::erase_if(fields, [&](const auto& f) { return boost::algorithm::iequals(f.first, header.first); });
    fields.push_back(header);
  }
  const bool headOnly = request.method == "HEAD";
  const bool cut = reply.cutAfter && *reply.cutAfter < count && !headOnly;
  // A cut response looks like a normal one until the connection drops.
  bool keepAlive = clientKeepAlive && reply.contentLength;
  if (reply.contentLength) fields.emplace_back("Content-Length", std::to_string(count));
  if (!keepAlive) fields.emplace_back("Connection", "close");

  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  for (const auto& [name, value] : fields) head += name + ": " + value + "\r\n";
  head += "\r\n";

  if (reply.delayHeadersMs > 0) co_await Pause(stream, reply.delayHeadersMs);
  // Held replies look every 10 ms, for at most the longest delay.
  for (unsigned waited = 0; !reply.holdFile.empty() && waited < kMaxHoldMs; waited += 10) {
    std::error_code ec;
    if (std::filesystem::exists(reply.holdFile, ec)) break;
    co_await Pause(stream, 10);
  }
  co_await WriteBytes(stream, head.data(), head.size(), reply.dripMs);

  if (!headOnly && count > 0) {
    const std::uint64_t limit = cut ? *reply.cutAfter : count;
    const std::size_t piece = reply.trickle ? std::min(reply.trickle->bytes, kBlockSize) : kBlockSize;
    std::vector<char> scratch;
    std::uint64_t sent = 0;
    while (sent < limit) {
      const auto block =
          reply.body->Read(first + sent, std::min<std::uint64_t>(piece, limit - sent), scratch);
      co_await WriteBytes(stream, block.data(), block.size(), reply.dripMs);
      sent += block.size();
      if (reply.trickle && reply.trickle->delayMs > 0 && sent < limit) {
        co_await Pause(stream, reply.trickle->delayMs);
      }
    }
  }
  if (cut) {
    CloseAbruptly(stream);
    co_return After::Closed;
  }
  co_return keepAlive ? After::KeepOpen : After::Close;
}

Request MakeRequest(http::request<http::string_body>&& message, bool tls,
                    std::uint64_t connection, std::uint64_t number, std::int64_t receivedUs) {
  Request request;
  request.method = std::string(message.method_string());
  request.target = std::string(message.target());
  const auto question = request.target.find('?');
  request.path = request.target.substr(0, question);
  if (question != std::string::npos) request.query = request.target.substr(question + 1);
  for (const auto& field : message) {
    std::string name(field.name_string());
    for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    request.headers.emplace_back(std::move(name), std::string(field.value()));
  }
  request.body = std::move(message.body());
  request.tls = tls;
  request.connection = connection;
  request.number = number;
  request.receivedUs = receivedUs;
  return request;
}

Reply AnswerSafely(RouteEntry* entry, const Request& request) {
  Reply reply;
  if (entry == nullptr) {
    reply.status = 404;
    reply.body = std::make_shared<TextBody>("no route for " + request.path + "\n");
    return reply;
  }
  try {
    return entry->route->Answer(request);
  } catch (const std::exception& e) {
    reply.status = 500;
    reply.body = std::make_shared<TextBody>(std::string(e.what()) + "\n");
    return reply;
  }
}

// Answers requests until the connection ends. True when it should be closed in an orderly way.
template <class Stream>
awaitable<bool> ServeRequests(Stream& stream, Shared& shared, std::uint64_t connection, bool tls) {
  beast::flat_buffer buffer;
  for (;;) {
    http::request_parser<http::string_body> parser;
    parser.body_limit(kMaxRequestBody);
    beast::error_code ec;
    co_await http::async_read_header(stream, buffer, parser, asio::redirect_error(use_awaitable, ec));
    if (ec) co_return false;
    const std::int64_t receivedUs = NowUs();
    if (boost::algorithm::iequals(parser.get()[http::field::expect], "100-continue")) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      co_await asio::async_write(stream, asio::buffer(kContinue), use_awaitable);
    }
    if (!parser.is_done()) {
      co_await http::async_read(stream, buffer, parser, asio::redirect_error(use_awaitable, ec));
      if (ec) co_return false;
    }
    const bool keepAlive = parser.get().keep_alive();
    const Request request = MakeRequest(parser.release(), tls, connection, ++shared.requests, receivedUs);
    RouteEntry* entry = shared.router.Find(request.method, request.path);
    const Reply reply = AnswerSafely(entry, request);
    if (shared.log != nullptr) shared.log->Write(request, entry ? &entry->name : nullptr);
    const After after = co_await WriteReply(stream, request, reply, keepAlive);
    if (after == After::Closed) co_return false;
    if (after == After::Close) co_return true;
  }
}

awaitable<void> ServePlain(tcp::socket socket, Shared& shared) {
  beast::tcp_stream stream(std::move(socket));
  const std::uint64_t id = ++shared.connections;
  try {
    co_await ServeRequests(stream, shared, id, false);
  } catch (const std::exception&) {
    // The client went away; nothing to tell anybody.
  }
  beast::error_code ec;
  stream.socket().shutdown(tcp::socket::shutdown_send, ec);
  stream.socket().close(ec);
}

awaitable<void> ServeTls(tcp::socket socket, asio::ssl::context& context, Shared& shared) {
  beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), context);
  const std::uint64_t id = ++shared.connections;
  try {
    beast::get_lowest_layer(stream).expires_after(kHandshakeTimeout);
    co_await stream.async_handshake(asio::ssl::stream_base::server, use_awaitable);
    beast::get_lowest_layer(stream).expires_never();
    if (co_await ServeRequests(stream, shared, id, true)) {
      // close_notify marks the end of a body without Content-Length as complete.
      beast::get_lowest_layer(stream).expires_after(kShutdownTimeout);
      beast::error_code ec;
      co_await stream.async_shutdown(asio::redirect_error(use_awaitable, ec));
    }
  } catch (const std::exception&) {
  }
  beast::error_code ec;
  beast::get_lowest_layer(stream).socket().close(ec);
}

}  // namespace

struct Server::Impl {
  Impl(Router& router, RequestLog* log) : shared{router, log} {}

  Shared shared;
  // The TLS contexts outlive the io_context, whose destruction ends the open connections.
  std::list<asio::ssl::context> contexts;
  asio::io_context io;
  // Set up before "ready" is printed, so that a SIGTERM right after it is not fatal.
  asio::signal_set signals{io, SIGINT, SIGTERM};
  std::list<tcp::acceptor> acceptors;

  tcp::acceptor Bind(unsigned short port) {
    const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
    tcp::acceptor acceptor(io);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
    return acceptor;
  }

  awaitable<void> Accept(tcp::acceptor& acceptor, asio::ssl::context* tls) {
    for (;;) {
      beast::error_code ec;
      tcp::socket socket = co_await acceptor.async_accept(asio::redirect_error(use_awaitable, ec));
      if (ec == asio::error::operation_aborted) co_return;
      if (ec) continue;  // e.g. out of descriptors for a moment
      socket.set_option(tcp::no_delay(true), ec);
      if (tls != nullptr) {
        asio::co_spawn(asio::make_strand(io), ServeTls(std::move(socket), *tls, shared), asio::detached);
      } else {
        asio::co_spawn(asio::make_strand(io), ServePlain(std::move(socket), shared), asio::detached);
      }
    }
  }
};

Server::Server(Router& router, RequestLog* log) : m_impl(std::make_unique<Impl>(router, log)) {}

Server::~Server() = default;

unsigned short Server::ListenHttp(unsigned short port) {
  auto& acceptor = m_impl->acceptors.emplace_back(m_impl->Bind(port));
  asio::co_spawn(m_impl->io, m_impl->Accept(acceptor, nullptr), asio::detached);
  return acceptor.local_endpoint().port();
}

unsigned short Server::ListenHttps(unsigned short port, const std::filesystem::path& certFile,
                                   const std::filesystem::path& keyFile) {
  asio::ssl::context context(asio::ssl::context::tls_server);
  context.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                      asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                      asio::ssl::context::no_tlsv1_1);
  context.use_certificate_chain_file(certFile.string());
  context.use_private_key_file(keyFile.string(), asio::ssl::context::pem);
  auto& acceptor = m_impl->acceptors.emplace_back(m_impl->Bind(port));
  auto& tls = m_impl->contexts.emplace_back(std::move(context));
  asio::co_spawn(m_impl->io, m_impl->Accept(acceptor, &tls), asio::detached);
  return acceptor.local_endpoint().port();
}

void Server::Run(unsigned threads, bool stopOnStdinEnd) {
  m_impl->signals.async_wait([this](const beast::error_code& ec, int) {
    if (!ec) Stop();
  });
  std::optional<asio::posix::stream_descriptor> input;
  std::array<char, 256> scratch{};
  std::function<void()> watch;
  if (stopOnStdinEnd) {
    input.emplace(m_impl->io, ::dup(STDIN_FILENO));
    watch = [&] {
      input->async_read_some(asio::buffer(scratch), [&](const beast::error_code& ec, std::size_t) {
        if (ec) {
          if (ec != asio::error::operation_aborted) Stop();
        } else {
          watch();
        }
      });
    };
    watch();
  }
  boost::thread_group pool;
  for (unsigned i = 1; i < threads; ++i) {
    pool.create_thread([this] { m_impl->io.run(); });
  }
  m_impl->io.run();
  pool.join_all();
}

void Server::Stop() { m_impl->io.stop(); }

}  // namespace DevServer
