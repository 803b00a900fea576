// Fuzzes the component service reply: any bytes, as the storage receives them from the
// transport, through the storage and the reply parser. Neither may crash or throw, and every
// record they return must have its four texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "componentget/components_storage.h"

namespace {

class BytesTransport : public Cxx::Network::RequestResponse::IRequestResponse {
 public:
  explicit BytesTransport(std::string reply) : m_reply(std::move(reply)) {}
  int32_t Send(const std::string&, std::string& reply) override {
    reply = m_reply;
    return 0;
  }

 private:
  std::string m_reply;
};

bool Complete(const ComponentGet::ComponentInfo& info) {
  return !info.id.empty() && !info.version.empty() && !info.url.empty() && !info.md5.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  std::wstring text;
  for (const unsigned char byte : bytes) text.push_back(static_cast<wchar_t>(byte));
  ComponentGet::Protocol::CProtocol protocol;
  std::vector<ComponentGet::ComponentInfo> records;
  const bool ok = protocol.ParseResponse(text, records);
  for (const auto& info : records) {
    if (!Complete(info)) std::abort();
  }
  if (ok && text.find(L'[') == std::wstring::npos) std::abort();

  ComponentGet::ApplicationInfo application;
  application.code = L"OMK";
  ComponentGet::CComponentsStorage storage(application, {}, std::make_shared<ComponentGet::Protocol::CProtocol>(),
                                           std::make_shared<BytesTransport>(bytes));
  std::map<std::wstring, ComponentGet::ComponentInfo> components;
  const auto result = storage.QueryComponents({{L"OMK_SM", L"x64", L""}}, components);
  if ((result == ComponentGet::kStorageSuccess) != !components.empty()) std::abort();
  if (result == ComponentGet::kStorageSuccess && records.empty()) std::abort();
  for (const auto& [id, info] : components) {
    if (id != info.id || !Complete(info)) std::abort();
  }
  return 0;
}
