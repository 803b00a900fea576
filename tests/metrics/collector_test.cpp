// The sender against the analytics collector of omk-devserver over HTTPS.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <boost/json/parse.hpp>

#include "metrics/google_analytics_metrics.h"
#include "tests/metrics/fakes.h"
#include "tests/support/hit_log.h"
#include "tests/support/dev_server.h"
#include "tests/support/temp_dir.h"

namespace AppMetrics {
namespace {

using Testing::CFakeClock;

using TestSupport::LoggedHit;

class CollectorTest : public ::testing::Test {
 protected:
  void StartCollector(const std::string& mode) {
    WriteMode(mode);
    const std::string scenario =
        R"({"routes": [{"kind": "collector", "method": "POST", "path": "/collect",)"
        R"( "hits_log": ")" + (dir.Path() / "hits.jsonl").string() +
        R"(", "mode_file": ")" + (dir.Path() / "mode").string() + R"("}]})";
    server = std::make_unique<TestSupport::DevServer>(scenario, TestSupport::DevServerOptions{.http = false, .https = true});
  }
  void WriteMode(const std::string& mode) { std::ofstream(dir.Path() / "mode") << mode; }

  std::shared_ptr<CGoogleAnalyticsMetrics> MakeSender(uint16_t port) {
    Cxx::Network::Http::HttpClient::ConnectionSettings settings;
    settings.caBundle = TestSupport::TestCaFile();
    const CGoogleAnalyticsConfig config("UA-1234-5", "0123456789abcdef0123456789ABCDEF",
                                        "3.10.1.2", "Quarro Omnikit", "en", "OMK",
                                        Platform::SystemVersion{true, 6, 1, true});
    auto sender = std::make_shared<CGoogleAnalyticsMetrics>(
        config, CMetricsEnvironment{clock, std::make_shared<CCollectorPoster>(L"127.0.0.1", port, settings)});
    sender->SetEnabled(true);
    return sender;
  }

  std::vector<LoggedHit> Hits() { return TestSupport::ReadHitLog(dir.Path() / "hits.jsonl"); }

  TestSupport::TempDir dir;
  std::unique_ptr<TestSupport::DevServer> server;
  std::shared_ptr<CFakeClock> clock = std::make_shared<CFakeClock>();
};

using Parameters = std::vector<std::pair<std::string, std::string>>;
const Parameters kFixed = {{"v", "1"},        {"tid", "UA-1234-5"},
                           {"cid", "01234567-89ab-cdef-0123-456789ABCDEF"},
                           {"an", "Quarro Omnikit"}, {"av", "3.10.1.2"}, {"ul", "en"}, {"ci", "OMK"}};

Parameters WithFixed(const Parameters& own) {
  Parameters all = kFixed;
  all.insert(all.end(), own.begin(), own.end());
  return all;
}

TEST_F(CollectorTest, HitsArriveInOrderOverHttpsAsSent) {
  StartCollector("ok");
  auto sender = MakeSender(server->HttpsPort());
  ASSERT_TRUE(sender->SendEvent({"InstallerStartW", "Install", "", 1}));
  ASSERT_TRUE(sender->SendException({"a&b=c d", "ID6_", 0x2EFD, 2}));
  ASSERT_TRUE(sender->WaitForPendingHits(60));
  sender.reset();  // shutdown: one session end

  const auto hits = Hits();
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].parameters, WithFixed({{"t", "event"}, {"ec", "Install"}, {"ea", "InstallerStartW"},
                                           {"ev", "1"}, {"sc", "start"}}));
  EXPECT_EQ(hits[1].parameters, WithFixed({{"t", "exception"}, {"exd", "ID6_2efd_6.1_a&b=c d"}, {"exf", "1"}}));
  EXPECT_EQ(hits[2].parameters, WithFixed({{"t", "event"}, {"ec", "SessionControl"}, {"ea", "end"}, {"sc", "end"}}));
  for (const auto& hit : hits) {
    EXPECT_EQ(hit.answer, "ok");
    EXPECT_EQ(hit.userAgent, "6.1_64bit (Linux 6.1; WOW64)");
  }
  const auto requests = server->Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_TRUE(requests[1].tls);
  EXPECT_EQ(requests[1].target, "/collect");
  EXPECT_EQ(requests[1].body,
            "v=1&tid=UA-1234-5&cid=01234567-89ab-cdef-0123-456789ABCDEF&an=Quarro Omnikit"
            "&av=3.10.1.2&ul=en&ci=OMK&t=exception&exd=ID6_2efd_6.1_a%26b%3Dc%20d&exf=1");
}

TEST_F(CollectorTest, RetriesWithGrowingPausesUntilTheCollectorRecovers) {
  StartCollector("fail");
  clock->onSleep = [this](size_t sleeps) {
    if (sleeps == 3) WriteMode("ok");
  };
  auto sender = MakeSender(server->HttpsPort());
  sender->SetAutoSessionControl(false);
  ASSERT_TRUE(sender->SendScreenView({"Main"}));
  ASSERT_TRUE(sender->WaitForPendingHits(3600));
  EXPECT_EQ(clock->Sleeps(), (std::vector<uint64_t>{30000, 40000, 50000}));

  const auto hits = Hits();
  ASSERT_EQ(hits.size(), 4u);
  const char* answers[] = {"fail", "fail", "fail", "ok"};
  for (size_t i = 0; i < hits.size(); ++i) {
    EXPECT_EQ(hits[i].answer, answers[i]);
    EXPECT_EQ(hits[i].parameters, WithFixed({{"t", "screenview"}, {"cd", "Main"}}));
  }
}

TEST_F(CollectorTest, DroppedConnectionsAreRetriedAndTheShutdownEndsTheSessionDirectly) {
  StartCollector("drop");
  auto sender = MakeSender(server->HttpsPort());
  ASSERT_TRUE(sender->SendEvent({"A", "C", "", -1}));
  sender.reset();

  const auto hits = Hits();
  ASSERT_GE(hits.size(), 2u);
  // Each queued attempt was followed by a pause, but the last one may have been cut short by
  // the shutdown before its pause began.
  const size_t sleeps = clock->Sleeps().size();
  EXPECT_GE(sleeps + 2, hits.size());
  EXPECT_LE(sleeps + 1, hits.size());
  for (size_t i = 0; i + 1 < hits.size(); ++i) {
    EXPECT_EQ(hits[i].parameters, WithFixed({{"t", "event"}, {"ec", "C"}, {"ea", "A"}, {"sc", "start"}}));
  }
  EXPECT_EQ(hits.back().parameters,
            WithFixed({{"t", "event"}, {"ec", "SessionControl"}, {"ea", "end"}, {"sc", "end"}}));
}

// The shutdown ends with its 20-second drain however the collector fails: a retry pause (the
// first one here lasts until it is interrupted) and a request that is never answered are both
// cut short, and the session end is tried once more directly.
TEST_F(CollectorTest, TheShutdownEndsWithTheDrainWhenTheCollectorDropsOrHangs) {
  for (const std::string mode : {"drop", "hang"}) {
    SCOPED_TRACE(mode);
    clock = std::make_shared<CFakeClock>(/*holdAt=*/1);
    const uint64_t drain = uint64_t{CGoogleAnalyticsMetrics::kDrainLimitSeconds} * 1000;
    // The drain's 20 seconds pass; a direct attempt that hangs runs out of its time too.
    clock->onWait = [clock = clock.get(), drain, hang = mode == "hang"](size_t wait) {
      if (wait == 1) clock->Advance(drain);
      if (wait == 2 && hang) clock->Advance(CGoogleAnalyticsMetrics::kDirectAttemptLimit);
    };
    StartCollector(mode);
    auto sender = MakeSender(server->HttpsPort());
    ASSERT_TRUE(sender->SendEvent({"A", "C", "", -1}));
    if (mode == "drop") {
      ASSERT_TRUE(clock->held.Wait());  // in the first retry pause
    }
    ASSERT_TRUE(Testing::ShutDown(std::move(sender))) << "the shutdown waits for the collector";
    server->Stop();
    if (mode == "drop") {
      EXPECT_EQ(clock->Sleeps(), std::vector<uint64_t>{30000});
      const auto hits = Hits();
      ASSERT_EQ(hits.size(), 2u);
      EXPECT_EQ(hits[1].parameters,
                WithFixed({{"t", "event"}, {"ec", "SessionControl"}, {"ea", "end"}, {"sc", "end"}}));
    } else {
      EXPECT_TRUE(clock->Sleeps().empty());  // the request was never answered: no pause began
    }
  }
}

TEST_F(CollectorTest, ARefusedConnectionIsAFailedAttempt) {
  StartCollector("ok");
  const uint16_t port = server->HttpsPort();
  server->Stop();  // nothing listens on the port any more
  auto sender = MakeSender(port);
  sender->SetAutoSessionControl(false);
  ASSERT_TRUE(sender->SendEvent({"A", "C", "", -1}));
  EXPECT_FALSE(sender->WaitForPendingHits(60));  // 30 + 40 seconds of pauses pass first
  sender.reset();
  const auto sleeps = clock->Sleeps();
  ASSERT_GE(sleeps.size(), 2u);
  EXPECT_EQ(sleeps[0], 30000u);
  EXPECT_EQ(sleeps[1], 40000u);
}

}  // namespace
}  // namespace AppMetrics
