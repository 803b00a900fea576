#pragma once
// The installation's failure points as the analytics see them: each exception hit's short
// description and its severity, in one table.
#include <cstdint>

#include "metrics/records.h"

namespace CustomInstaller::Core {

struct InstallException {
  const char* description;
  int32_t severity;
};

namespace InstallExceptions {
// The download did not verify; the code is the download status.
inline constexpr InstallException kDownloadFailed{"ID1_", AppMetrics::kSeverityFatal};
// The service named no installer: the fallback file is fetched.
inline constexpr InstallException kNoComponent{"ID3_", AppMetrics::kSeverityFatal};
// The version-less answer named another version; it is used.
inline constexpr InstallException kOtherVersion{"ID4_", AppMetrics::kSeverityNonFatal};
// The file never passed its checks; the code is its last status.
inline constexpr InstallException kNeverReady{"ID5_", AppMetrics::kSeverityFatal};
// The file could not be read for its checks; the code is the system error.
inline constexpr InstallException kUnreadable{"ID6_", AppMetrics::kSeverityFatal};
// A ready file could not be started; the code is the system error.
inline constexpr InstallException kNotStarted{"IR_", AppMetrics::kSeverityFatal};
// The product installer ended with an exit code that is neither success nor cancel.
inline constexpr InstallException kInstallerFailed{"IN", AppMetrics::kSeverityFatal};
// The installer window never showed (the windowed mode gives way to the window-less one).
inline constexpr InstallException kWindowNotShown{"IJ", AppMetrics::kSeverityFatal};
}  // namespace InstallExceptions

}  // namespace CustomInstaller::Core
