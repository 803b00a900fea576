#include "core/session_handler.h"

#include <openssl/rand.h>

#include <exception>
#include <optional>
#include <system_error>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "config/identity.h"
#include "core/session_handler_factory.h"
#include "metrics/app_metrics.h"
#include "platform/paths.h"
#include "platform/plain_file.h"
#include "platform/process.h"
#include "platform/termination.h"
#include "platform/text.h"
#include "products/product_list.h"

namespace CustomInstaller {

namespace {

constexpr const char* kAnswerFileName = "trackingUID.txt";

bool IsSuiteInstalled() {
  try {
    return ProductList::CProductList(L"").IsInstalled(Config::kProductCode);
  } catch (const std::exception&) {
    return false;  // an unreadable description: no suite known
  }
}

// Quoting by the Windows splitting rules cannot carry a double quote, nor a backslash
// right before the closing quote.
bool Quotable(const std::string& path) {
  return !path.empty() && path.find('"') == std::string::npos && path.back() != '\\';
}

// The product installer gets the UID inside double quotes, unescaped: a UID that could end
// that quote or carry control characters is not used.
constexpr std::size_t kMaxAnswerBytes = 1024;
bool IsUsableUid(const std::string& uid) {
  for (const unsigned char c : uid) {
    if (c == '"' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

CGASessionHandler::CGASessionHandler(const InstallerOptions& options, CGASessionSettings settings)
    : m_options(options), m_finishWaitSeconds(settings.finishWaitSeconds) {
  InstallationDetails details(m_options);
  const std::string trackingId =
      settings.trackingId.empty() ? std::string(Config::kAnalyticsTrackingId) : settings.trackingId;
  const AppMetrics::CGoogleAnalyticsConfig config(
      trackingId, Platform::WideToUtf8(details.GetUid()), Platform::WideToUtf8(details.GetVersion()),
      Platform::WideToUtf8(Config::kApplicationName), Platform::WideToUtf8(details.GetLanguage()),
      Platform::WideToUtf8(Config::kProductCode));
  AppMetrics::CreateGoogleAnalyticsMetrics(config, std::move(settings.environment));
  AppMetrics::SetAutoSessionControl(false);
  AppMetrics::SetEnabled(true);
  AppMetrics::StartSession();
}

void CGASessionHandler::OnInstallSucceeded() { AppMetrics::SetAutoSessionControl(m_options.verySilent); }

void CGASessionHandler::OnInstallFailed() { AppMetrics::SetAutoSessionControl(true); }

void CGASessionHandler::OnInstallCancelled() { AppMetrics::SetAutoSessionControl(true); }

void CGASessionHandler::FinishSession() { AppMetrics::WaitForPendingHits(m_finishWaitSeconds); }

std::shared_ptr<IGASessionHandler> CGASessionHandlerFactory::Create(const InstallerOptions& options) {
  return std::make_shared<CGASessionHandler>(options);
}

std::wstring ReadInstalledTrackingUid(const std::filesystem::path& executable, const std::filesystem::path& program) {
  std::wstring uid;
  try {
    const std::string programText = (program.empty() ? executable : program).string();
    if (!Quotable(programText)) return uid;
    // The answer file is made empty, unique and private in this process's own temporary folder:
    // nothing another user (or an earlier run) put anywhere is read as the answer, and the
    // answering copy writes only into an empty file of this user.
    const std::filesystem::path answer = Platform::CreateUniqueTempFile(Platform::GetTempFolder(), "uid");
    const std::string answerText = answer.string();
    std::optional<std::string> text;
    if (Quotable(answerText)) {
      const std::wstring commandLine = L"\"" + Platform::Utf8ToWide(programText) +
                                       L"\" -extractTrackingUID=\"" + Platform::Utf8ToWide(answerText) +
                                       L"\"";
      uint32_t exitCode = 1;
      // Only a copy that says it answered (exit code 0) is believed.
      if (Platform::RunProcess(commandLine, exitCode) && exitCode == 0) {
        text = Platform::ReadPlainFile(answer, kMaxAnswerBytes);
      }
    }
    std::error_code ec;
    std::filesystem::remove(answer, ec);
    Platform::ForgetOnTermination(answer);
    if (text) {
      std::string line = text->substr(0, text->find('\n'));
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (IsUsableUid(line)) uid = Platform::Utf8ToWide(line);
    }
  } catch (const std::exception&) {
    // Whatever was read stands; usually nothing.
  }
  return uid;
}

std::wstring FormatRandomUuid(std::array<uint8_t, 16> bytes) {
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += L'-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

std::wstring GenerateUuid() {
  static const std::wstring uuid = [] {
    std::wstring text;
    try {
      boost::uuids::random_generator generate;
      text = boost::uuids::to_wstring(generate());
    } catch (const std::exception&) {
      // No system entropy through Boost: the crypto library's generator below.
    }
    if (text.empty()) {
      std::array<uint8_t, 16> bytes{};
      if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) == 1) text = FormatRandomUuid(bytes);
    }
    return text;
  }();
  return uuid;
}

std::wstring GetUid(const UidLookup& lookup) {
  std::wstring uid;
  const bool installed = lookup.isSuiteInstalled ? lookup.isSuiteInstalled() : IsSuiteInstalled();
  if (installed) {
    std::filesystem::path executable = lookup.executable;
    std::filesystem::path program;
    if (executable.empty()) {
      // This program: the answer goes beside its file; the copy is started from the very
      // file that runs, so a file put in its place meanwhile is not started.
      program = Platform::kOwnProgramFile;
      try {
        executable = Platform::GetModulePath();
      } catch (const std::exception&) {
      }
    }
    if (!executable.empty()) uid = ReadInstalledTrackingUid(executable, program);
  }
  if (uid.empty()) uid = GenerateUuid();
  return uid;
}

void InstallUidProvider() {
  InstallationDetails::SetUidProvider([] { return GetUid(); });
}

}  // namespace CustomInstaller
