#include "app/startup_analytics.h"

#include <gtest/gtest.h>

#include "metrics/app_metrics.h"
#include "tests/metrics/fakes.h"

namespace CustomInstaller {
namespace {

TEST(StartupAnalyticsTest, ForwardsToTheProcessWideSenderOnceThereIsOne) {
  CMetricsStartupAnalytics analytics;
  analytics.SendEvent(L"InstallerStartW", L"Install", L"", 1);  // no sender yet: nothing

  auto poster = std::make_shared<AppMetrics::Testing::CRecordingPoster>();
  const AppMetrics::CGoogleAnalyticsConfig config("UA-1-1", "0123456789abcdef0123456789abcdef",
                                                  "3.10.1.2", "Quarro Omnikit", "de", "OMK",
                                                  {true, 6, 1, true});
  ASSERT_TRUE(AppMetrics::CreateGoogleAnalyticsMetrics(
      config, {std::make_shared<AppMetrics::Testing::CFakeClock>(), poster}));
  AppMetrics::SetEnabled(true);
  analytics.SetAutoSessionControl(false);
  analytics.SendEvent(L"InstallerStartW", L"Install", L"", 1);
  analytics.SendEvent(L"Ünïcode", L"Install", L"page", -1);
  analytics.SendException(L"timeout", L"IJ", 1, 2);
  ASSERT_TRUE(AppMetrics::WaitForPendingHits(60));
  AppMetrics::DestroyGoogleAnalyticsMetrics();

  const auto posted = poster->Posted();
  ASSERT_EQ(posted.size(), 3u);  // no session end: automatic session control is off
  const std::string tail[] = {
      "&ci=OMK&t=event&ec=Install&ea=InstallerStartW&ev=1",
      "&ci=OMK&t=event&ec=Install&ea=\xC3\x9Cn\xC3\xAF" "code&cd=page",
      "&ci=OMK&t=exception&exd=IJ1_6.1_timeout&exf=1",
  };
  for (size_t i = 0; i < 3; ++i) {
    const std::string& body = posted[i].body;
    ASSERT_GE(body.size(), tail[i].size());
    EXPECT_EQ(body.substr(body.size() - tail[i].size()), tail[i]);
  }
}

}  // namespace
}  // namespace CustomInstaller
