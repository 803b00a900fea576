#pragma once
// Route kind "component": the component service. It answers the n-th request with the n-th of
// its "answers" (the last one repeats), or always with its one "answer":
//
//   {"method": "POST", "path": "/component", "kind": "component", "answers": [
//     {"status": 503},
//     {"components": [{"id": "OMK_SM", "version": "3.10.1.2",
//                      "url": "{base}/file.bin", "md5": "0123..."}]},
//     {"garbage": 100}, {"empty": true}, {"body": "[{\"id\": 1}]"}]}
//
// An answer gives "status" (default 200) and at most one body: "components" (any JSON value,
// written as compact JSON), "body" (text as it is), "garbage" (N bytes that are not JSON) or
// "empty": true (no body, the default). "{base}" in the body becomes "http://" or "https://"
// and the request's Host. The requests themselves, with their bodies, are in the request log.
#include <memory>

#include "tools/devserver/json_reader.h"
#include "tools/devserver/route.h"
#include "tools/devserver/route_kinds.h"

namespace DevServer {

std::unique_ptr<IRoute> MakeComponentRoute(ObjectReader& reader, const RouteContext& context);

}  // namespace DevServer
