#pragma once
// The wire format of the component service: the request as JSON text, the reply as component
// records.
#include <cstdint>
#include <string>
#include <vector>

namespace ComponentGet {

struct ApplicationInfo {
  std::wstring code;
  int32_t buildId = 0;
  std::wstring uid;
  std::wstring puid;
  std::wstring version;
  std::wstring language;
};

struct OsInfo {
  std::wstring arch;
  std::wstring version;
  int32_t build = 0;
};

struct ComponentQuery {
  std::wstring id;
  std::wstring arch;
  std::wstring version;
};

// One answered component. `flags` is not touched by the protocol; its meaning lies with the
// caller.
struct ComponentInfo {
  std::wstring id;
  std::wstring version;
  std::wstring url;
  std::wstring md5;
  int32_t flags = 0;
};

struct ComponentsRequest {
  int32_t protocolVersion = 1;
  ApplicationInfo application;
  OsInfo os;
  std::vector<ComponentQuery> components;
};

namespace Protocol {

class IProtocol {
 public:
  virtual ~IProtocol() = default;
  // Compact JSON of the request. False, and `json` unchanged, when the application code is
  // empty or a component lacks its id or arch.
  virtual bool BuildRequest(ComponentsRequest request, std::wstring& json) = 0;
  // Appends one record per element of the reply's top-level array, as each is read. False
  // when the text is not such an array of objects with non-empty string members "id",
  // "version", "url" and "md5"; records of the elements before the bad one stay appended.
  // One zero character at the end of the text is accepted. Never throws.
  virtual bool ParseResponse(const std::wstring& response, std::vector<ComponentInfo>& components) = 0;
};

class CProtocol : public IProtocol {
 public:
  bool BuildRequest(ComponentsRequest request, std::wstring& json) override;
  bool ParseResponse(const std::wstring& response, std::vector<ComponentInfo>& components) override;
};

}  // namespace Protocol
}  // namespace ComponentGet
