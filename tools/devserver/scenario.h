#pragma once
// The routes of one server run, read from a scenario file:
//   {"routes": [ {"method": "GET", "path": "/big", "body_size": 1000}, ... ]}
// (a bare list of routes is accepted as well). A route matches by exact path (the query is not
// part of it) and, when it names one, by method.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/value.hpp>

#include "tools/devserver/route.h"

namespace DevServer {

struct RouteEntry {
  std::optional<std::string> method;
  std::string path;
  std::string name;  // "name" of the route, else "METHOD path" or the path; used in the log
  std::unique_ptr<IRoute> route;
};

class Router {
 public:
  Router() = default;
  // Throws ScenarioError with the route and option at fault.
  Router(const boost::json::value& scenario, const std::filesystem::path& baseDir);
  static Router FromFile(const std::filesystem::path& file);

  // The first route for this method and path; null when none matches.
  RouteEntry* Find(std::string_view method, std::string_view path);

 private:
  std::vector<RouteEntry> m_routes;
};

}  // namespace DevServer
