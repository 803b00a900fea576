#include "componentget/components_storage.h"

#include "platform/text.h"

namespace ComponentGet {

CComponentsStorage::CComponentsStorage(ApplicationInfo application, OsInfo os,
                                       std::shared_ptr<Protocol::IProtocol> protocol,
                                       std::shared_ptr<Cxx::Network::RequestResponse::IRequestResponse> transport)
    : m_application(std::move(application)),
      m_os(std::move(os)),
      m_protocol(std::move(protocol)),
      m_transport(std::move(transport)) {}

EStorageResult CComponentsStorage::QueryComponents(const std::vector<ComponentQuery>& wanted,
                                                   std::map<std::wstring, ComponentInfo>& components) {
  if (wanted.empty()) return kStorageNothing;
  if (!m_protocol) return kStorageNoObjects;

  ComponentsRequest request;
  request.protocolVersion = 1;
  request.application = m_application;
  request.os = m_os;
  request.components = wanted;
  std::wstring json;
  if (!m_protocol->BuildRequest(std::move(request), json)) return kStorageBadRequest;

  if (json.empty()) return kStorageBadRequest;
  if (!m_transport) return kStorageNoObjects;
  std::string reply;
  if (m_transport->Send(Platform::WideToUtf8(json), reply) != 0) return kStorageNoAnswer;
  // One character per reply byte, without decoding.
  std::wstring text;
  text.reserve(reply.size());
  for (const char byte : reply) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));

  if (text.empty()) return kStorageEmptyReply;
  std::vector<ComponentInfo> answered;
  // A false result still leaves the records read before the bad element.
  m_protocol->ParseResponse(text, answered);
  if (answered.empty()) return kStorageNothing;

  for (ComponentInfo& info : answered) {
    const std::wstring id = info.id;
    components.insert_or_assign(id, std::move(info));
  }
  return kStorageSuccess;
}

}  // namespace ComponentGet
