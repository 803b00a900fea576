#pragma once
// Lets only one setup run per machine (or per session): a named mutex held from start-up until
// the program ends.
#include <memory>
#include <string>


namespace CustomInstaller::Gui {

inline constexpr const wchar_t* kGlobalInstanceMutexPrefix = L"Global\\d98c16c8-cd12-45e9-b22f-54a39b5b1fe0";
inline constexpr const wchar_t* kLocalInstanceMutexPrefix = L"Local\\68c82283-9090-4178-bfa5-a89db1c54543";

// Gives the suffix the single-instance guard appends to its mutex names.
class IMNSuffixGenerator {
 public:
  virtual ~IMNSuffixGenerator() = default;
  virtual std::wstring GetSuffix() const = 0;
};

// The suite's product code, so that each suite product has its own single-instance lock.
class CProductNameSpecificGenerator : public IMNSuffixGenerator {
 public:
  std::wstring GetSuffix() const override;
};

// The guard's two mutexes (machine-wide and session-local) are process-wide: every
// COneInstance of the process shares them.
class COneInstance {
 public:
  // True when this process holds (or already held) the chosen mutex, false when another
  // process holds it. A mutex that cannot be made for another reason (no usable lock folder,
  // no rights) counts as acquired, with nothing held, so the setup still runs.
  bool Acquire(bool local, std::unique_ptr<IMNSuffixGenerator> generator);
  // Releases both mutexes if held.
  void Release();

  // The prefix followed directly by the generator's suffix (the bare prefix without one).
  static std::wstring MutexName(bool local, const IMNSuffixGenerator* generator);
  // Whether this process holds the chosen mutex.
  static bool IsHeld(bool local);
};

}  // namespace CustomInstaller::Gui
