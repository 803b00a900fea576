#include "tools/devserver/component_route.h"

#include <atomic>
#include <boost/json/serialize.hpp>
#include <string>
#include <vector>

namespace DevServer {

namespace {

struct CannedAnswer {
  unsigned status = 200;
  std::string body;
  bool json = false;
};

CannedAnswer ReadAnswer(const boost::json::value& value, const std::string& where) {
  ObjectReader reader(value, where);
  CannedAnswer answer;
  if (auto status = reader.Unsigned("status")) {
    if (*status < 100 || *status > 999) reader.Fail("status", "must be from 100 to 999");
    answer.status = static_cast<unsigned>(*status);
  }
  int bodies = 0;
  if (const auto* components = reader.Take("components")) {
    answer.body = boost::json::serialize(*components);
    answer.json = true;
    ++bodies;
  }
  if (auto text = reader.String("body")) {
    answer.body = std::move(*text);
    ++bodies;
  }
  if (auto size = reader.Unsigned("garbage")) {
    if (*size > (1u << 20)) reader.Fail("garbage", "is too large");
    // Starts with a byte no JSON text can start with; the rest is every byte value in turn.
    for (std::uint64_t i = 0; i < *size; ++i) answer.body.push_back(static_cast<char>(i == 0 ? 0xFF : i * 37 + 11));
    ++bodies;
  }
  if (auto empty = reader.Bool("empty"); empty && *empty) ++bodies;
  if (bodies > 1) {
    throw ScenarioError(where + ": give only one of \"components\", \"body\", \"garbage\", \"empty\"");
  }
  reader.Finish();
  return answer;
}

class ComponentRoute final : public IRoute {
 public:
  explicit ComponentRoute(std::vector<CannedAnswer> answers) : m_answers(std::move(answers)) {}

  Reply Answer(const Request& request) override {
    const std::size_t n = m_next.fetch_add(1);
    const auto& answer = m_answers[std::min(n, m_answers.size() - 1)];
    Reply reply;
    reply.status = answer.status;
    if (!answer.body.empty()) {
      std::string body = answer.body;
      const std::string base = (request.tls ? "https://" : "http://") + request.Header("host");
      for (size_t at = body.find("{base}"); at != std::string::npos; at = body.find("{base}", at + base.size())) {
        body.replace(at, 6, base);
      }
      reply.body = std::make_shared<TextBody>(std::move(body));
      reply.headers.emplace_back("Content-Type", answer.json ? "application/json; charset=utf-8"
                                                             : "application/octet-stream");
    }
    return reply;
  }

 private:
  std::vector<CannedAnswer> m_answers;
  std::atomic<std::size_t> m_next{0};
};

}  // namespace

std::unique_ptr<IRoute> MakeComponentRoute(ObjectReader& reader, const RouteContext&) {
  std::vector<CannedAnswer> answers;
  const bool one = reader.Has("answer");
  if (one == reader.Has("answers")) {
    throw ScenarioError(reader.Where() + ": give one of \"answer\" and \"answers\"");
  }
  if (one) {
    answers.push_back(ReadAnswer(*reader.Take("answer"), reader.Where() + " answer"));
  } else {
    const auto* list = reader.Array("answers");
    if (list->empty()) reader.Fail("answers", "must be a non-empty list");
    for (std::size_t i = 0; i < list->size(); ++i) {
      answers.push_back(ReadAnswer((*list)[i], reader.Where() + " answer " + std::to_string(i + 1)));
    }
  }
  return std::make_unique<ComponentRoute>(std::move(answers));
}

}  // namespace DevServer
