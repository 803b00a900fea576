#include "metrics/google_analytics_metrics.h"

#include <gtest/gtest.h>

#include <boost/thread/latch.hpp>
#include <functional>
#include <thread>

#include "tests/support/event.h"

#include "metrics/app_metrics.h"
#include "metrics/hit_queue.h"
#include "network/exceptions.h"
#include "tests/metrics/fakes.h"

namespace AppMetrics {
namespace {

using Testing::CFakeClock;
using Testing::CRecordingPoster;
using Testing::ShutDown;

const Platform::SystemVersion kSystem{true, 10, 0, true};
const std::string kFixed =
    "v=1&tid=UA-1234-5&cid=01234567-89ab-cdef-0123-456789ABCDEF&an=Quarro Omnikit"
    "&av=3.10.1.2&ul=en&ci=OMK";

CGoogleAnalyticsConfig TestConfig() {
  return CGoogleAnalyticsConfig("UA-1234-5", "0123456789abcdef0123456789ABCDEF", "3.10.1.2",
                                "Quarro Omnikit", "en", "OMK", kSystem);
}

class DispatchTest : public ::testing::Test {
 protected:
  std::shared_ptr<CGoogleAnalyticsMetrics> MakeSender(bool autoSession = true, bool enabled = true) {
    auto sender = std::make_shared<CGoogleAnalyticsMetrics>(TestConfig(),
                                                            CMetricsEnvironment{clock, poster});
    sender->SetAutoSessionControl(autoSession);
    sender->SetEnabled(enabled);
    return sender;
  }
  std::vector<std::string> Bodies() {
    std::vector<std::string> bodies;
    for (const auto& hit : poster->Posted()) bodies.push_back(hit.body);
    return bodies;
  }

  std::shared_ptr<CFakeClock> clock = std::make_shared<CFakeClock>();
  std::shared_ptr<CRecordingPoster> poster = std::make_shared<CRecordingPoster>();
};

TEST_F(DispatchTest, EveryHitKindByteForByte) {
  auto sender = MakeSender(/*autoSession=*/false);
  ASSERT_TRUE(sender->SendEvent({"Act", "Cat", "", -1}));
  ASSERT_TRUE(sender->SendEvent({"Act", "Cat", "Screen", 0}));
  ASSERT_TRUE(sender->SendEvent({"Act", "Cat", "", -5}));
  ASSERT_TRUE(sender->SendScreenView({"Main"}));
  ASSERT_TRUE(sender->SendTiming({"Var", "Cat", 250, {}}));
  ASSERT_TRUE(sender->SendException({"", "ID6_", 0x2EFD, 2}));
  ASSERT_TRUE(sender->StartSession());
  ASSERT_TRUE(sender->EndSession());
  ASSERT_TRUE(sender->SendApplicationStartType(AST_Manual));
  ASSERT_TRUE(sender->SendBuildId({"1234"}));
  ASSERT_TRUE(sender->SendCurrentLocale(L"de-DE"));
  ASSERT_TRUE(sender->SendDaysSinceInstall(10));
  ASSERT_TRUE(sender->WaitForPendingHits(60));
  ASSERT_TRUE(sender->SetUserLanguage("fr"));
  ASSERT_TRUE(sender->SendScreenView({"After"}));
  ASSERT_TRUE(sender->WaitForPendingHits(60));

  const std::string fixedFr = kFixed.substr(0, kFixed.find("&ul=en")) + "&ul=fr&ci=OMK";
  const std::vector<std::string> expected = {
      kFixed + "&t=event&ec=Cat&ea=Act",
      kFixed + "&t=event&ec=Cat&ea=Act&ev=0&cd=Screen",
      kFixed + "&t=event&ec=Cat&ea=Act&ev=-5",
      kFixed + "&t=screenview&cd=Main",
      kFixed + "&t=timing&utc=Cat&utv=Var&utt=250",
      kFixed + "&t=exception&exd=ID6_2efd_10.0&exf=1",
      kFixed + "&t=event&ec=SessionControl&ea=start&sc=start",
      kFixed + "&t=event&ec=SessionControl&ea=end&sc=end",
      kFixed + "&t=event&ec=General&ea=ApplicationStartType&cd4=AST_Manual",
      kFixed + "&t=event&ec=General&ea=BuildId&cd3=1234",
      kFixed + "&t=event&ec=General&ea=CurrentLocale&cd2=de-DE",
      kFixed + "&t=event&ec=Install&ea=DaysSinceInstall&cd5=8-14",
      fixedFr + "&t=screenview&cd=After",
  };
  EXPECT_EQ(Bodies(), expected);
  EXPECT_EQ(poster->Posted().front().userAgent, L"10.0_64bit (Linux 10.0; WOW64)");
}

TEST_F(DispatchTest, RefusedRecordsAndDisabledSender) {
  auto sender = MakeSender(false, /*enabled=*/false);
  EXPECT_FALSE(sender->SendEvent({"Act", "Cat", "", -1}));
  EXPECT_FALSE(sender->StartSession());
  EXPECT_FALSE(sender->SetEnabled(true));  // previous value
  EXPECT_TRUE(sender->SetEnabled(true));

  EXPECT_FALSE(sender->SendEvent({"", "Cat", "", -1}));
  EXPECT_FALSE(sender->SendEvent({"Act", "", "", -1}));
  EXPECT_FALSE(sender->SendScreenView({""}));
  EXPECT_FALSE(sender->SendTiming({"", "Cat", 1, {}}));
  EXPECT_FALSE(sender->SendTiming({"Var", "", 1, {}}));
  EXPECT_FALSE(sender->SendTiming({"Var", "Cat", -1, {}}));
  EXPECT_FALSE(sender->SendBuildId({""}));
  EXPECT_FALSE(sender->SendCurrentLocale(L""));
  EXPECT_FALSE(sender->SetUserLanguage(""));
  EXPECT_FALSE(sender->SendException({"", "ID", 0, 3}));  // a crash needs its details
  EXPECT_EQ(sender->CreateTiming({"", "Cat", 0, {}}), nullptr);
  EXPECT_EQ(sender->CreateTiming({"Var", "Cat", -1, {}}), nullptr);
  EXPECT_TRUE(sender->WaitForPendingHits(60));
  EXPECT_EQ(poster->Count(), 0u);
}

TEST_F(DispatchTest, SessionBudgetMarksFirstAndLastHitAndDropsTheRest) {
  auto sender = MakeSender();
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(sender->SendEvent({"A", "C", "", i}));
  ASSERT_TRUE(sender->EndSession());  // refused by the exhausted budget, like any other hit
  ASSERT_TRUE(sender->WaitForPendingHits(3600));

  const auto bodies = Bodies();
  ASSERT_EQ(bodies.size(), 497u);
  EXPECT_EQ(bodies[0], kFixed + "&t=event&ec=C&ea=A&ev=0&sc=start");
  EXPECT_EQ(bodies[1], kFixed + "&t=event&ec=C&ea=A&ev=1");
  EXPECT_EQ(bodies[496], kFixed + "&t=event&ec=C&ea=A&ev=496&sc=end");
  for (size_t i = 1; i < 496; ++i) ASSERT_EQ(bodies[i].find("sc="), std::string::npos) << i;
  // 60 at once, then one per 2 seconds.
  EXPECT_EQ(clock->Sleeps(), std::vector<uint64_t>(437, 2000));
  EXPECT_FALSE(IsSessionOpen());  // the refused session end still marks it closed
}

TEST_F(DispatchTest, WithoutAutomaticSessionControlTheFirstHitOpensNothing) {
  auto sender = MakeSender(/*autoSession=*/false);
  SetSessionOpen(false);
  ASSERT_TRUE(sender->SendEvent({"A", "C", "", -1}));
  ASSERT_TRUE(sender->WaitForPendingHits(60));
  EXPECT_EQ(Bodies(), std::vector<std::string>{kFixed + "&t=event&ec=C&ea=A"});
  EXPECT_FALSE(IsSessionOpen());
}

TEST_F(DispatchTest, AnEndSessionHitRenewsTheBudget) {
  auto sender = MakeSender();
  for (int i = 0; i < 70; ++i) ASSERT_TRUE(sender->SendEvent({"A", "C", "", i}));
  ASSERT_TRUE(sender->EndSession());
  ASSERT_TRUE(sender->WaitForPendingHits(3600));
  EXPECT_FALSE(IsSessionOpen());
  clock->ClearSleeps();
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(sender->SendEvent({"B", "C", "", i}));
  ASSERT_TRUE(sender->WaitForPendingHits(3600));

  const auto bodies = Bodies();
  ASSERT_EQ(bodies.size(), 131u);
  EXPECT_EQ(bodies[70], kFixed + "&t=event&ec=SessionControl&ea=end&sc=end");
  EXPECT_EQ(bodies[71], kFixed + "&t=event&ec=C&ea=B&ev=0&sc=start");
  EXPECT_TRUE(clock->Sleeps().empty());  // a fresh burst of 60
  EXPECT_TRUE(IsSessionOpen());
}

TEST_F(DispatchTest, RetryPausesGrowToTenMinutesUntilTheCollectorRecovers) {
  poster->answer = [](size_t attempt) { return attempt >= 60; };
  auto sender = MakeSender(false);
  ASSERT_TRUE(sender->SendEvent({"A", "C", "", -1}));
  ASSERT_TRUE(sender->WaitForPendingHits(365 * 24 * 3600));

  std::vector<uint64_t> expected;
  for (uint64_t pause = 30000; expected.size() < 60; pause = std::min<uint64_t>(pause + 10000, 600000)) {
    expected.push_back(pause);
  }
  EXPECT_EQ(expected[57], 600000u);
  EXPECT_EQ(expected[58], 600000u);
  EXPECT_EQ(clock->Sleeps(), expected);
  const auto bodies = Bodies();
  ASSERT_EQ(bodies.size(), 61u);
  for (const auto& body : bodies) EXPECT_EQ(body, bodies.front());  // the same hit each time
}

TEST_F(DispatchTest, ErrorsOfTheClientCountAsFailedAttempts) {
  poster->answer = [](size_t attempt) -> bool {
    if (attempt == 0) throw Cxx::Network::Exception::NetworkExceptionPtr();
    if (attempt == 1) throw std::runtime_error("transport");
    return true;
  };
  auto sender = MakeSender(false);
  ASSERT_TRUE(sender->SendEvent({"A", "C", "", -1}));
  ASSERT_TRUE(sender->WaitForPendingHits(3600));
  EXPECT_EQ(poster->Count(), 3u);
  EXPECT_EQ(clock->Sleeps(), (std::vector<uint64_t>{30000, 40000}));
}

TEST_F(DispatchTest, FullQueueDropsTheTaskButTheSubmissionSucceeds) {
  boost::latch entered(1);
  boost::latch release(1);
  poster->answer = [&](size_t attempt) {
    if (attempt == 0) {
      entered.count_down();
      release.wait();
    }
    return true;
  };
  auto sender = MakeSender(false);
  ASSERT_TRUE(sender->SendEvent({"First", "C", "", -1}));
  entered.wait();  // the worker holds the first hit; the queue is empty
  // Session-end hits renew the budget, so every queued one is sent.
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(sender->EndSession()) << i;
  EXPECT_TRUE(sender->SendEvent({"Dropped", "C", "", -1}));
  EXPECT_FALSE(sender->WaitForPendingHits(0));  // busy: false at once
  release.count_down();
  ASSERT_TRUE(sender->WaitForPendingHits(3600));
  EXPECT_EQ(poster->Count(), 5001u);
  for (const auto& body : Bodies()) ASSERT_EQ(body.find("Dropped"), std::string::npos);
}

TEST(HitQueueTest, RunsInOrderAndDropsBeyondCapacity) {
  auto clock = std::make_shared<CFakeClock>();
  boost::latch entered(1);
  boost::latch release(1);
  std::vector<int> ran;
  {
    CHitQueue queue(clock, 3);
    ASSERT_TRUE(queue.Push([&] {
      entered.count_down();
      release.wait();
      ran.push_back(0);
    }));
    entered.wait();
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(queue.Push([&ran, i] { ran.push_back(i); }));
    EXPECT_FALSE(queue.Push([&] { ran.push_back(4); }));
    EXPECT_FALSE(queue.WaitIdle(clock->NowMilliseconds()));
    release.count_down();
    EXPECT_TRUE(queue.WaitIdle(clock->NowMilliseconds() + 1));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3}));
    queue.Discard();
    EXPECT_FALSE(queue.Push([&] { ran.push_back(5); }));
  }
  EXPECT_EQ(ran.size(), 4u);
}

TEST_F(DispatchTest, WaitForPendingHitsOnAnIdleSender) {
  auto sender = MakeSender();
  EXPECT_TRUE(sender->WaitForPendingHits(0));
}

TEST_F(DispatchTest, DisablingQueuesTheSessionEndFirst) {
  auto sender = MakeSender(false);
  EXPECT_TRUE(sender->SetEnabled(false));
  EXPECT_FALSE(sender->SendEvent({"A", "C", "", -1}));
  ASSERT_TRUE(sender->WaitForPendingHits(60));
  EXPECT_EQ(Bodies(), std::vector<std::string>{kFixed + "&t=event&ec=SessionControl&ea=end&sc=end"});
  EXPECT_FALSE(sender->SetEnabled(false));
  ASSERT_TRUE(sender->WaitForPendingHits(60));
  EXPECT_EQ(poster->Count(), 1u);  // nothing more while disabled
}

TEST_F(DispatchTest, ShutdownWithAnIdleQueueSendsOneQueuedSessionEnd) {
  const auto test = std::this_thread::get_id();
  MakeSender().reset();
  const auto posted = poster->Posted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].body, kFixed + "&t=event&ec=SessionControl&ea=end&sc=end");
  EXPECT_NE(posted[0].thread, test);  // sent by the worker
  EXPECT_TRUE(clock->Sleeps().empty());
}

TEST_F(DispatchTest, ShutdownWithoutAutomaticSessionControlSendsNothing) {
  MakeSender(false).reset();
  EXPECT_EQ(poster->Count(), 0u);
}

TEST_F(DispatchTest, ShutdownWithTheCollectorDownGivesUpAndSendsTheEndOnceDirectly) {
  poster->answer = [](size_t) { return false; };
  const auto test = std::this_thread::get_id();
  auto sender = MakeSender();
  ASSERT_TRUE(sender->SendEvent({"A", "C", "", -1}));
  ASSERT_TRUE(sender->SendEvent({"B", "C", "", -1}));
  sender.reset();

  const auto posted = poster->Posted();
  ASSERT_GE(posted.size(), 2u);
  // The first hit was retried until the drain's 20 seconds had passed; each failed attempt of
  // the worker was followed by its pause, and the abort stopped it after the pause.
  const size_t queuedAttempts = posted.size() - 1;
  const auto sleeps = clock->Sleeps();
  ASSERT_EQ(sleeps.size(), queuedAttempts);
  for (size_t i = 0; i < queuedAttempts; ++i) {
    EXPECT_EQ(posted[i].body, kFixed + "&t=event&ec=C&ea=A&sc=start");
    EXPECT_NE(posted[i].thread, test);
    EXPECT_EQ(sleeps[i], std::min<uint64_t>(30000 + 10000 * i, 600000));
  }
  // The queued "B" and session end were dropped; one direct attempt of the end, no pause.
  EXPECT_EQ(posted.back().body, kFixed + "&t=event&ec=SessionControl&ea=end&sc=end");
}


TEST_F(DispatchTest, ShutdownCutsTheRetryPauseShortAndEndsWithTheDrain) {
  clock = std::make_shared<CFakeClock>(/*holdAt=*/1);  // the first pause lasts until interrupted
  const uint64_t drain = uint64_t{CGoogleAnalyticsMetrics::kDrainLimitSeconds} * 1000;
  clock->onWait = [this, drain](size_t wait) {
    if (wait == 1) clock->Advance(drain);  // the drain's wait: its 20 seconds pass
  };
  poster->answer = [](size_t) { return false; };
  auto sender = MakeSender();
  ASSERT_TRUE(sender->SendEvent({"A", "C", "", -1}));
  ASSERT_TRUE(clock->held.Wait());
  const uint64_t start = clock->NowMilliseconds();
  ASSERT_TRUE(ShutDown(std::move(sender))) << "the shutdown waited for the whole pause";

  EXPECT_EQ(clock->Sleeps(), std::vector<uint64_t>{30000});
  EXPECT_EQ(clock->NowMilliseconds() - start, drain);
  EXPECT_EQ(Bodies(), (std::vector<std::string>{kFixed + "&t=event&ec=C&ea=A&sc=start",
                                                kFixed + "&t=event&ec=SessionControl&ea=end&sc=end"}));
}

TEST_F(DispatchTest, ASessionControlHitCarriesOnlyItsOwnSessionValue) {
  struct Case {
    const char* name;
    std::function<void(CGoogleAnalyticsMetrics&)> send;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"start", [](CGoogleAnalyticsMetrics& s) { s.StartSession(); },
       kFixed + "&t=event&ec=SessionControl&ea=start&sc=start"},
      {"end", [](CGoogleAnalyticsMetrics& s) { s.EndSession(); },
       kFixed + "&t=event&ec=SessionControl&ea=end&sc=end"},
  };
  for (const auto& c : cases) {
    poster = std::make_shared<CRecordingPoster>();
    auto sender = MakeSender(/*autoSession=*/true);  // the first hit of a fresh budget
    c.send(*sender);
    ASSERT_TRUE(sender->WaitForPendingHits(60));
    EXPECT_EQ(Bodies(), std::vector<std::string>{c.body}) << c.name;
    sender->SetAutoSessionControl(false);
  }
}

TEST_F(DispatchTest, CrashIsSentAtOnceWithOneAttempt) {
  poster->answer = [](size_t) { return false; };
  const auto test = std::this_thread::get_id();
  auto sender = MakeSender(/*autoSession=*/true);
  ASSERT_TRUE(sender->SendException({"  at x.Main(int)\n  at x.Start(void)", "CR", 0, 3}));
  const auto posted = poster->Posted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_NE(posted[0].thread, test);
  // Its own session end, not the fresh budget's start as well.
  EXPECT_TRUE(posted[0].body.ends_with("&t=exception&exd=CR_10.0_omk_metrics_tests_Main-Start&exf=1&sc=end"))
      << posted[0].body;
  EXPECT_TRUE(clock->Sleeps().empty());
  sender->SetAutoSessionControl(false);
}

// A collector that never answers holds neither the crash report nor the hits queued before it:
// the crashing thread is free again after the attempt's 2 seconds and the drain's 2.
TEST_F(DispatchTest, CrashReportIsBoundedWhenTheCollectorHangs) {
  poster->answer = [](size_t) -> bool {
    boost::this_thread::sleep_for(boost::chrono::hours(1));  // ends only by interruption
    return true;
  };
  clock->onWait = [this](size_t) { clock->Advance(2000); };  // each bounded wait runs out
  auto sender = MakeSender(/*autoSession=*/false);
  ASSERT_TRUE(sender->SendEvent({"Queued", "C", "", -1}));
  const uint64_t start = clock->NowMilliseconds();
  ASSERT_TRUE(sender->SendException({"at x.Main(int)", "CR", 0, 3}));
  EXPECT_EQ(clock->NowMilliseconds() - start,
            CGoogleAnalyticsMetrics::kCrashAttemptLimit + CGoogleAnalyticsMetrics::kCrashDrainSeconds * 1000);
  EXPECT_TRUE(clock->Sleeps().empty());
  sender.reset();
}

TEST_F(DispatchTest, TimingsMeasureFromTheirStartAndCanBeSentAgain) {
  auto sender = MakeSender(false);
  auto timing = sender->CreateTiming({"Download", "Install", 0, {}});
  ASSERT_NE(timing, nullptr);
  clock->Advance(2500);
  timing->SendElapsedMilliseconds();
  timing->SendElapsedSeconds();
  auto early = sender->CreateTiming(
      {"Early", "Install", 0, clock->UtcNow() - boost::posix_time::seconds(90)});
  early->SendElapsedSeconds();
  ASSERT_TRUE(sender->WaitForPendingHits(60));
  EXPECT_EQ(Bodies(), (std::vector<std::string>{
                          kFixed + "&t=timing&utc=Install&utv=Download&utt=2500",
                          kFixed + "&t=timing&utc=Install&utv=Download&utt=2",
                          kFixed + "&t=timing&utc=Install&utv=Early&utt=90",
                      }));
  sender.reset();
  timing->SendElapsedSeconds();  // the sender is gone: nothing happens
}

TEST(AppMetricsTest, FunctionsDoNothingWithoutASenderAndTheSenderIsMadeOnce) {
  EXPECT_FALSE(SendEvent({"A", "C", "", -1}));
  EXPECT_EQ(CreateTiming({"V", "C", 0, {}}), nullptr);
  EXPECT_TRUE(WaitForPendingHits(0));

  auto poster = std::make_shared<CRecordingPoster>();
  auto clock = std::make_shared<CFakeClock>();
  const CGoogleAnalyticsConfig invalid("UA-1-1", "xyz", "1", "App", "en", "OMK", kSystem);
  EXPECT_FALSE(CreateGoogleAnalyticsMetrics(invalid, {clock, poster}));
  EXPECT_FALSE(SetEnabled(true));
  ASSERT_TRUE(CreateGoogleAnalyticsMetrics(TestConfig(), {clock, poster}));
  const auto first = GetGoogleAnalyticsMetrics();
  const CGoogleAnalyticsConfig other("UA-9-9", "0123456789abcdef0123456789ABCDEF", "1", "App",
                                     "en", "OMK", kSystem);
  EXPECT_TRUE(CreateGoogleAnalyticsMetrics(other, {clock, poster}));
  EXPECT_EQ(GetGoogleAnalyticsMetrics(), first);

  SetAutoSessionControl(false);
  EXPECT_FALSE(SetEnabled(true));
  EXPECT_TRUE(SendEvent({"A", "C", "", -1}));
  EXPECT_TRUE(SendScreenView({"S"}));
  EXPECT_TRUE(WaitForPendingHits(60));
  EXPECT_EQ(poster->Count(), 2u);
  DestroyGoogleAnalyticsMetrics();
  EXPECT_FALSE(SendEvent({"A", "C", "", -1}));
}

}  // namespace
}  // namespace AppMetrics
