#pragma once
// A journal of what the start-up did with the installer window: the analytics it sent, the
// object graphs it built and the installations it started. Each graph finishes at once.
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"

namespace CustomInstaller {

inline std::string NarrowAscii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct StartupLog : IStartupAnalytics, IInstallGraphFactory {
  std::vector<std::string> entries;
  void SendEvent(const std::wstring& action, const std::wstring&, const std::wstring&, int64_t) override {
    entries.push_back("event " + NarrowAscii(action));
  }
  void SendException(const std::wstring& context, const std::wstring& description, int32_t code,
                     int32_t severity) override {
    entries.push_back("exception " + NarrowAscii(context) + "/" + NarrowAscii(description) + "/" + std::to_string(code) + "/" +
                      std::to_string(severity));
  }
  void SetAutoSessionControl(bool) override {}

  struct Manager : Core::IInstallManager {
    StartupLog& log;
    std::string name;
    Manager(StartupLog& l, std::string n) : log(l), name(std::move(n)) {}
    bool Start(std::shared_ptr<Core::JS::IInstallProgressJSCallback> progress) override {
      log.entries.push_back(name + " start");
      if (progress) progress->OnFinish();
      return true;
    }
    bool Cancel() override { return false; }
    void Stop() override {}
  };
  std::shared_ptr<Core::IInstallManager> Build(EInstallGraph kind, const std::shared_ptr<IGASessionHandler>&,
                                               const InstallerOptions&, const InstallationDetails&) override {
    const char* names[] = {"windowed", "fallback", "silent"};
    entries.push_back(std::string("build ") + names[static_cast<int>(kind)]);
    return std::make_shared<Manager>(*this, names[static_cast<int>(kind)]);
  }
};

}  // namespace CustomInstaller
