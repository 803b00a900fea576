#pragma once
// The fetched product installer: its bytes in memory and the temporary file they go to.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Cxx::Network::Downloader {
class CByteBuffer;
}

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

class CInstaller : public IInstaller {
 public:
  // `buffer` is filled by the download after construction; it may be empty (then nothing is
  // ever written).
  CInstaller(std::wstring path, std::shared_ptr<Cxx::Network::Downloader::CByteBuffer> buffer,
             ExpectedSigner signer = ConfiguredSigner());
  // Deletes the file (never a folder).
  ~CInstaller() override;

  std::wstring GetPath() override { return m_path; }
  int32_t GetStatus() override;
  // Writes the whole buffer to the path, truncating, and makes the file runnable by its owner;
  // false when any of it failed (it never throws).
  bool Save() override;

 private:
  std::wstring m_path;
  std::shared_ptr<Cxx::Network::Downloader::CByteBuffer> m_buffer;
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

}  // namespace CustomInstaller::Core
