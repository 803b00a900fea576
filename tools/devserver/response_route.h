#pragma once
// One configured response: status, headers, body and the faults to inject, and the route kind
// "response" that always answers with it.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/devserver/json_reader.h"
#include "tools/devserver/route.h"
#include "tools/devserver/route_kinds.h"

namespace DevServer {

class ResponseSpec {
 public:
  // Takes the response options from `reader`: status, headers, location, body | body_size |
  // body_file | echo, content_length, range, cut_after, cut_mode, trickle, delay_headers_ms, hold_file.
  // body_file | echo | endless, content_length, range, cut_after, cut_mode, trickle,
  // delay_headers_ms, drip_ms, never_answer.
  ResponseSpec(ObjectReader& reader, const RouteContext& context);
  ResponseSpec(const ResponseSpec&) = delete;
  ResponseSpec& operator=(const ResponseSpec&) = delete;

  // Counts the use for the cut mode; safe on several threads at once.
  Reply Make(const Request& request);

 private:
  enum class BodyKind { None, Text, Generated, File, Echo };

  unsigned m_status = 200;
  std::vector<std::pair<std::string, std::string>> m_headers;
  BodyKind m_bodyKind = BodyKind::None;
  std::shared_ptr<const IBodySource> m_fixedBody;  // text and generated bodies
  std::filesystem::path m_file;
  bool m_contentLength = true;
  bool m_range = false;
  std::optional<std::uint64_t> m_cutAfter;
  std::uint64_t m_cutTimes = UINT64_MAX;  // how many of the first uses are cut
  std::optional<Trickle> m_trickle;
  unsigned m_delayHeadersMs = 0;
  std::filesystem::path m_holdFile;
  unsigned m_dripMs = 0;
  bool m_neverAnswer = false;
  std::atomic<std::uint64_t> m_uses{0};
};

std::unique_ptr<IRoute> MakeResponseRoute(ObjectReader& reader, const RouteContext& context);

}  // namespace DevServer
