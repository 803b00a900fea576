// Downloader behaviour that needs no server: the status table, the percent formula, the
// digest, the start refusals and the URLs that end before any traffic.
#include "network/downloader.h"

#include <gtest/gtest.h>

#include <boost/thread/latch.hpp>
#include <mutex>

#include "network/exceptions.h"
#include "platform/md5.h"
#include "tests/support/temp_dir.h"

namespace Cxx::Network::Downloader {
namespace {

using Exception::CCurlNetworkException;
using Exception::CNetworkException;

// Records the notifications; Finished() waits for OnFinished.
class RecordingObserver : public IDownloadObserver {
 public:
  void OnStarted() override { Add("started"); }
  void OnProgress(double) override { Add("progress"); }
  void OnFinished(EDownloadStatus status) override {
    Add("finished " + std::to_string(status));
    finished.count_down();
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(m_mutex);
    return m_events;
  }
  boost::latch finished{1};

 private:
  void Add(std::string event) {
    std::lock_guard lock(m_mutex);
    m_events.push_back(std::move(event));
  }
  std::mutex m_mutex;
  std::vector<std::string> m_events;
};

TEST(DownloaderStatusTest, ExceptionsMapToStatuses) {
  struct Case {
    int32_t kind;  // -1: a plain CNetworkException (kind 5)
    uint32_t curlCode;
    int32_t errorCode;
    EDownloadStatus status;
  };
  const Case cases[] = {
      {0, 28, 3, kDownloadTimeout},          // CURLE_OPERATION_TIMEDOUT
      {1, 7, 3, kDownloadRequestFailed},     // CURLE_COULDNT_CONNECT
      {2, 6, 3, kDownloadUnreachable},       // CURLE_COULDNT_RESOLVE_HOST
      {2, 56, 4, kDownloadUnreachable},      // CURLE_RECV_ERROR
      {3, 27, 3, kDownloadInternalError},    // CURLE_OUT_OF_MEMORY
      {4, 3, 3, kDownloadInvalidUrl},        // CURLE_URL_MALFORMAT
      {-1, 0, 0, kDownloadInvalidUrl},
      {-1, 0, 1, kDownloadInvalidUrl},
      {-1, 0, 2, kDownloadUnreachable},
      {-1, 0, 3, kDownloadRequestFailed},
      {-1, 0, 6, kDownloadRequestFailed},
      {-1, 0, 4, kDownloadReadFailed},
      {-1, 0, 5, kDownloadReadFailed},
      {-1, 0, 7, kDownloadClientError},
      {-1, 0, 8, kDownloadServerError},
      {-1, 0, 9, kDownloadOtherStatus},
      {-1, 0, 10, kDownloadOtherFailure},
      {5, 60, 4, kDownloadReadFailed},       // CURLE_PEER_FAILED_VERIFICATION: kind 5
  };
  for (const Case& c : cases) {
    if (c.kind < 0) {
      EXPECT_EQ(StatusFromException(CNetworkException(c.errorCode, "x")), c.status) << c.errorCode;
    } else {
      const CCurlNetworkException e(c.errorCode, "x", c.curlCode);
      ASSERT_EQ(e.GetErrorKind(), c.kind) << c.curlCode;
      EXPECT_EQ(StatusFromException(e), c.status) << c.curlCode;
    }
  }
}

TEST(DownloaderStatusTest, ProgressPercent) {
  EXPECT_DOUBLE_EQ(ProgressPercent(0, 1000), 0.0);
  EXPECT_DOUBLE_EQ(ProgressPercent(500, 1000), 50.0);
  EXPECT_DOUBLE_EQ(ProgressPercent(131072, 262144), 50.0);
  EXPECT_DOUBLE_EQ(ProgressPercent(268435456, 268435456), 100.0);
  EXPECT_DOUBLE_EQ(ProgressPercent(uint64_t{9} << 29, int64_t{5} << 30), 90.0);  // 4.5 of 5 GiB
}

TEST(Md5DigestTest, KnownDigestsFedInPieces) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
  };
  for (const auto& [text, hex] : cases) {
    Platform::CMd5Digest digest;
    ASSERT_TRUE(digest.Ready());
    for (size_t i = 0; i < text.size(); i += 7) ASSERT_TRUE(digest.Update(text.data() + i, std::min<size_t>(7, text.size() - i)));
    EXPECT_EQ(digest.HexDigest(), hex);
  }
}

TEST(ByteBufferTest, TakeOverMovesIntoAnEmptyBufferAndAppendsOtherwise) {
  CByteBuffer buffer;
  std::vector<uint8_t> body{1, 2, 3};
  const uint8_t* storage = body.data();
  ASSERT_TRUE(buffer.TakeOver(std::move(body)));
  EXPECT_EQ(buffer.Bytes().data(), storage);
  ASSERT_TRUE(buffer.TakeOver(std::vector<uint8_t>{4}));
  EXPECT_EQ(buffer.Bytes(), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(DownloaderTest, FactoryNeedsUrlAndMd5) {
  EXPECT_NE(CreateDownloader(L"http://127.0.0.1/f", L"00"), nullptr);
  EXPECT_EQ(CreateDownloader(L"", L"00"), nullptr);
  EXPECT_EQ(CreateDownloader(L"http://127.0.0.1/f", L""), nullptr);
}

TEST(DownloaderTest, StartRefusals) {
  TestSupport::TempDir dir;
  auto observer = std::make_shared<RecordingObserver>();
  CDownloader bad(L"http://:80/f", L"00");
  bad.Subscribe(observer);
  EXPECT_FALSE(bad.StartToStream(std::make_shared<CByteBuffer>()));
  EXPECT_FALSE(bad.StartToFile((dir.Path() / "f.bin").wstring()));

  CDownloader good(L"http://127.0.0.1:1/f", L"00");
  good.Subscribe(observer);
  EXPECT_FALSE(good.StartToStream(nullptr));
  EXPECT_FALSE(good.StartToFile(L"no-folder.bin"));
  EXPECT_FALSE(good.StartToFile((dir.Path() / "a" / "b" / "f.bin").wstring()));  // one level only
  EXPECT_TRUE(observer->Events().empty());
}

TEST(DownloaderTest, UrlsThatParseButCannotBeRequestedEndWithInvalidUrl) {
  // They parse, so the download starts, but no request can be made of them.
  for (const wchar_t* url : {L"http://bad^host/f.bin", L"ftp://127.0.0.1/f.bin"}) {
    auto observer = std::make_shared<RecordingObserver>();
    auto buffer = std::make_shared<CByteBuffer>();
    CDownloader downloader(url, L"d41d8cd98f00b204e9800998ecf8427e");
    downloader.Subscribe(observer);
    ASSERT_TRUE(downloader.StartToStream(buffer)) << url;
    observer->finished.wait();
    downloader.Wait();
    EXPECT_EQ(observer->Events(), (std::vector<std::string>{"started", "finished 8"})) << url;
    EXPECT_TRUE(buffer->Bytes().empty());
  }
}

TEST(DownloaderTest, FolderOfTheTargetFileIsCreated) {
  TestSupport::TempDir dir;
  auto observer = std::make_shared<RecordingObserver>();
  CDownloader downloader(L"ftp://127.0.0.1/f.bin", L"00");
  downloader.Subscribe(observer);
  ASSERT_TRUE(downloader.StartToFile((dir.Path() / "new" / "f.bin").wstring()));
  downloader.Wait();
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "new"));
  EXPECT_EQ(observer->Events().back(), "finished 8");
}

TEST(DownloaderTest, ExpiredAndUnsubscribedObserversAreSkipped) {
  auto kept = std::make_shared<RecordingObserver>();
  auto dropped = std::make_shared<RecordingObserver>();
  auto expired = std::make_shared<RecordingObserver>();
  CDownloader downloader(L"ftp://127.0.0.1/f.bin", L"00");
  downloader.Subscribe(kept);
  downloader.Subscribe(kept);  // once only
  downloader.Subscribe(dropped);
  downloader.Subscribe(expired);
  downloader.Unsubscribe(dropped);
  expired.reset();
  ASSERT_TRUE(downloader.StartToStream(std::make_shared<CByteBuffer>()));
  downloader.Wait();
  EXPECT_EQ(kept->Events(), (std::vector<std::string>{"started", "finished 8"}));
  EXPECT_TRUE(dropped->Events().empty());
}

}  // namespace
}  // namespace Cxx::Network::Downloader
