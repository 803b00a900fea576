#pragma once
// The kinds of route a scenario can name. Each kind is a small unit with a factory that reads
// its own options; a new kind is one more unit and one more line in route_kinds.cpp.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "tools/devserver/json_reader.h"
#include "tools/devserver/route.h"

namespace DevServer {

struct RouteContext {
  std::filesystem::path baseDir;  // relative file names in the scenario start here
};

// Reads the kind's options from the route object ("method", "path", "name" and "kind" are
// already taken); the caller rejects what is left over.
using RouteFactory = std::function<std::unique_ptr<IRoute>(ObjectReader&, const RouteContext&)>;

// The factory for `kind`; null when there is no such kind.
const RouteFactory* FindRouteKind(std::string_view kind);

// The kind of a route object without "kind": "sequence" when it has a "sequence", else
// "response".
std::string DefaultRouteKind(const ObjectReader& route);

}  // namespace DevServer
