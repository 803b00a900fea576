#pragma once
// The install manager's only way to the page.

namespace CustomInstaller::Core::JS {

// The codes of OnError as the page reads them.
enum EPageError : int {
  kPageErrorUnknown = 0,
  kPageErrorBrokenInstaller = 1,  // the file failed its checks
  kPageErrorConnection = 2,
};

class IInstallProgressJSCallback {
 public:
  virtual ~IInstallProgressJSCallback() = default;
  virtual void OnStarted() = 0;
  virtual void OnProgress(float percent) = 0;
  virtual void OnError(int code) = 0;
  virtual void OnCancel() = 0;
  virtual void OnFinish() = 0;
};

}  // namespace CustomInstaller::Core::JS
