#include "core/installer_file.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <boost/json.hpp>
#include <boost/thread/latch.hpp>
#include <cstring>
#include <fstream>
#include <iterator>

#include "network/connection.h"
#include "network/downloader.h"
#include "platform/md5.h"
#include "platform/text.h"
#include "tests/support/dev_server.h"
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

// The download goes straight into the installer's file, through a local download server.
class StreamedInstallerTest : public testing::Test {
 protected:
  using Settings = Cxx::Network::Http::HttpClient::ConnectionSettings;
  void SetUp() override {
    m_saved = Cxx::Network::Http::HttpClient::DefaultConnectionSettings();
    Settings settings = m_saved;
    settings.resumePause = std::chrono::milliseconds(10);
    Cxx::Network::Http::HttpClient::SetDefaultConnectionSettings(settings);
  }
  void TearDown() override { Cxx::Network::Http::HttpClient::SetDefaultConnectionSettings(m_saved); }

  // A file of `size` content bytes signed by `signer`; its bytes.
  std::string SignedFile(const fs::path& file, size_t size, const std::string& signer = "signer") {
    {
      std::string content = "#!/bin/sh\nexit 0\n";
      content.resize(std::max(size, content.size()), '#');
      for (size_t i = 17; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
      std::ofstream(file, std::ios::binary) << content;
    }
    const auto result = TestSupport::RunProcess(
        OMK_SIGN_PATH, {"--key", (kPki / (signer + ".key")).string(), "--cert", (kPki / (signer + ".pem")).string(),
                        "--chain", (kPki / "chain.pem").string(), file.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  class Finished : public Cxx::Network::Downloader::IDownloadObserver {
   public:
    void OnFinished(Cxx::Network::Downloader::EDownloadStatus s) override {
      status = s;
      done.count_down();
    }
    Cxx::Network::Downloader::EDownloadStatus status = Cxx::Network::Downloader::kDownloadOtherFailure;
    boost::latch done{1};
  };

  // Downloads `url` into a new installer file at `name` (created empty first, as the
  // temporary-file naming does) and returns the final status.
  int Download(const std::string& url, const std::string& md5, const std::string& name,
               std::shared_ptr<CInstallerFileStream>& file) {
    const fs::path path = dir.Path() / name;
    std::ofstream{path};
    file = std::make_shared<CInstallerFileStream>(path.wstring());
    auto observer = std::make_shared<Finished>();
    Cxx::Network::Downloader::CDownloader downloader(Platform::Utf8ToWide(url), Platform::Utf8ToWide(md5));
    downloader.Subscribe(observer);
    EXPECT_TRUE(downloader.StartToStream(file));
    observer->done.wait();
    return observer->status;
  }

  static std::string Scenario(const fs::path& file, int64_t cutAfter = -1, const char* cutMode = "once") {
    boost::json::object route{{"path", "/setup.bin"}, {"body_file", file.string()}};
    if (cutAfter >= 0) {
      route["cut_after"] = cutAfter;
      route["cut_mode"] = cutMode;
    }
    return boost::json::serialize(boost::json::object{{"routes", boost::json::array{route}}});
  }

  TestSupport::TempDir dir;

 private:
  Settings m_saved;
};

std::array<uint8_t, 32> Sha256(std::string_view data) {
  std::array<uint8_t, 32> out{};
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &length, EVP_sha256(), nullptr);
  return out;
}

// Whatever changed the file after it was downloaded and hashed, the check reads it again:
// a changed byte (even with its modification time put back), a file swapped in its place.
TEST_F(StreamedInstallerTest, FileChangedAfterTheDownloadIsCaughtBeforeTheStart) {
  const fs::path source = dir.Path() / "source.bin";
  const std::string bytes = SignedFile(source, 300000);
  const fs::path other = dir.Path() / "other.bin";
  SignedFile(other, 1000, "other");
  const TestSupport::DevServer server(Scenario(source));

  enum Change { kNone, kByte, kByteSameTime, kSwapOther, kSwapSameBytes, kRemoved };
  const std::pair<Change, int32_t> cases[] = {
      {kNone, kInstallerReady},           {kByte, kInstallerWriteFailed},     {kByteSameTime, kInstallerWriteFailed},
      {kSwapOther, kInstallerWriteFailed}, {kSwapSameBytes, kInstallerReady}, {kRemoved, kInstallerWriteFailed},
  };
  for (const auto& [change, expected] : cases) {
    std::shared_ptr<CInstallerFileStream> file;
    ASSERT_EQ(Download(server.HttpUrl("/setup.bin"), Platform::Md5Hex(bytes), "setup.tmp", file), 0);
    CInstaller installer(file, TestSigner());
    ASSERT_TRUE(installer.Save());
    const fs::path path = dir.Path() / "setup.tmp";
    ASSERT_TRUE(file->DigestOfUnchangedFile());
    EXPECT_EQ(installer.GetStatus(), kInstallerReady);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_all);
    switch (change) {
      case kNone:
        break;
      case kByte:
      case kByteSameTime: {
        const auto time = fs::last_write_time(path);
        {
          std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
          f.seekp(100);
          f.put('X');
        }
        if (change == kByteSameTime) fs::last_write_time(path, time);
        break;
      }
      case kSwapOther:
        fs::copy_file(other, dir.Path() / "swap.tmp");
        fs::rename(dir.Path() / "swap.tmp", path);
        break;
      case kSwapSameBytes:
        fs::copy_file(source, dir.Path() / "swap.tmp");
        fs::rename(dir.Path() / "swap.tmp", path);
        break;
      case kRemoved:
        fs::remove(path);
        break;
    }
    EXPECT_EQ(file->DigestOfUnchangedFile().has_value(), change == kNone) << change;
    EXPECT_EQ(installer.GetStatus(), expected) << change;
    EXPECT_EQ(installer.GetStatus(), expected) << change;
  }
}

// A transfer cut inside the held-back bytes (in the content part, the signature, the trailer)
// is resumed with a Range request, and the digests go on from the received part.
TEST_F(StreamedInstallerTest, ResumeInsideTheHeldBackTail) {
  const fs::path source = dir.Path() / "source.bin";
  const std::string bytes = SignedFile(source, Platform::CContentDigester::kHeldBack + 100000);
  for (const size_t fromEnd : {size_t{20}, size_t{300}, Platform::CContentDigester::kHeldBack - 5000}) {
    const TestSupport::DevServer server(Scenario(source, static_cast<int64_t>(bytes.size() - fromEnd)));
    std::shared_ptr<CInstallerFileStream> file;
    ASSERT_EQ(Download(server.HttpUrl("/setup.bin"), Platform::Md5Hex(bytes), "setup.tmp", file), 0) << fromEnd;
    ASSERT_EQ(server.Requests().size(), 2u) << fromEnd;
    EXPECT_FALSE(server.Requests()[1].Header("range").empty());
    const auto digest = file->DigestOfUnchangedFile();
    ASSERT_TRUE(digest);
    ASSERT_EQ(digest->state, Platform::ContentDigest::EState::Ready);
    EXPECT_EQ(digest->fileSize, bytes.size());
    EXPECT_EQ(digest->sha256, Sha256(std::string_view(bytes).substr(0, digest->contentLength))) << fromEnd;
    CInstaller installer(file, TestSigner());
    EXPECT_EQ(installer.GetStatus(), kInstallerReady) << fromEnd;
  }
}

// A digest mismatch or a transfer that keeps breaking leaves no file behind, before the
// download reports its end; a download that is badly signed but unchanged keeps today's
// "rewritten" status.
TEST_F(StreamedInstallerTest, FailedDownloadDeletesTheFileAndBadSignatureIsRejected) {
  const fs::path source = dir.Path() / "source.bin";
  const std::string bytes = SignedFile(source, 200000);
  {
    const TestSupport::DevServer server(Scenario(source));
    std::shared_ptr<CInstallerFileStream> file;
    EXPECT_EQ(Download(server.HttpUrl("/setup.bin"), std::string(32, '0'), "mismatch.tmp", file), 1);
    EXPECT_FALSE(fs::exists(dir.Path() / "mismatch.tmp"));
    CInstaller installer(file, TestSigner());
    EXPECT_FALSE(installer.Save());
    EXPECT_EQ(installer.GetStatus(), kInstallerWriteFailed);
  }
  {
    const TestSupport::DevServer server(Scenario(source, 0, "always"));
    std::shared_ptr<CInstallerFileStream> file;
    EXPECT_NE(Download(server.HttpUrl("/setup.bin"), Platform::Md5Hex(bytes), "cut.tmp", file), 0);
    EXPECT_FALSE(fs::exists(dir.Path() / "cut.tmp"));
  }
  {
    const fs::path plain = dir.Path() / "plain.bin";
    std::ofstream(plain, std::ios::binary) << std::string(5000, 'p');
    const TestSupport::DevServer server(Scenario(plain));
    std::shared_ptr<CInstallerFileStream> file;
    ASSERT_EQ(Download(server.HttpUrl("/setup.bin"), Platform::Md5Hex(std::string(5000, 'p')), "plain.tmp", file), 0);
    CInstaller installer(file, TestSigner());
    EXPECT_EQ(installer.GetStatus(), kInstallerRewritten);
    EXPECT_EQ(installer.GetStatus(), kInstallerRewritten);
  }
}

long StatusKib(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

// 1 GiB (a sparse file on the server's side) goes to disk with the process's memory bounded.
TEST_F(StreamedInstallerTest, GigabyteDownloadKeepsMemoryBounded) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed buffers resident in its quarantine";
#endif
  constexpr uint64_t kSize = uint64_t{1} << 30;
  const fs::path source = dir.Path() / "sparse.bin";
  std::ofstream{source};
  fs::resize_file(source, kSize);
  Platform::CMd5Digest md5;
  const std::vector<uint8_t> zeros(1 << 20);
  for (uint64_t done = 0; done < kSize; done += zeros.size()) md5.Update(zeros.data(), zeros.size());
  const TestSupport::DevServer server(Scenario(source));

  const long before = StatusKib("VmRSS:");
  std::shared_ptr<CInstallerFileStream> file;
  ASSERT_EQ(Download(server.HttpUrl("/setup.bin"), *md5.HexDigest(), "big.tmp", file), 0);
  const long peak = StatusKib("VmHWM:");
  EXPECT_EQ(fs::file_size(dir.Path() / "big.tmp"), kSize);
  // Generous: the old way held the whole body (1 GiB) in memory.
  EXPECT_LT(peak - before, 96 * 1024) << "peak " << peak << " KiB, before " << before << " KiB";
  fs::remove(dir.Path() / "big.tmp");
}

}  // namespace
}  // namespace CustomInstaller::Core
