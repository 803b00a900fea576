#pragma once
// Answers another copy of this program with the installed suite's tracking UID.
#include <string>

#include "app/startup_ports.h"

namespace CustomInstaller {

class CExtractTrackingUid : public ITrackingUidAnswer {
 public:
  // Writes the "TrackingUID" of the suite's per-user settings to `path` (no line end).
  // False, with nothing written, for an empty path, no installed suite, a settings file that
  // is missing, malformed or lacks a key, an empty UID, or a file that cannot be written.
  bool ExtractTrackingUid(const std::wstring& path) override;
};

}  // namespace CustomInstaller
