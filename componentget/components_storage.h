#pragma once
// Asks the component service for a list of components and returns the answers by id.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "componentget/protocol.h"
#include "network/request_response.h"

namespace ComponentGet {

enum EStorageResult : int32_t {
  kStorageSuccess = 0,        // at least one component answered
  kStorageNoAnswer = 1,       // the transport gave no answer (no host, empty reply body)
  kStorageUnassigned = 2,     // returned by no storage here; a caller retries it like 1 and 4
  kStorageBadRequest = 3,     // the request could not be built or came out empty
  kStorageEmptyReply = 4,     // the reply text was empty
  kStorageNothing = 5,        // nothing asked, or no usable record in the reply
  kStorageNoObjects = 6,      // no protocol or no transport
};

class IComponentsStorage {
 public:
  virtual ~IComponentsStorage() = default;
  virtual EStorageResult QueryComponents(const std::vector<ComponentQuery>& wanted,
                                         std::map<std::wstring, ComponentInfo>& components) = 0;
};

class CComponentsStorage : public IComponentsStorage {
 public:
  CComponentsStorage(ApplicationInfo application, OsInfo os,
                     std::shared_ptr<Protocol::IProtocol> protocol,
                     std::shared_ptr<Cxx::Network::RequestResponse::IRequestResponse> transport);
  // Records of a partly malformed reply up to the bad element count as answers; a later
  // record replaces an earlier one of the same id. Transport exceptions (a shared pointer to
  // CNetworkException) pass through.
  EStorageResult QueryComponents(const std::vector<ComponentQuery>& wanted,
                                 std::map<std::wstring, ComponentInfo>& components) override;

 private:
  ApplicationInfo m_application;
  OsInfo m_os;
  std::shared_ptr<Protocol::IProtocol> m_protocol;
  std::shared_ptr<Cxx::Network::RequestResponse::IRequestResponse> m_transport;
};

}  // namespace ComponentGet
