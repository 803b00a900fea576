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

// The check's outcome for the signer it found.
int32_t Judge(Platform::ESignatureCheck check, const Platform::SignerInfo& signer, const ExpectedSigner& expected) {
  switch (check) {
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

}  // namespace

ExpectedSigner ConfiguredSigner() {
  return ExpectedSigner{Config::kSignerTrustStore,
                        std::vector<uint8_t>(std::begin(Config::kExpectedSignerSerial),
                                             std::end(Config::kExpectedSignerSerial)),
                        Config::kExpectedSignerIssuer, Config::kExpectedSignerSubject};
}

int32_t VerifyInstallerFile(const std::wstring& path, const ExpectedSigner& expected) {
  Platform::SignerInfo signer;
  return Judge(Platform::VerifyFileSignature(Platform::WideToPath(path), expected.trustStore, signer), signer,
               expected);
}

int32_t VerifyInstallerFile(const std::wstring& path, const Platform::ContentDigest& digest,
                            const ExpectedSigner& expected) {
  Platform::SignerInfo signer;
  return Judge(Platform::VerifyFileSignature(Platform::WideToPath(path), digest, expected.trustStore, signer),
               signer, expected);
}

CInstallerFileStream::CInstallerFileStream(std::wstring path) : m_path(std::move(path)) {}

bool CInstallerFileStream::Restart() {
  boost::lock_guard lock(m_mutex);
  m_committed = false;
  m_failed = !m_file.Create(Platform::WideToPath(m_path)) || !m_digester.Reset();
  return !m_failed;
}

bool CInstallerFileStream::Write(const uint8_t* data, size_t size) {
  // Only the download's thread writes, between Restart and Commit or Discard.
  if (m_failed) return false;
  if (!m_file.Write(data, size) || !m_digester.Update(data, size)) m_failed = true;
  return !m_failed;
}

void CInstallerFileStream::Reserve(uint64_t size) {
  if (!m_failed) m_digester.Expect(size);
}

bool CInstallerFileStream::Commit() {
  boost::lock_guard lock(m_mutex);
  if (m_failed || !m_file.Seal()) return false;
  const auto digest = m_digester.Finish();
  const auto identity = m_file.Identity();
  if (!digest || !identity || identity->size != digest->fileSize) return false;
  m_digest = *digest;
  m_identity = *identity;
  m_committed = true;
  return true;
}

void CInstallerFileStream::Discard() {
  boost::lock_guard lock(m_mutex);
  m_committed = false;
  m_file.Close();
  std::error_code ec;
  const fs::path path = Platform::WideToPath(m_path);
  const auto status = fs::symlink_status(path, ec);
  if (!ec && fs::exists(status) && !fs::is_directory(status)) fs::remove(path, ec);
}

bool CInstallerFileStream::Committed() {
  boost::lock_guard lock(m_mutex);
  return m_committed;
}

bool CInstallerFileStream::CommittedToPath() {
  boost::lock_guard lock(m_mutex);
  const auto onDisk = Platform::PathIdentity(Platform::WideToPath(m_path));
  return m_committed && onDisk && *onDisk == m_identity;
}

std::optional<Platform::ContentDigest> CInstallerFileStream::DigestOfUnchangedFile() {
  boost::lock_guard lock(m_mutex);
  if (!m_committed) return std::nullopt;
  const fs::path path = Platform::WideToPath(m_path);
  // Our descriptor still sees the file as committed, the path still names that very file
  // (lstat: a link in its place differs), and no one else may swap entries of its folder.
  const auto open = m_file.Identity();
  const auto onDisk = Platform::PathIdentity(path);
  if (!open || *open != m_identity || !onDisk || *onDisk != m_identity || m_identity.links != 1) return std::nullopt;
  if (!Platform::IsPrivateFolder(path.parent_path())) return std::nullopt;
  return m_digest;
}

CInstaller::CInstaller(std::wstring path, std::shared_ptr<Cxx::Network::Downloader::CByteBuffer> buffer,
                       ExpectedSigner signer)
    : m_path(std::move(path)), m_buffer(std::move(buffer)), m_signer(std::move(signer)) {}

CInstaller::CInstaller(std::shared_ptr<CInstallerFileStream> file, ExpectedSigner signer)
    : m_path(file ? file->GetPath() : std::wstring()), m_file(std::move(file)), m_signer(std::move(signer)) {}

CInstaller::~CInstaller() {
  if (m_path.empty()) return;
  std::error_code ec;
  const fs::path path = Platform::WideToPath(m_path);
  const auto status = fs::symlink_status(path, ec);
  if (!ec && fs::exists(status) && !fs::is_directory(status)) fs::remove(path, ec);
  Platform::ForgetOnTermination(path);
}

bool CInstaller::Save() {
  if (m_file) return m_file->CommittedToPath();
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

int32_t CInstaller::StreamedStatus() {
  std::error_code ec;
  if (!m_file->Committed() || !fs::exists(Platform::WideToPath(m_path), ec)) return kInstallerWriteFailed;
  try {
    const auto digest = m_file->DigestOfUnchangedFile();
    const int32_t verdict =
        digest ? VerifyInstallerFile(m_path, *digest, m_signer) : VerifyInstallerFile(m_path, m_signer);
    switch (verdict) {
      case kVerifyTrusted:
        return kInstallerReady;
      case kVerifySignerUnreadable:
        return kInstallerUnreadable;
      case kVerifyUntrusted:
        // The file as downloaded is badly signed: it holds the downloaded bytes, as a rewrite
        // would. A file changed since cannot be rewritten.
        return digest ? kInstallerRewritten : kInstallerWriteFailed;
    }
    return kInstallerUnreadable;
  } catch (...) {
    return kInstallerUnreadable;
  }
}

int32_t CInstaller::GetStatus() {
  if (m_file) return StreamedStatus();
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
