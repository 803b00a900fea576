#pragma once
// Route kind "sequence": a list of responses used in turn, one per request; the last one
// repeats. For cases such as "fail twice, then succeed".
#include <memory>

#include "tools/devserver/json_reader.h"
#include "tools/devserver/route.h"
#include "tools/devserver/route_kinds.h"

namespace DevServer {

std::unique_ptr<IRoute> MakeSequenceRoute(ObjectReader& reader, const RouteContext& context);

}  // namespace DevServer
