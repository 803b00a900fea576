#pragma once
// Small stand-ins for the install manager's source, launcher, session and page, which write
// what they are told into one journal.
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/install_manager.h"
#include "core/installer_file.h"
#include "core/session_handler.h"

namespace CustomInstaller::Core::Testing {

using JS::IInstallProgressJSCallback;

// Everything the fakes were told, in order, across all of them.
struct Journal {
  std::mutex mutex;
  std::vector<std::string> calls;
  void Add(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
  std::vector<std::string> Take() {
    std::lock_guard lock(mutex);
    return std::exchange(calls, {});
  }
};

class FakeProgress final : public IInstallProgressJSCallback {
 public:
  FakeProgress(Journal& journal, std::string name) : m_journal(journal), m_name(std::move(name)) {}
  void OnStarted() override { m_journal.Add(m_name + ".started"); }
  void OnProgress(float percent) override { m_journal.Add(m_name + ".progress " + std::to_string(int(percent))); }
  void OnError(int code) override { m_journal.Add(m_name + ".error " + std::to_string(code)); }
  void OnCancel() override { m_journal.Add(m_name + ".cancel"); }
  void OnFinish() override { m_journal.Add(m_name + ".finish"); }

 private:
  Journal& m_journal;
  std::string m_name;
};

class FakeSession final : public IGASessionHandler {
 public:
  explicit FakeSession(Journal& journal) : m_journal(journal) {}
  void OnInstallSucceeded() override { m_journal.Add("session.succeeded"); }
  void OnInstallFailed() override { m_journal.Add("session.failed"); }
  void OnInstallCancelled() override { m_journal.Add("session.cancelled"); }
  void FinishSession() override { m_journal.Add("session.finish"); }

 private:
  Journal& m_journal;
};

class FakeInstaller final : public IInstaller {
 public:
  std::wstring GetPath() override { return L"/tmp/x.tmp"; }
  int32_t GetStatus() override { return kInstallerReady; }
  bool Save() override { return true; }
};

// What the manager handed to its source and launcher, kept outside them so that a test can
// report through it (as the workers do) and see it after the manager is gone.
struct Handles {
  std::weak_ptr<IInstallerSourceCallback> source;
  std::weak_ptr<IInstallerLauncherCallback> launcher;
  std::shared_ptr<IInstallProgressJSCallback> sourceProgress;
  std::shared_ptr<IInstallProgressJSCallback> launcherProgress;
  std::shared_ptr<IInstaller> launched;
  bool startAnswer = true;
  bool launchAnswer = true;
  bool cancelAnswer = false;
};

class FakeSource final : public IInstallerSource {
 public:
  FakeSource(Journal& journal, Handles& handles) : m_journal(journal), m_handles(handles) {}
  bool Start(std::weak_ptr<IInstallerSourceCallback> callback,
             std::shared_ptr<IInstallProgressJSCallback> progress) override {
    m_journal.Add("source.start");
    m_handles.source = callback;
    m_handles.sourceProgress = progress;
    return m_handles.startAnswer;
  }
  bool Cancel() override {
    m_journal.Add("source.cancel");
    return false;
  }
  void Stop() override { m_journal.Add("source.stop"); }

 private:
  Journal& m_journal;
  Handles& m_handles;
};

class FakeLauncher final : public IInstallerLauncher {
 public:
  FakeLauncher(Journal& journal, Handles& handles) : m_journal(journal), m_handles(handles) {}
  bool Launch(std::shared_ptr<IInstaller> installer, std::weak_ptr<IInstallerLauncherCallback> callback,
              std::shared_ptr<IInstallProgressJSCallback> progress) override {
    m_journal.Add("launcher.launch");
    m_handles.launched = installer;
    m_handles.launcher = callback;
    m_handles.launcherProgress = progress;
    return m_handles.launchAnswer;
  }
  bool Cancel() override {
    m_journal.Add("launcher.cancel");
    return m_handles.cancelAnswer;
  }
  void Stop() override { m_journal.Add("launcher.stop"); }

 private:
  Journal& m_journal;
  Handles& m_handles;
};

}  // namespace CustomInstaller::Core::Testing
