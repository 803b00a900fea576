// The downloader against omk-devserver on loopback.
#include <gtest/gtest.h>

#include <boost/thread/latch.hpp>
#include <fstream>
#include <iterator>
#include <mutex>

#include "network/downloader.h"
#include "platform/md5.h"
#include "platform/text.h"
#include "tests/support/dev_server.h"
#include "tests/support/temp_dir.h"

namespace Cxx::Network::Downloader {
namespace {

using Http::HttpClient::ConnectionSettings;
using TestSupport::DevServer;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::wstring Wide(const std::string& text) { return Platform::Utf8ToWide(text); }

class Observer : public IDownloadObserver {
 public:
  void OnStarted() override { Add(-1); }
  void OnProgress(double percent) override {
    {
      std::lock_guard lock(m_mutex);
      lastPercent = percent;
      ++progressCalls;
    }
    if (progressCalls == 1) firstProgress.count_down();
  }
  void OnFinished(EDownloadStatus status) override {
    Add(status);
    finished.count_down();
  }
  // -1 for OnStarted, then the statuses given to OnFinished.
  std::vector<int> Calls() {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }
  boost::latch firstProgress{1};
  boost::latch finished{1};
  double lastPercent = -1;
  int progressCalls = 0;

 private:
  void Add(int call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(call);
  }
  std::mutex m_mutex;
  std::vector<int> m_calls;
};

class DownloaderServerTest : public testing::Test {
 protected:
  void SetUp() override {
    m_saved = Http::HttpClient::DefaultConnectionSettings();
    ConnectionSettings settings = m_saved;
    settings.caBundle = TestSupport::TestCaFile();
    settings.resumePause = std::chrono::milliseconds(10);
    Http::HttpClient::SetDefaultConnectionSettings(settings);
  }
  void TearDown() override { Http::HttpClient::SetDefaultConnectionSettings(m_saved); }

  // Downloads into memory and returns the final status.
  static int Fetch(const std::string& url, const std::string& md5, CByteBuffer& buffer, Observer& observer) {
    CDownloader downloader(Wide(url), Wide(md5));
    auto observerPtr = std::shared_ptr<Observer>(&observer, [](Observer*) {});
    downloader.Subscribe(observerPtr);
    auto target = std::shared_ptr<CByteBuffer>(&buffer, [](CByteBuffer*) {});
    EXPECT_TRUE(downloader.StartToStream(target));
    downloader.Wait();
    const auto calls = observer.Calls();
    return calls.size() == 2 && calls[0] == -1 ? calls[1] : -100;
  }

 private:
  ConnectionSettings m_saved;
};

constexpr size_t kSize = 1000000;

TEST_F(DownloaderServerTest, VerifiedBodyReachesTheBufferWhateverTheDigestCase) {
  const DevServer server(R"({"routes": [{"path": "/f.bin", "body_size": 1000000}]})", {.http = true, .https = true});
  const std::string body = TestSupport::GeneratedBody(0, kSize);
  for (const std::string& md5 : {Platform::Md5Hex(body), Upper(Platform::Md5Hex(body))}) {
    for (const std::string& url : {server.HttpUrl("/f.bin"), server.HttpsUrl("/f.bin")}) {
      CByteBuffer buffer;
      Observer observer;
      EXPECT_EQ(Fetch(url, md5, buffer, observer), kDownloadOk) << url << " " << md5;
      EXPECT_TRUE(std::string(buffer.Bytes().begin(), buffer.Bytes().end()) == body) << url;
      EXPECT_DOUBLE_EQ(observer.lastPercent, 100.0);
      EXPECT_GE(observer.progressCalls, 8);  // one per 128 KiB chunk, then 100 once more
    }
  }
  EXPECT_EQ(server.Requests().size(), 4u);
}

TEST_F(DownloaderServerTest, FailedAttemptsAreRepeatedThreeTimes) {
  const DevServer server(R"({"routes": [
    {"path": "/f.bin", "body_size": 1000000},
    {"path": "/nolength", "body": "abc", "content_length": false},
    {"path": "/err", "status": 500, "body": "x"}]})");
  const std::string md5 = Platform::Md5Hex(TestSupport::GeneratedBody(0, kSize));
  struct Case {
    std::string path;
    std::string md5;
    EDownloadStatus status;
  } const cases[] = {
      {"/f.bin", "0123456789abcdef0123456789abcdef", kDownloadDigestMismatch},
      {"/missing", md5, kDownloadClientError},
      {"/err", md5, kDownloadServerError},
      {"/nolength", Platform::Md5Hex("abc"), kDownloadReadFailed},
  };
  size_t before = 0;
  for (const Case& c : cases) {
    CByteBuffer buffer;
    Observer observer;
    EXPECT_EQ(Fetch(server.HttpUrl(c.path), c.md5, buffer, observer), c.status) << c.path;
    EXPECT_TRUE(buffer.Bytes().empty()) << c.path;  // nothing unverified reaches the caller
    const auto requests = server.Requests();
    EXPECT_EQ(requests.size() - before, 3u) << c.path;
    before = requests.size();
  }
}

TEST_F(DownloaderServerTest, RetryAfterAServerErrorSucceeds) {
  const DevServer server(R"({"routes": [
    {"path": "/f.bin", "sequence": [{"status": 503}, {"body_size": 1000000}]}]})");
  CByteBuffer buffer;
  Observer observer;
  EXPECT_EQ(Fetch(server.HttpUrl("/f.bin"), Platform::Md5Hex(TestSupport::GeneratedBody(0, kSize)), buffer, observer), kDownloadOk);
  EXPECT_EQ(buffer.Bytes().size(), kSize);
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(DownloaderServerTest, CutConnectionIsResumedWithinOneAttempt) {
  const DevServer server(R"({"routes": [
    {"path": "/f.bin", "body_size": 1000000, "cut_after": 300000, "cut_mode": "once"}]})");
  CByteBuffer buffer;
  Observer observer;
  EXPECT_EQ(Fetch(server.HttpUrl("/f.bin"), Platform::Md5Hex(TestSupport::GeneratedBody(0, kSize)), buffer, observer), kDownloadOk);
  EXPECT_EQ(buffer.Bytes().size(), kSize);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[0].HasHeader("range"));
  EXPECT_TRUE(requests[1].Header("range").starts_with("bytes=")) << requests[1].Header("range");
}

TEST_F(DownloaderServerTest, LargeBodiesAreHashedWhileTheyArrive) {
  // From 8 MiB on a second thread hashes behind the writes.
  const DevServer server(R"({"routes": [
    {"path": "/big.bin", "body_size": 9437185},
    {"path": "/cut.bin", "body_size": 9437185, "cut_after": 5000000, "cut_mode": "once"}]})");
  const std::string body = TestSupport::GeneratedBody(0, 9437185);
  const std::string md5 = Platform::Md5Hex(body);
  struct Case {
    const char* path;
    std::string md5;
    EDownloadStatus status;
  } const cases[] = {
      {"/big.bin", md5, kDownloadOk},
      {"/cut.bin", md5, kDownloadOk},
      {"/big.bin", Platform::Md5Hex(body.substr(1)), kDownloadDigestMismatch},
  };
  for (const Case& c : cases) {
    CByteBuffer buffer;
    Observer observer;
    EXPECT_EQ(Fetch(server.HttpUrl(c.path), c.md5, buffer, observer), c.status) << c.path;
    EXPECT_EQ(buffer.Bytes().size(), c.status == kDownloadOk ? body.size() : 0u) << c.path;
  }
}

TEST_F(DownloaderServerTest, CancelDuringTheTransferEndsWithCancelled) {
  // 64 KiB every 200 ms: the transfer is still waiting for data when Cancel comes.
  const DevServer server(R"({"routes": [
    {"path": "/slow.bin", "body_size": 1000000, "trickle": {"bytes": 65536, "delay_ms": 200}},
    {"path": "/slow-large.bin", "body_size": 9437185, "trickle": {"bytes": 65536, "delay_ms": 200}}]})");
  TestSupport::TempDir dir;
  const auto file = dir.Path() / "slow.bin";
  for (const bool toFile : {true, false}) {
    auto observer = std::make_shared<Observer>();
    auto buffer = std::make_shared<CByteBuffer>();
    CDownloader downloader(Wide(server.HttpUrl(toFile ? "/slow.bin" : "/slow-large.bin")),
                           L"0123456789abcdef0123456789abcdef");
    downloader.Subscribe(observer);
    ASSERT_TRUE(toFile ? downloader.StartToFile(file.wstring()) : downloader.StartToStream(buffer));
    observer->firstProgress.wait();
    downloader.Cancel();
    downloader.Wait();
    EXPECT_EQ(observer->Calls(), (std::vector<int>{-1, kDownloadCancelled}));
    EXPECT_TRUE(buffer->Bytes().empty());
  }
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_LT(std::filesystem::file_size(file), kSize);
}

TEST_F(DownloaderServerTest, StartToFileWritesAndVerifiesTheFile) {
  const DevServer server(R"({"routes": [{"path": "/f.bin", "body_size": 1000000}]})");
  const std::string body = TestSupport::GeneratedBody(0, kSize);
  TestSupport::TempDir dir;
  const auto file = dir.Path() / "sub" / "f.bin";
  {
    std::filesystem::create_directory(dir.Path() / "sub");
    std::ofstream(file) << "old content that is longer than nothing";
  }
  for (const std::string& md5 : {Upper(Platform::Md5Hex(body)), std::string("00000000000000000000000000000000")}) {
    auto observer = std::make_shared<Observer>();
    CDownloader downloader(Wide(server.HttpUrl("/f.bin")), Wide(md5));
    downloader.Subscribe(observer);
    ASSERT_TRUE(downloader.StartToFile(file.wstring()));
    downloader.Wait();
    EXPECT_EQ(observer->Calls().back(), md5[0] == '0' ? kDownloadDigestMismatch : kDownloadOk);
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == body);
  }
}

TEST_F(DownloaderServerTest, ObserverMayUnsubscribeWhileNotified) {
  const DevServer server(R"({"routes": [{"path": "/f.bin", "body_size": 1000}]})");
  CDownloader downloader(Wide(server.HttpUrl("/f.bin")), Wide(Platform::Md5Hex(TestSupport::GeneratedBody(0, 1000))));
  struct Leaving : Observer {
    CDownloader* downloader = nullptr;
    std::shared_ptr<IDownloadObserver> self;
    void OnStarted() override {
      Observer::OnStarted();
      downloader->Unsubscribe(self);
    }
  };
  auto leaving = std::make_shared<Leaving>();
  leaving->downloader = &downloader;
  leaving->self = leaving;
  auto staying = std::make_shared<Observer>();
  downloader.Subscribe(leaving);
  downloader.Subscribe(staying);
  ASSERT_TRUE(downloader.StartToStream(std::make_shared<CByteBuffer>()));
  downloader.Wait();
  leaving->self.reset();
  EXPECT_EQ(leaving->Calls(), (std::vector<int>{-1}));
  EXPECT_EQ(staying->Calls(), (std::vector<int>{-1, kDownloadOk}));
}

}  // namespace
}  // namespace Cxx::Network::Downloader
