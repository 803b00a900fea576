#include "core/installer_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "network/downloader.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace CustomInstaller::Core {
namespace {

namespace fs = std::filesystem;
using Cxx::Network::Downloader::CByteBuffer;
const fs::path kPki = OMK_TEST_SIGNING_PKI;

ExpectedSigner TestSigner(std::vector<uint8_t> serial = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71,
                                                         0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}) {
  return {(kPki / "root.pem").string(), std::move(serial), L"DigiCert SHA2 Assured ID Code Signing CA",
          L"Dravo Corporation"};
}

class InstallerFileTest : public testing::Test {
 protected:
  // The bytes of a small installer signed by `signer` (a name in the PKI folder).
  std::shared_ptr<CByteBuffer> SignedBuffer(const std::string& signer) {
    const fs::path file = dir.Path() / ("signed-" + signer);
    std::ofstream(file, std::ios::binary) << "#!/bin/sh\nexit 0\n";
    const auto result = TestSupport::RunProcess(
        OMK_SIGN_PATH, {"--key", (kPki / (signer + ".key")).string(), "--cert", (kPki / (signer + ".pem")).string(),
                        "--chain", (kPki / "chain.pem").string(), file.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto buffer = std::make_shared<CByteBuffer>();
    buffer->Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return buffer;
  }
  std::wstring PathOf(const std::string& name) { return (dir.Path() / name).wstring(); }

  TestSupport::TempDir dir;
};

TEST_F(InstallerFileTest, WrittenThenReady) {
  CInstaller installer(PathOf("setup.tmp"), SignedBuffer("signer"), TestSigner());
  EXPECT_EQ(installer.GetStatus(), kInstallerWritten);
  EXPECT_EQ(installer.GetStatus(), kInstallerReady);
  EXPECT_EQ(fs::status(dir.Path() / "setup.tmp").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
}

TEST_F(InstallerFileTest, PlaceholderAndTamperedFilesAreRewritten) {
  const auto path = dir.Path() / "setup.tmp";
  std::ofstream{path};  // the empty file the temporary-file naming leaves
  CInstaller installer(path.wstring(), SignedBuffer("signer"), TestSigner());
  EXPECT_EQ(installer.GetStatus(), kInstallerRewritten);
  EXPECT_EQ(installer.GetStatus(), kInstallerReady);
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(3);
    f.put('X');
  }
  EXPECT_EQ(installer.GetStatus(), kInstallerRewritten);
  EXPECT_EQ(installer.GetStatus(), kInstallerReady);
}

TEST_F(InstallerFileTest, SignerMustBeTheExpectedOne) {
  // Another subject under the same intermediate, checked on every poll.
  CInstaller other(PathOf("other.tmp"), SignedBuffer("other"), TestSigner());
  EXPECT_EQ(other.GetStatus(), kInstallerWritten);
  EXPECT_EQ(other.GetStatus(), kInstallerRewritten);
  EXPECT_EQ(other.GetStatus(), kInstallerRewritten);
  // The right names but another serial number.
  CInstaller wrongSerial(PathOf("serial.tmp"), SignedBuffer("signer"), TestSigner({0x0A, 0x1B}));
  wrongSerial.GetStatus();
  EXPECT_EQ(wrongSerial.GetStatus(), kInstallerRewritten);
  // An expired signing certificate with the expected serial number is accepted.
  CInstaller expired(PathOf("expired.tmp"), SignedBuffer("expired"), TestSigner({0x20, 0x01}));
  expired.GetStatus();
  EXPECT_EQ(expired.GetStatus(), kInstallerReady);
}

TEST_F(InstallerFileTest, UnreadableTrustStoreAndUnwritablePath) {
  ExpectedSigner noStore = TestSigner();
  noStore.trustStore = (dir.Path() / "missing.pem").string();
  CInstaller installer(PathOf("setup.tmp"), SignedBuffer("signer"), noStore);
  installer.GetStatus();
  EXPECT_EQ(installer.GetStatus(), kInstallerUnreadable);

  CInstaller nowhere(PathOf("missing-folder/setup.tmp"), SignedBuffer("signer"), TestSigner());
  EXPECT_EQ(nowhere.GetStatus(), kInstallerWriteFailed);
  CInstaller noBuffer(PathOf("nobuffer.tmp"), nullptr, TestSigner());
  EXPECT_EQ(noBuffer.GetStatus(), kInstallerWriteFailed);
}

// A save that throws is a failed write, never a file "just written".
TEST_F(InstallerFileTest, ASaveThatThrowsIsAFailedWrite) {
  class CThrowingSave final : public CInstaller {
   public:
    using CInstaller::CInstaller;
    bool Save() override { throw std::runtime_error("no space left"); }
  };
  CThrowingSave installer(PathOf("setup.tmp"), SignedBuffer("signer"), TestSigner());
  EXPECT_EQ(installer.GetStatus(), kInstallerWriteFailed);
  EXPECT_FALSE(fs::exists(dir.Path() / "setup.tmp"));
}

TEST_F(InstallerFileTest, DestructorDeletesTheFileButNeverAFolder) {
  const auto file = dir.Path() / "setup.tmp";
  const auto folder = dir.Path() / "folder.tmp";
  fs::create_directory(folder);
  {
    CInstaller installer(file.wstring(), SignedBuffer("signer"), TestSigner());
    installer.Save();
    CInstaller onFolder(folder.wstring(), nullptr, TestSigner());
  }
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
}  // namespace CustomInstaller::Core
