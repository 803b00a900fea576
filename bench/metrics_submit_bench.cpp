// Times the analytics sender's submit call while the collector hangs: every hit after the first
// waits in the queue, so the call must never touch the network. Prints the median and the 99th
// percentile in microseconds for 4999 submissions into the queue, and for 5000 more into the
// full queue (dropped).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "metrics/google_analytics_metrics.h"
#include "tests/support/dev_server.h"

namespace {

using namespace AppMetrics;

// Real time for everything but the sender's own waits, which pass at once, so that the
// shutdown after the measurement does not take the 20-second drain and a retry pause.
class CInstantWaitClock final : public Platform::IClock {
 public:
  uint64_t NowMilliseconds() override { return m_system->NowMilliseconds(); }
  boost::posix_time::ptime UtcNow() override { return m_system->UtcNow(); }
  void Sleep(uint64_t) override {}
  bool WaitUntil(boost::unique_lock<boost::mutex>&, boost::condition_variable&, uint64_t,
                 const std::function<bool()>& done) override {
    return done();
  }

 private:
  std::shared_ptr<Platform::IClock> m_system = Platform::SystemClock();
};

struct Figures {
  double median;
  double p99;
};

Figures Measure(CGoogleAnalyticsMetrics& sender, int count) {
  std::vector<double> micros;
  micros.reserve(count);
  for (int i = 0; i < count; ++i) {
    const CEventData event{"Submit", "Bench", "", i};
    const auto start = std::chrono::steady_clock::now();
    const bool queued = sender.SendEvent(event);
    const auto end = std::chrono::steady_clock::now();
    if (!queued) std::fprintf(stderr, "submission %d refused\n", i);
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], micros[(micros.size() * 99) / 100]};
}

}  // namespace

int main() {
  TestSupport::DevServer collector(
      R"({"routes": [{"kind": "collector", "method": "POST", "path": "/collect", "mode": "hang"}]})",
      TestSupport::DevServerOptions{false, true});
  Cxx::Network::Http::HttpClient::ConnectionSettings settings;
  settings.caBundle = TestSupport::TestCaFile();
  const CGoogleAnalyticsConfig config("UA-1234-5", "0123456789abcdef0123456789ABCDEF", "3.10.1.2",
                                      "Quarro Omnikit", "en", "OMK");
  auto sender = std::make_shared<CGoogleAnalyticsMetrics>(
      config, CMetricsEnvironment{std::make_shared<CInstantWaitClock>(),
                                  std::make_shared<CCollectorPoster>(
                                      L"127.0.0.1", collector.HttpsPort(), settings)});
  sender->SetEnabled(true);

  // The worker takes the first hit and hangs on it at the collector.
  sender->SendEvent({"First", "Bench", "", -1});
  while (collector.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  const Figures queued = Measure(*sender, CHitQueue::kCapacity - 1);
  const Figures dropped = Measure(*sender, CHitQueue::kCapacity);
  std::printf("metrics submit (collector hanging): queued %.2f us median, %.2f us p99; "
              "full queue %.2f us median, %.2f us p99 (goal: p99 < 20 us)\n",
              queued.median, queued.p99, dropped.median, dropped.p99);
  std::fflush(stdout);

  collector.Stop();  // the hanging request fails, and the sender's shutdown ends at once
  sender.reset();
  return 0;
}
