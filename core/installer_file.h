#pragma once
// The fetched product installer: the temporary file its bytes go to, written as they arrive
// (or, from a buffer in memory, at once).
#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "network/downloader.h"
#include "platform/private_file.h"
#include "platform/signature.h"

namespace CustomInstaller::Core {

// Status of the file on disk.
enum EInstallerStatus : int32_t {
  kInstallerReady = 0,       // exists and its signature and signer check passed
  kInstallerWritten = 1,     // did not exist; has just been written
  kInstallerRewritten = 2,   // failed the signature or signer check; rewritten from the buffer
  kInstallerUnreadable = 3,  // the signer could not be read, or the check failed with an error
  kInstallerWriteFailed = 4, // the file could not be written
};

class IInstaller {
 public:
  virtual ~IInstaller() = default;
  virtual std::wstring GetPath() = 0;
  virtual int32_t GetStatus() = 0;
  virtual bool Save() = 0;
};

// Who must have signed the product installer, and the roots its chain must end at.
struct ExpectedSigner {
  std::string trustStore;  // PEM file
  std::vector<uint8_t> serialNumber;
  std::wstring issuerName;
  std::wstring subjectName;
};

// The compiled-in expected signer.
ExpectedSigner ConfiguredSigner();

// The installer's temporary file as the download's target: the bytes go to the file as they
// arrive and through the content digest of the signer check on the way, so no copy of the
// file is held in memory and the check need not read it again. After Commit the file is kept
// open for reading only, which tells whether the file on disk is still the one hashed.
class CInstallerFileStream : public Cxx::Network::Downloader::IOutputByteStream {
 public:
  explicit CInstallerFileStream(std::wstring path);

  std::wstring GetPath() const { return m_path; }
  bool TakesUnverified() const override { return true; }
  bool Restart() override;
  bool Write(const uint8_t* data, size_t size) override;
  void Reserve(uint64_t size) override;
  bool Commit() override;
  void Discard() override;

  // True once a download has been committed to the file.
  bool Committed();
  // True when a download has been committed and the path still names the file it went to.
  bool CommittedToPath();
  // The content digest taken on the way, when the file at the path is provably the one that
  // was written and hashed: the same file (device and inode, no other name), size, change
  // and modification times and mode as when it was committed, in a folder only this user may
  // change. Nothing otherwise: then only reading the file can tell.
  std::optional<Platform::ContentDigest> DigestOfUnchangedFile();

 private:
  std::wstring m_path;
  boost::mutex m_mutex;
  Platform::CPrivateFile m_file;
  Platform::CContentDigester m_digester;
  bool m_failed = false;
  bool m_committed = false;
  Platform::ContentDigest m_digest;
  Platform::FileIdentity m_identity;
};

class CInstaller : public IInstaller {
 public:
  // `buffer` is filled by the download after construction; it may be empty (then nothing is
  // ever written).
  CInstaller(std::wstring path, std::shared_ptr<Cxx::Network::Downloader::CByteBuffer> buffer,
             ExpectedSigner signer = ConfiguredSigner());
  // The download goes straight to the file of `file`. Its check before each start reads the
  // file only when it may have changed since it was hashed; a file that fails the check then
  // cannot be rewritten (its bytes are not held anywhere else) and gives kInstallerWriteFailed,
  // as does a file that has gone.
  explicit CInstaller(std::shared_ptr<CInstallerFileStream> file, ExpectedSigner signer = ConfiguredSigner());
  // Deletes the file (never a folder).
  ~CInstaller() override;

  std::wstring GetPath() override { return m_path; }
  int32_t GetStatus() override;
  // Writes the whole buffer to the path, truncating, and makes the file runnable by its owner;
  // false when any of it failed (it never throws). For a downloaded file: whether the
  // download was committed to it and the path still names that file.
  bool Save() override;

 private:
  int32_t StreamedStatus();

  std::wstring m_path;
  std::shared_ptr<Cxx::Network::Downloader::CByteBuffer> m_buffer;
  std::shared_ptr<CInstallerFileStream> m_file;
  ExpectedSigner m_signer;
};

// Results of VerifyInstallerFile.
enum EVerifyResult : int32_t {
  kVerifyTrusted = 0,         // trusted signature of the expected signer
  kVerifySignerUnreadable = 1,
  kVerifyUntrusted = 2,       // no trusted signature, or another signer
};

// Checks the file's code signature against the trust store and the expected signer (serial
// number, issuer and subject; algorithm and validity are not compared).
int32_t VerifyInstallerFile(const std::wstring& path, const ExpectedSigner& expected = ConfiguredSigner());
// The same over the content digest taken while the file was written (read again only for a
// signature over another digest algorithm).
int32_t VerifyInstallerFile(const std::wstring& path, const Platform::ContentDigest& digest,
                            const ExpectedSigner& expected);

}  // namespace CustomInstaller::Core
