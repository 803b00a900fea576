#include "tools/devserver/scenario.h"

#include <fstream>
#include <sstream>

#include <boost/json/parse.hpp>

#include "tools/devserver/json_reader.h"
#include "tools/devserver/route_kinds.h"

namespace DevServer {

Router::Router(const boost::json::value& scenario, const std::filesystem::path& baseDir) {
  const boost::json::array* routes = scenario.if_array();
  std::optional<ObjectReader> top;
  if (routes == nullptr) {
    top.emplace(scenario, "scenario");
    routes = top->Array("routes");
    if (routes == nullptr) throw ScenarioError("scenario: \"routes\" is missing");
    top->Finish();
  }
  const RouteContext context{baseDir};
  for (std::size_t i = 0; i < routes->size(); ++i) {
    ObjectReader reader((*routes)[i], "route " + std::to_string(i + 1));
    RouteEntry entry;
    entry.method = reader.String("method");
    auto path = reader.String("path");
    if (!path || !path->starts_with('/')) reader.Fail("path", "must be given and start with /");
    entry.path = *path;
    entry.name = reader.String("name").value_or(entry.method ? *entry.method + " " + *path : *path);
    const std::string kind = reader.String("kind").value_or(DefaultRouteKind(reader));
    const RouteFactory* factory = FindRouteKind(kind);
    if (factory == nullptr) reader.Fail("kind", "names no known route kind: " + kind);
    entry.route = (*factory)(reader, context);
    reader.Finish();
    m_routes.push_back(std::move(entry));
  }
}

Router Router::FromFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ScenarioError("cannot read the scenario file " + file.string());
  std::stringstream text;
  text << in.rdbuf();
  boost::system::error_code ec;
  const boost::json::value scenario = boost::json::parse(text.str(), ec);
  if (ec) throw ScenarioError(file.string() + ": not valid JSON: " + ec.message());
  return Router(scenario, file.parent_path());
}

RouteEntry* Router::Find(std::string_view method, std::string_view path) {
  for (auto& entry : m_routes) {
    if (entry.path == path && (!entry.method || *entry.method == method)) return &entry;
  }
  return nullptr;
}

}  // namespace DevServer
