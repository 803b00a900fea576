#include "tools/devserver/route_kinds.h"

#include <map>

#include "tools/devserver/collector_route.h"
#include "tools/devserver/component_route.h"
#include "tools/devserver/response_route.h"
#include "tools/devserver/sequence_route.h"

namespace DevServer {

const RouteFactory* FindRouteKind(std::string_view kind) {
  static const std::map<std::string, RouteFactory, std::less<>> kinds = {
      {"collector", MakeCollectorRoute},
      {"component", MakeComponentRoute},
      {"response", MakeResponseRoute},
      {"sequence", MakeSequenceRoute},
  };
  const auto it = kinds.find(kind);
  return it == kinds.end() ? nullptr : &it->second;
}

std::string DefaultRouteKind(const ObjectReader& route) {
  return route.Has("sequence") ? "sequence" : "response";
}

}  // namespace DevServer
