#include "core/installer_file.h"

#include <iterator>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "config/profile.h"
#include "network/downloader.h"
#include "platform/signature.h"
#include "platform/termination.h"
#include "platform/text.h"

namespace CustomInstaller::Core {

namespace fs = std::filesystem;

namespace {
}  // namespace

ExpectedSigner ConfiguredSigner() {
  return ExpectedSigner{Config::kSignerTrustStore,
                        std::vector<uint8_t>(std::begin(Config::kExpectedSignerSerial),
                                             std::end(Config::kExpectedSignerSerial)),
                        Config::kExpectedSignerIssuer, Config::kExpectedSignerSubject};
}

int32_t VerifyInstallerFile(const std::wstring& path, const ExpectedSigner& expected) {
  Platform::SignerInfo signer;
  switch (Platform::VerifyFileSignature(Platform::WideToPath(path), expected.trustStore, signer)) {
    case Platform::ESignatureCheck::Trusted:
      break;
    case Platform::ESignatureCheck::Untrusted:
      return kVerifyUntrusted;
    case Platform::ESignatureCheck::Error:
      return kVerifySignerUnreadable;
  }
  const bool same = signer.serialNumber == expected.serialNumber &&
                    signer.issuerName == expected.issuerName && signer.subjectName == expected.subjectName;
  return same ? kVerifyTrusted : kVerifyUntrusted;
}

CInstaller::CInstaller(std::wstring path, std::shared_ptr<Cxx::Network::Downloader::CByteBuffer> buffer,
                       ExpectedSigner signer)
    : m_path(std::move(path)), m_buffer(std::move(buffer)), m_signer(std::move(signer)) {}

CInstaller::~CInstaller() {
  if (m_path.empty()) return;
  std::error_code ec;
  const fs::path path = Platform::WideToPath(m_path);
  const auto status = fs::symlink_status(path, ec);
  if (!ec && fs::exists(status) && !fs::is_directory(status)) fs::remove(path, ec);
  Platform::ForgetOnTermination(path);
}

bool CInstaller::Save() {
  if (!m_buffer || m_path.empty()) return false;
  try {
    const fs::path path = Platform::WideToPath(m_path);
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      const auto& bytes = m_buffer->Bytes();
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      out.close();
      if (!out) return false;
    }
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, ec);
    return !ec;
  } catch (const std::exception&) {
    return false;  // a write that throws is a write that failed
  }
}

int32_t CInstaller::GetStatus() {
  std::error_code ec;
  const bool exists = !m_path.empty() && fs::exists(Platform::WideToPath(m_path), ec);
  if (exists) {
    try {
      switch (VerifyInstallerFile(m_path, m_signer)) {
        case kVerifyTrusted:
          return kInstallerReady;
        case kVerifySignerUnreadable:
          return kInstallerUnreadable;
        case kVerifyUntrusted:
          return Save() ? kInstallerRewritten : kInstallerWriteFailed;
      }
      return kInstallerUnreadable;
    } catch (...) {
      return kInstallerUnreadable;
    }
  }
  try {
    return Save() ? kInstallerWritten : kInstallerWriteFailed;
  } catch (...) {
    return kInstallerWriteFailed;
  }
}

}  // namespace CustomInstaller::Core
