#pragma once
// The installation's analytics session: opened at construction, finished once at the end.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/installer_options.h"
#include "metrics/google_analytics_metrics.h"

namespace CustomInstaller {

class IGASessionHandler {
 public:
  virtual ~IGASessionHandler() = default;
  virtual void OnInstallSucceeded() = 0;
  virtual void OnInstallFailed() = 0;
  virtual void OnInstallCancelled() = 0;
  // Waits a bounded time for the analytics hits still queued.
  virtual void FinishSession() = 0;
};

// What the session handler configures the process-wide sender with; the defaults are the
// real ones.
struct CGASessionSettings {
  std::string trackingId;                     // empty: the compiled-in property id
  AppMetrics::CMetricsEnvironment environment;  // empty members: the real clock and collector
  uint32_t finishWaitSeconds = 10;
};

class CGASessionHandler final : public IGASessionHandler {
 public:
  // Creates the process-wide sender unless it exists (client id = the tracking UID), turns
  // automatic session control off, enables it and opens the session.
  explicit CGASessionHandler(const InstallerOptions& options, CGASessionSettings settings = {});

  // After a success the sender ends the session itself only in the very silent mode.
  void OnInstallSucceeded() override;
  void OnInstallFailed() override;
  void OnInstallCancelled() override;
  void FinishSession() override;

 private:
  InstallerOptions m_options;
  uint32_t m_finishWaitSeconds;
};

// How the tracking UID is looked up; empty members take the real ones.
struct UidLookup {
  // Whether the suite ("OMK") is installed; default: the installed-product list.
  std::function<bool()> isSuiteInstalled;
  // The program that answers "-extractTrackingUID"; default: this program's own executable.
  std::filesystem::path executable;
};

// The installed suite's tracking UID when there is one, else this process's generated UUID.
std::wstring GetUid(const UidLookup& lookup = {});

// Asks a copy of `executable` (started from `program` when given) for the installed suite's
// tracking UID through an answer file made empty in this process's private temporary folder,
// which is removed again. Empty when there is no usable answer or the copy did not end with 0.
std::wstring ReadInstalledTrackingUid(const std::filesystem::path& executable,
                                      const std::filesystem::path& program = {});

// A random UUID ("8-4-4-4-12", lower case), made on first use and the same for the whole process.
std::wstring GenerateUuid();

// A version-4 UUID text from 16 random bytes.
std::wstring FormatRandomUuid(std::array<uint8_t, 16> bytes);

// Makes InstallationDetails::GetUid use GetUid with the real lookup.
void InstallUidProvider();

}  // namespace CustomInstaller
