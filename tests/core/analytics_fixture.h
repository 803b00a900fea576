#pragma once
// The process-wide analytics sender of one test, delivering to a recording collector on a
// simulated clock; the hits it sent as bodies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metrics/app_metrics.h"
#include "metrics/hits.h"
#include "tests/metrics/fakes.h"

namespace CustomInstaller::Testing {

class RecordedAnalyticsTest : public ::testing::Test {
 protected:
  RecordedAnalyticsTest() { Restart(); }

  // A new sender with nothing recorded yet.
  void Restart() {
    AppMetrics::DestroyGoogleAnalyticsMetrics();
    poster = std::make_shared<AppMetrics::Testing::CRecordingPoster>();
    const AppMetrics::CGoogleAnalyticsConfig config("UA-1234-5", "0123456789abcdef0123456789abcdef",
                                                    "3.10.1.2", "Quarro Omnikit", "en", "OMK",
                                                    Platform::SystemVersion{true, 6, 1, true});
    AppMetrics::CreateGoogleAnalyticsMetrics(config, {clock, poster});
    AppMetrics::SetAutoSessionControl(false);
    AppMetrics::SetEnabled(true);
  }
  ~RecordedAnalyticsTest() override {
    AppMetrics::DestroyGoogleAnalyticsMetrics();
    AppMetrics::SetSessionOpen(false);
  }

  // The part of each delivered hit after the fixed parameters ("t=event&ec=...").
  std::vector<std::string> Hits() {
    EXPECT_TRUE(AppMetrics::WaitForPendingHits(60));
    std::vector<std::string> hits;
    for (const auto& hit : poster->Posted()) hits.push_back(hit.body.substr(hit.body.find("&t=") + 1));
    return hits;
  }

  std::shared_ptr<AppMetrics::Testing::CFakeClock> clock = std::make_shared<AppMetrics::Testing::CFakeClock>();
  std::shared_ptr<AppMetrics::Testing::CRecordingPoster> poster =
      std::make_shared<AppMetrics::Testing::CRecordingPoster>();
};

}  // namespace CustomInstaller::Testing
