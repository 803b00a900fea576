#pragma once
// The installation's analytics session: opened at construction, finished once at the end.

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

}  // namespace CustomInstaller
