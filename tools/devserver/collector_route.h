#pragma once
// Route kind "collector": the analytics collector. Each hit (a form body of name=value pairs)
// is decoded and appended to a JSON-lines file, one line per hit:
//   {"time_us": ..., "answer": "ok", "user_agent": "...", "hit": [["v", "1"], ["tid", ...], ...]}
// "time_us" is the receive time (microseconds since the Unix epoch); "hit" keeps the order and
// repeated names; "answer" is what the collector did ("ok", "fail", "hang" or "drop").
//
// Options:
//   "hits_log"    the JSON-lines file (relative names from the scenario's folder), truncated at
//                 start
//   "mode"        "ok" (200), "fail" (answer "fail_status"), "hang" (answer nothing for
//                 "hang_ms", then 200) or "drop" (close the connection without an answer);
//                 default "ok"
//   "mode_file"   a file whose text, when it names a mode, replaces "mode" for each request,
//                 so a test or the demo can switch the collector while it runs
//   "fail_status" default 500
//   "hang_ms"     default 3600000
#include <memory>

#include "tools/devserver/json_reader.h"
#include "tools/devserver/route.h"
#include "tools/devserver/route_kinds.h"

namespace DevServer {

std::unique_ptr<IRoute> MakeCollectorRoute(ObjectReader& reader, const RouteContext& context);

}  // namespace DevServer
