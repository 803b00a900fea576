#include "core/web_installer_source.h"

#include <algorithm>
#include <boost/thread/thread.hpp>
#include <climits>
#include <cwchar>
#include <iostream>
#include <map>

#include "componentget/components_storage.h"
#include "config/identity.h"
#include "config/profile.h"
#include "metrics/app_metrics.h"
#include "network/exceptions.h"
#include "network/request_response.h"
#include "platform/machine_id.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/system_version.h"
#include "platform/text.h"

namespace CustomInstaller::Core {

namespace {

using ComponentGet::ComponentInfo;
using ComponentGet::ComponentQuery;
using ComponentGet::EStorageResult;
using Cxx::Network::Downloader::EDownloadStatus;

// The build id's leading decimal number (white space and a sign allowed before it); 0 when
// there is none.
int32_t BuildIdNumber(const std::wstring& buildId) {
  const long value = std::wcstol(buildId.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

ComponentGet::OsInfo CurrentOs() {
  const Platform::SystemVersion system = Platform::GetSystemVersion();
  ComponentGet::OsInfo os;
  os.arch = system.is64Bit ? L"x64" : L"x86";
  if (system.known) os.version = std::to_wstring(system.major) + L"." + std::to_wstring(system.minor);
  // The kernel release's third number stands for the system's build number (left out when 0).
  os.build = static_cast<int32_t>(std::min<uint32_t>(system.build, INT32_MAX));
  return os;
}

// Answers that may change when asked again.
bool WorthRetrying(EStorageResult result) {
  return result == ComponentGet::kStorageNoAnswer || result == ComponentGet::kStorageUnassigned ||
         result == ComponentGet::kStorageEmptyReply;
}

}  // namespace

ComponentInfo FallbackComponent() {
  ComponentInfo component;
  component.id = Config::kProductComponentId;
  component.version = Config::kProductVersion;
  component.url = Config::kFallbackComponentUrl;
  component.md5 = Config::kFallbackComponentMd5;
  component.flags = 0;
  return component;
}

CWebInstallerSource::CWebInstallerSource(InstallationDetails details, WebInstallerSourceSettings settings)
    : m_settings(std::move(settings)), m_details(std::move(details)) {
  if (m_settings.componentServiceUrl.empty()) m_settings.componentServiceUrl = Config::kComponentServiceUrl;
  if (!m_settings.clock) m_settings.clock = Platform::SystemClock();
  if (!m_settings.sendException) {
    m_settings.sendException = [](const AppMetrics::CExceptionData& hit) { AppMetrics::SendException(hit); };
  }
  if (!m_settings.machineGuid) m_settings.machineGuid = [] { return Platform::ReadMachineGuid(); };
}

CWebInstallerSource::~CWebInstallerSource() {
  boost::this_thread::disable_interruption noInterruption;
  m_thread.Interrupt();
  m_thread.Wait(-1);
  DropDownloader();
}

bool CWebInstallerSource::Start(std::weak_ptr<IInstallerSourceCallback> callback,
                                std::shared_ptr<JS::IInstallProgressJSCallback> progress) {
  // The earlier attempt ends first, its download too, so none of its reports reach the new
  // callbacks.
  m_thread.Interrupt();
  m_thread.Wait(-1);
  DropDownloader();
  {
    boost::lock_guard lock(m_mutex);
    m_callback = std::move(callback);
    m_progress = progress;
    m_installer.reset();
  }
  m_thread.Start([this] { Fetch(); });
  return true;
}

bool CWebInstallerSource::Cancel() { return false; }

void CWebInstallerSource::Stop() {
  m_thread.Interrupt();
  m_thread.Wait(-1);
  if (m_downloader) m_downloader->Wait();
}

void CWebInstallerSource::DropDownloader() {
  {
    boost::lock_guard lock(m_mutex);
    m_downloading = false;
  }
  if (!m_downloader) return;
  if (auto self = weak_from_this().lock()) m_downloader->Unsubscribe(self);
  m_downloader.reset();  // cancels and waits for its worker
}

void CWebInstallerSource::Fetch() {
  ComponentInfo component;
  if (!QueryComponent(component)) component = m_settings.fallback;

  DropDownloader();
  m_downloader = Cxx::Network::Downloader::CreateDownloader(component.url, component.md5);
  const auto self = weak_from_this().lock();
  if (m_downloader && self) {
    try {
      m_downloader->Subscribe(self);
      // A folder on a noexec mount would hold a file that can never run: another private
      // folder is chosen before anything is downloaded.
      const auto path = Platform::CreateUniqueTempFile(Platform::GetRunnableTempFolder(), "", true);
      // The download goes straight to the file.
      auto file = std::make_shared<CInstallerFileStream>(Platform::Utf8ToWide(path.string()));
      // Held until the start is reported, so an early OnFinished cannot come before it.
      boost::lock_guard lock(m_mutex);
      m_installer = std::make_shared<CInstaller>(file);
      m_downloading = m_downloader->StartToStream(file);
      if (m_downloading) {
        if (auto progress = m_progress.lock()) progress->OnProgress(0.0f);
        return;
      }
      m_installer.reset();  // deletes the empty temporary file
    } catch (const std::exception& e) {
      // No temporary file, or the download could not be started: a source failure, at once.
      std::cerr << "omk-setup: cannot fetch the product installer: " << e.what() << '\n';
      boost::lock_guard lock(m_mutex);
      m_downloading = false;
      m_installer.reset();
    }
  }
  ReportFailure();
}

void CWebInstallerSource::ReportFailure() {
  std::shared_ptr<IInstallerSourceCallback> callback;
  {
    boost::lock_guard lock(m_mutex);
    callback = m_callback.lock();
  }
  if (callback) callback->OnSourceFailed();
}

bool CWebInstallerSource::QueryComponent(ComponentInfo& component) {
  const ComponentGet::OsInfo os = CurrentOs();
  ComponentGet::ApplicationInfo application;
  application.code = Config::kProductCode;
  application.buildId = BuildIdNumber(m_details.GetBuildId());
  application.uid = m_settings.machineGuid();
  application.puid = application.uid;
  application.version = m_details.GetVersion();
  application.language = m_details.GetLanguage();

  ComponentGet::CComponentsStorage storage(
      application, os, std::make_shared<ComponentGet::Protocol::CProtocol>(),
      std::make_shared<Cxx::Network::RequestResponse::CHttpRequestResponse>(m_settings.componentServiceUrl, 0));

  const std::wstring id = Config::kProductComponentId;
  // A network failure is no answer, like an empty reply: asked again, then without version.
  // An interruption (Stop) passes through and ends the fetch.
  auto ask = [&](const std::wstring& version, ComponentInfo& found) {
    std::map<std::wstring, ComponentInfo> components;
    EStorageResult result = ComponentGet::kStorageNoAnswer;
    try {
      result = storage.QueryComponents({ComponentQuery{id, os.arch, version}}, components);
    } catch (const Cxx::Network::Exception::NetworkExceptionPtr&) {
    } catch (const std::exception&) {
    }
    const auto it = components.find(id);
    if (it == components.end()) return std::make_pair(false, result);
    found = it->second;
    return std::make_pair(true, result);
  };

  for (int attempt = 0; attempt < m_settings.attempts; ++attempt) {
    const auto [answered, result] = ask(Config::kProductVersion, component);
    if (answered) return true;
    if (!WorthRetrying(result)) break;
    m_settings.clock->Sleep(m_settings.retryDelay);
  }

  if (ask(L"", component).first) {
    if (component.version != Config::kProductVersion) SendException(InstallExceptions::kOtherVersion, 0);
    return true;
  }
  SendException(InstallExceptions::kNoComponent, 0);
  return false;
}

void CWebInstallerSource::SendException(const InstallException& exception, uint32_t code) {
  AppMetrics::CExceptionData hit;
  hit.description = exception.description;
  hit.code = code;
  hit.severity = exception.severity;
  m_settings.sendException(hit);
}

void CWebInstallerSource::OnProgress(double percent) {
  std::shared_ptr<JS::IInstallProgressJSCallback> progress;
  {
    boost::lock_guard lock(m_mutex);
    if (!m_downloading) return;
    progress = m_progress.lock();
  }
  if (progress) progress->OnProgress(static_cast<float>(percent * 50 / 100));
}

void CWebInstallerSource::OnFinished(EDownloadStatus status) {
  std::shared_ptr<IInstallerSourceCallback> callback;
  std::shared_ptr<JS::IInstallProgressJSCallback> progress;
  std::shared_ptr<CInstaller> installer;
  {
    boost::lock_guard lock(m_mutex);
    // One report per started download; a download that was dropped reports nothing.
    if (!m_downloading) return;
    m_downloading = false;
    callback = m_callback.lock();
    progress = m_progress.lock();
    installer = m_installer;
    if (status != Cxx::Network::Downloader::kDownloadOk) m_installer.reset();
  }
  // The outcome goes out without the lock: the launch it starts must never hold up a Start or
  // Stop of this source. A Start meanwhile waits for this thread (it drops the downloader).
  if (!callback) return;
  if (progress) progress->OnProgress(50.0f);
  if (status != Cxx::Network::Downloader::kDownloadOk || !installer) {
    installer.reset();
    callback->OnSourceFailed();
    SendException(InstallExceptions::kDownloadFailed, static_cast<uint32_t>(status));
    return;
  }
  bool saved = false;
  try {
    saved = installer->Save();
  } catch (...) {
    saved = false;
  }
  if (!saved) {
    // The verified bytes never reached the disk: a failed write, reported like the launcher
    // reports a file it cannot write, never as a ready installer.
    installer.reset();
    {
      boost::lock_guard lock(m_mutex);
      m_installer.reset();
    }
    callback->OnSourceFailed();
    SendException(InstallExceptions::kNeverReady, static_cast<uint32_t>(kInstallerWriteFailed));
    return;
  }
  callback->OnSourceReady(installer);
}

}  // namespace CustomInstaller::Core
