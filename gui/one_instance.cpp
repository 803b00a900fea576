#include "gui/one_instance.h"

#include <mutex>

#include "config/identity.h"
#include "platform/named_mutex.h"

namespace CustomInstaller::Gui {

namespace {

struct Handles {
  std::mutex lock;
  Platform::NamedMutex global;
  Platform::NamedMutex local;
};

Handles& ProcessHandles() {
  static Handles handles;
  return handles;
}

}  // namespace

std::wstring CProductNameSpecificGenerator::GetSuffix() const { return Config::kProductCode; }

std::wstring COneInstance::MutexName(bool local, const IMNSuffixGenerator* generator) {
  std::wstring name = local ? kLocalInstanceMutexPrefix : kGlobalInstanceMutexPrefix;
  if (generator != nullptr) name += generator->GetSuffix();
  return name;
}

bool COneInstance::Acquire(bool local, std::unique_ptr<IMNSuffixGenerator> generator) {
  const std::wstring name = MutexName(local, generator.get());
  Handles& handles = ProcessHandles();
  const std::lock_guard<std::mutex> guard(handles.lock);
  Platform::NamedMutex& slot = local ? handles.local : handles.global;
  if (slot.IsHeld()) return true;
  return Platform::NamedMutex::Create(name, slot) != Platform::NamedMutexStatus::AlreadyExists;
}

void COneInstance::Release() {
  Handles& handles = ProcessHandles();
  const std::lock_guard<std::mutex> guard(handles.lock);
  handles.global.Close();
  handles.local.Close();
}

bool COneInstance::IsHeld(bool local) {
  Handles& handles = ProcessHandles();
  const std::lock_guard<std::mutex> guard(handles.lock);
  return (local ? handles.local : handles.global).IsHeld();
}

}  // namespace CustomInstaller::Gui
