#include "tools/devserver/response_route.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/json/serialize.hpp>
#include <charconv>

namespace DevServer {

namespace {

constexpr std::uint64_t kMaxDelayMs = 3'600'000;

unsigned SmallUnsigned(ObjectReader& reader, std::string_view key, std::uint64_t value,
                       std::uint64_t max) {
  if (value > max) reader.Fail(key, "is too large");
  return static_cast<unsigned>(value);
}

std::uint64_t ParseCutMode(ObjectReader& reader, const std::string& mode) {
  if (mode == "once") return 1;
  if (mode == "always") return UINT64_MAX;
  if (mode.starts_with("times:")) {
    std::uint64_t times = 0;
    const char* first = mode.data() + 6;
    const char* last = mode.data() + mode.size();
    const auto [end, ec] = std::from_chars(first, last, times);
    if (ec == std::errc() && end == last && first != last) return times;
  }
  reader.Fail("cut_mode", "must be \"once\", \"always\" or \"times:K\"");
}

void SetDefaultHeader(Reply& reply, std::string name, std::string value) {
  for (const auto& header : reply.headers) {
    if (boost::algorithm::iequals(header.first, name)) return;
  }
  reply.headers.emplace_back(std::move(name), std::move(value));
}

class ResponseRoute final : public IRoute {
 public:
  ResponseRoute(ObjectReader& reader, const RouteContext& context) : m_spec(reader, context) {}
  Reply Answer(const Request& request) override { return m_spec.Make(request); }

 private:
  ResponseSpec m_spec;
};

}  // namespace

ResponseSpec::ResponseSpec(ObjectReader& reader, const RouteContext& context) {
  if (auto status = reader.Unsigned("status")) {
    if (*status < 100 || *status > 999) reader.Fail("status", "must be from 100 to 999");
    m_status = static_cast<unsigned>(*status);
  }
  if (const auto* headers = reader.Object("headers")) {
    for (const auto& member : *headers) {
      if (!member.value().is_string()) reader.Fail("headers", "must map names to strings");
      m_headers.emplace_back(member.key(), member.value().get_string());
    }
  }
  if (auto location = reader.String("location")) m_headers.emplace_back("Location", *location);

  int bodies = 0;
  if (auto text = reader.String("body")) {
    m_bodyKind = BodyKind::Text;
    m_fixedBody = std::make_shared<TextBody>(std::move(*text));
    ++bodies;
  }
  if (auto size = reader.Unsigned("body_size")) {
    m_bodyKind = BodyKind::Generated;
    m_fixedBody = std::make_shared<GeneratedBody>(*size);
    m_range = true;
    ++bodies;
  }
  if (auto file = reader.String("body_file")) {
    m_bodyKind = BodyKind::File;
    m_file = context.baseDir / *file;
    try {
      FileBody check(m_file);  // a missing file is a scenario error, not a surprise later
    } catch (const std::runtime_error& e) {
      reader.Fail("body_file", e.what());
    }
    m_range = true;
    ++bodies;
  }
  if (auto echo = reader.Bool("echo"); echo && *echo) {
    m_bodyKind = BodyKind::Echo;
    ++bodies;
  }
  if (bodies > 1) {
    throw ScenarioError(reader.Where() +
                        ": give only one of \"body\", \"body_size\", \"body_file\", \"echo\"");
  }

  if (auto contentLength = reader.Bool("content_length")) m_contentLength = *contentLength;
  if (auto range = reader.Bool("range")) m_range = *range;
  m_cutAfter = reader.Unsigned("cut_after");
  if (auto mode = reader.String("cut_mode")) {
    if (!m_cutAfter) reader.Fail("cut_mode", "needs \"cut_after\"");
    m_cutTimes = ParseCutMode(reader, *mode);
  }
  if (reader.Has("trickle")) {
    ObjectReader trickle(*reader.Take("trickle"), reader.Where() + " trickle");
    Trickle t;
    t.bytes = trickle.Unsigned("bytes").value_or(1);
    if (t.bytes == 0) trickle.Fail("bytes", "must be 1 or more");
    t.delayMs = SmallUnsigned(trickle, "delay_ms", trickle.Unsigned("delay_ms").value_or(0),
                              kMaxDelayMs);
    trickle.Finish();
    m_trickle = t;
  }
  if (auto delay = reader.Unsigned("delay_headers_ms")) {
    m_delayHeadersMs = SmallUnsigned(reader, "delay_headers_ms", *delay, kMaxDelayMs);
  }
  if (auto hold = reader.String("hold_file")) m_holdFile = context.baseDir / *hold;
}

Reply ResponseSpec::Make(const Request& request) {
  const std::uint64_t use = m_uses.fetch_add(1);
  Reply reply;
  reply.status = m_status;
  reply.headers = m_headers;
  reply.contentLength = m_contentLength;
  reply.range = m_range;
  if (m_cutAfter && use < m_cutTimes) reply.cutAfter = m_cutAfter;
  reply.trickle = m_trickle;
  reply.delayHeadersMs = m_delayHeadersMs;
  reply.holdFile = m_holdFile;
  switch (m_bodyKind) {
    case BodyKind::None:
      break;
    case BodyKind::Text:
      reply.body = m_fixedBody;
      SetDefaultHeader(reply, "Content-Type", "text/plain; charset=utf-8");
      break;
    case BodyKind::Generated:
      reply.body = m_fixedBody;
      SetDefaultHeader(reply, "Content-Type", "application/octet-stream");
      break;
    case BodyKind::File:
      try {
        reply.body = std::make_shared<FileBody>(m_file);
      } catch (const std::exception& e) {
        Reply failure;
        failure.status = 500;
        failure.body = std::make_shared<TextBody>(e.what());
        return failure;
      }
      SetDefaultHeader(reply, "Content-Type", "application/octet-stream");
      break;
    case BodyKind::Echo:
      reply.body = std::make_shared<TextBody>(boost::json::serialize(DescribeRequest(request)));
      SetDefaultHeader(reply, "Content-Type", "application/json");
      break;
  }
  return reply;
}

std::unique_ptr<IRoute> MakeResponseRoute(ObjectReader& reader, const RouteContext& context) {
  return std::make_unique<ResponseRoute>(reader, context);
}

}  // namespace DevServer
