#include "tools/devserver/collector_route.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

namespace DevServer {

namespace {

constexpr std::uint64_t kMaxHangMs = 3'600'000;

enum class Mode { Ok, Fail, Hang, Drop };

std::optional<Mode> ParseMode(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  if (text == "ok") return Mode::Ok;
  if (text == "fail") return Mode::Fail;
  if (text == "hang") return Mode::Hang;
  if (text == "drop") return Mode::Drop;
  return std::nullopt;
}

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::Ok: return "ok";
    case Mode::Fail: return "fail";
    case Mode::Hang: return "hang";
    case Mode::Drop: return "drop";
  }
  return "ok";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Form decoding: "+" is a blank, "%XY" a byte; a "%" without two hex digits stays as it is.
std::string FormDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

boost::json::array DecodeHit(std::string_view body) {
  boost::json::array hit;
  if (body.empty()) return hit;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view pair = body.substr(start, end - start);
    const size_t equals = pair.find('=');
    boost::json::array entry;
    entry.emplace_back(FormDecode(pair.substr(0, equals)));
    entry.emplace_back(equals == std::string_view::npos ? "" : FormDecode(pair.substr(equals + 1)));
    hit.emplace_back(std::move(entry));
    start = end + 1;
  }
  return hit;
}

class CollectorRoute final : public IRoute {
 public:
  CollectorRoute(ObjectReader& reader, const RouteContext& context) {
    if (auto log = reader.String("hits_log")) {
      const auto path = context.baseDir / *log;
      m_log = std::fopen(path.c_str(), "we");
      if (m_log == nullptr) {
        reader.Fail("hits_log", std::string("cannot be written: ") + std::strerror(errno));
      }
    }
    if (auto mode = reader.String("mode")) {
      const auto parsed = ParseMode(*mode);
      if (!parsed) reader.Fail("mode", "must be \"ok\", \"fail\", \"hang\" or \"drop\"");
      m_mode = *parsed;
    }
    if (auto file = reader.String("mode_file")) m_modeFile = context.baseDir / *file;
    if (auto status = reader.Unsigned("fail_status")) {
      if (*status < 100 || *status > 999) reader.Fail("fail_status", "must be from 100 to 999");
      m_failStatus = static_cast<unsigned>(*status);
    }
    if (auto hang = reader.Unsigned("hang_ms")) {
      if (*hang > kMaxHangMs) reader.Fail("hang_ms", "is too large");
      m_hangMs = static_cast<unsigned>(*hang);
    }
  }

  ~CollectorRoute() override {
    if (m_log != nullptr) std::fclose(m_log);
  }

  Reply Answer(const Request& request) override {
    const Mode mode = CurrentMode();
    if (m_log != nullptr) {
      boost::json::object record;
      record["time_us"] = request.receivedUs;
      record["answer"] = ModeName(mode);
      record["user_agent"] = request.Header("user-agent");
      record["hit"] = DecodeHit(request.body);
      std::string line = boost::json::serialize(record);
      line += '\n';
      const std::lock_guard lock(m_mutex);
      std::fwrite(line.data(), 1, line.size(), m_log);
      std::fflush(m_log);
    }
    Reply reply;
    switch (mode) {
      case Mode::Ok:
        break;
      case Mode::Fail:
        reply.status = m_failStatus;
        break;
      case Mode::Hang:
        reply.delayHeadersMs = m_hangMs;
        break;
      case Mode::Drop:
        reply.dropConnection = true;
        break;
    }
    return reply;
  }

 private:
  Mode CurrentMode() const {
    if (m_modeFile.empty()) return m_mode;
    std::ifstream in(m_modeFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return ParseMode(text.str()).value_or(m_mode);
  }

  std::FILE* m_log = nullptr;
  std::mutex m_mutex;
  Mode m_mode = Mode::Ok;
  std::filesystem::path m_modeFile;
  unsigned m_failStatus = 500;
  unsigned m_hangMs = kMaxHangMs;
};

}  // namespace

std::unique_ptr<IRoute> MakeCollectorRoute(ObjectReader& reader, const RouteContext& context) {
  return std::make_unique<CollectorRoute>(reader, context);
}

}  // namespace DevServer
