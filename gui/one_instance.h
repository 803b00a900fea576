#pragma once
// Lets only one setup run per machine (or per session): a named mutex held from start-up until
// the program ends.
#include <memory>
#include <string>

#include "app/startup_ports.h"

namespace CustomInstaller::Gui {

inline constexpr const wchar_t* kGlobalInstanceMutexPrefix = L"Global\\d98c16c8-cd12-45e9-b22f-54a39b5b1fe0";
inline constexpr const wchar_t* kLocalInstanceMutexPrefix = L"Local\\68c82283-9090-4178-bfa5-a89db1c54543";

// The guard's two mutexes (machine-wide and session-local) are process-wide: every
// COneInstance of the process shares them.
class COneInstance : public ISingleInstanceGuard {
 public:
  // True when this process holds (or already held) the chosen mutex, false when another
  // process holds it. A mutex that cannot be made for another reason (no usable lock folder,
  // no rights) counts as acquired, with nothing held, so the setup still runs.
  bool Acquire(bool local, std::unique_ptr<IMNSuffixGenerator> generator) override;
  // Releases both mutexes if held.
  void Release() override;

  // The prefix followed directly by the generator's suffix (the bare prefix without one).
  static std::wstring MutexName(bool local, const IMNSuffixGenerator* generator);
  // Whether this process holds the chosen mutex.
  static bool IsHeld(bool local);
};

}  // namespace CustomInstaller::Gui
