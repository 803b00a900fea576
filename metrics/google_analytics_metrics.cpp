#include "metrics/google_analytics_metrics.h"

#include <boost/thread/thread.hpp>

#include "network/exceptions.h"
#include "network/parameters.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace AppMetrics {

namespace {

using Cxx::Network::Http::HttpClient::CSimplePostParametersSet;
using Cxx::Network::Http::HttpClient::CSimpleTextParameter;

std::string ExecutableBaseName() {
  try {
    return Platform::GetModulePath().stem().string();
  } catch (const std::exception&) {
    return std::string();
  }
}

}  // namespace

CGoogleAnalyticsMetrics::CGoogleAnalyticsMetrics(const CGoogleAnalyticsConfig& config,
                                                 CMetricsEnvironment environment)
    : m_clock(environment.clock ? std::move(environment.clock) : Platform::SystemClock()),
      m_poster(environment.poster ? std::move(environment.poster) : CreateDefaultHitPoster()),
      m_config(config),
      m_limiter(m_clock),
      m_queue(m_clock) {}

CGoogleAnalyticsMetrics::~CGoogleAnalyticsMetrics() {
  const bool autoSession = m_autoSession.load() != 0;
  if (!m_queue.IsDiscarded() && autoSession) EndSession();
  const bool drained = Drain(kDrainLimitSeconds);
  // One attempt, cut short when the collector does not answer at once: the process ends
  // within the drain's time plus a moment.
  if (!drained && autoSession) SendBounded(MakeSessionControlHit(SC_End), kDirectAttemptLimit);
}

bool CGoogleAnalyticsMetrics::SendEvent(const CEventData& event) {
  if (!m_enabled.load()) return false;
  if (event.action.empty() || event.category.empty()) return false;
  boost::lock_guard lock(m_configMutex);
  Queue([event] { return MakeEventHit(event); });
  return true;
}

std::shared_ptr<ITiming> CGoogleAnalyticsMetrics::CreateTiming(const CTimingData& timing) {
  if (timing.variable.empty() || timing.category.empty() || timing.time < 0) return nullptr;
  boost::lock_guard lock(m_configMutex);
  CTimingData copy = timing;
  if (copy.start.is_not_a_date_time()) copy.start = m_clock->UtcNow();
  return std::make_shared<CGoogleAnalyticsTiming>(weak_from_this(), std::move(copy));
}

bool CGoogleAnalyticsMetrics::SendTiming(const CTimingData& timing) {
  if (!m_enabled.load()) return false;
  if (timing.variable.empty() || timing.category.empty() || timing.time < 0) return false;
  boost::lock_guard lock(m_configMutex);
  Queue([timing] { return MakeTimingHit(timing); });
  return true;
}

bool CGoogleAnalyticsMetrics::SendApplicationStartType(EApplicationStartType startType) {
  if (!m_enabled.load()) return false;
  Queue([startType] { return MakeApplicationStartTypeHit(startType); });
  return true;
}

bool CGoogleAnalyticsMetrics::SendBuildId(const CBuildId& buildId) {
  if (!m_enabled.load()) return false;
  if (buildId.buildId.empty()) return false;
  return Queue([buildId] { return MakeBuildIdHit(buildId); }) == EQueued::Queued;
}

bool CGoogleAnalyticsMetrics::SendCurrentLocale(const std::wstring& locale) {
  if (!m_enabled.load()) return false;
  if (locale.empty()) return false;
  Queue([locale] { return MakeCurrentLocaleHit(locale); });
  return true;
}

bool CGoogleAnalyticsMetrics::SendDaysSinceInstall(int32_t days) {
  if (!m_enabled.load()) return false;
  Queue([days] { return MakeDaysSinceInstallHit(days); });
  return true;
}

bool CGoogleAnalyticsMetrics::SendException(const CExceptionData& exception) {
  if (!m_enabled.load()) return false;
  if (exception.severity != kSeverityCrash) {
    Queue([exception, system = m_config.GetSystem()] { return MakeExceptionHit(exception, system); });
    return true;
  }
  // A crash: one attempt now, then a short chance for the queue; a crashing process must not
  // stay frozen on a collector that is down or does not answer.
  if (exception.details.empty()) return false;
  CExceptionData crash = exception;
  crash.details = ExecutableBaseName() + "_" + CondenseCrashDetails(exception.details);
  SendBounded(MakeExceptionHit(crash, m_config.GetSystem()), kCrashAttemptLimit);
  Drain(kCrashDrainSeconds);
  return true;
}

bool CGoogleAnalyticsMetrics::SendScreenView(const CScreenViewData& screenView) {
  if (!m_enabled.load()) return false;
  if (screenView.screenName.empty()) return false;
  boost::lock_guard lock(m_configMutex);
  Queue([screenView] { return MakeScreenViewHit(screenView); });
  return true;
}

bool CGoogleAnalyticsMetrics::StartSession() {
  if (!m_enabled.load()) return false;
  Queue([] { return MakeSessionControlHit(SC_Start); });
  return true;
}

bool CGoogleAnalyticsMetrics::EndSession() {
  if (!m_enabled.load()) return false;
  Queue([] { return MakeSessionControlHit(SC_End); });
  return true;
}

bool CGoogleAnalyticsMetrics::SetEnabled(bool enabled) {
  if (!enabled && m_enabled.load()) EndSession();
  return m_enabled.exchange(enabled ? 1 : 0) != 0;
}

void CGoogleAnalyticsMetrics::SetAutoSessionControl(bool on) { m_autoSession.store(on ? 1 : 0); }

bool CGoogleAnalyticsMetrics::SetUserLanguage(const std::string& language) {
  if (language.empty()) return false;
  boost::lock_guard lock(m_configMutex);
  m_config.SetUserLanguage(language);
  return true;
}

bool CGoogleAnalyticsMetrics::WaitForPendingHits(uint32_t seconds) {
  if (m_queue.IsDiscarded()) return true;
  return m_queue.WaitIdle(m_clock->NowMilliseconds() + uint64_t{seconds} * 1000);
}

bool CGoogleAnalyticsMetrics::Drain(uint32_t seconds) {
  if (m_queue.IsDiscarded()) return false;
  if (!m_queue.HasWorker()) return false;
  if (WaitForPendingHits(seconds)) return true;
  // Time is up: drop what is queued and let the running hit stop after its current attempt.
  m_abort.store(true);
  m_queue.Discard();
  return false;
}

bool CGoogleAnalyticsMetrics::SendBounded(const CHit& hit, uint64_t milliseconds) {
  // The caller may be a destructor or a crashing thread: its own interruption plays no part.
  boost::this_thread::disable_interruption noInterruption;
  struct Attempt {
    boost::mutex mutex;
    boost::condition_variable ended;
    bool done = false;
  };
  const auto attempt = std::make_shared<Attempt>();
  boost::thread sender;
  try {
    sender = boost::thread([this, hit, attempt] {
      try {
        SendHit(hit, 0);
      } catch (...) {
        // Cut short, or failed: the hit is lost either way.
      }
      {
        boost::lock_guard lock(attempt->mutex);
        attempt->done = true;
      }
      attempt->ended.notify_all();
    });
  } catch (const boost::thread_resource_error&) {
    return false;
  }
  bool done = false;
  {
    boost::unique_lock lock(attempt->mutex);
    done = m_clock->WaitUntil(lock, attempt->ended, m_clock->NowMilliseconds() + milliseconds,
                              [&] { return attempt->done; });
  }
  // The network layer's waits are interruption points: the attempt ends within a poll.
  if (!done) sender.interrupt();
  sender.join();
  return done;
}

void CGoogleAnalyticsMetrics::SendHit(const CHit& hit, int32_t retries) {
  CSimplePostParametersSet body;
  std::wstring userAgent;
  CHitParameters parameters;
  {
    boost::lock_guard lock(m_configMutex);
    m_config.AddFixedParameters(parameters);
    userAgent = Platform::Utf8ToWide(m_config.GetUserAgent());
  }
  parameters.insert(parameters.end(), hit.parameters.begin(), hit.parameters.end());
  if (hit.sessionControl == SC_Start) SetSessionOpen(true);
  if (hit.sessionControl == SC_End) SetSessionOpen(false);

  // A hit carries at most one session control: its own wins over the budget's automatic one.
  bool ownControl = false;
  for (const auto& parameter : hit.parameters) ownControl = ownControl || parameter.first == L"sc";
  const uint32_t remaining = m_limiter.GetRemaining();
  if (!ownControl && remaining == 1) parameters.emplace_back(L"sc", L"end");
  if (!ownControl && remaining == CHitRateLimiter::kBudget && m_autoSession.load()) {
    parameters.emplace_back(L"sc", L"start");
    SetSessionOpen(true);
  }
  try {
    for (const auto& [name, value] : parameters) {
      body.Add(std::make_shared<CSimpleTextParameter>(name, value));
    }
  } catch (const Cxx::Network::Exception::CNetworkException&) {
    return;  // a text that is not Unicode cannot be sent
  }

  if (!m_limiter.Acquire()) return;

  uint32_t pause = kFirstRetryPause;
  for (;;) {
    bool delivered = false;
    try {
      delivered = m_poster->Post(userAgent, body);
    } catch (const boost::thread_interrupted&) {
      throw;
    } catch (...) {
      delivered = false;
    }
    if (!delivered && retries != 0) {
      m_clock->Sleep(pause);
      if (pause < kLongestRetryPause) pause += kRetryPauseStep;
      if (retries != kRetryWithoutLimit) --retries;
    }
    if (m_abort.load() || delivered || retries <= 0) break;
  }

  if (hit.sessionControl == SC_End) {
    m_limiter.Reset();
  } else {
    m_limiter.MarkSent();
  }
}

CGoogleAnalyticsTiming::CGoogleAnalyticsTiming(std::weak_ptr<CGoogleAnalyticsMetrics> sender,
                                               CTimingData timing)
    : m_sender(std::move(sender)), m_timing(std::move(timing)) {}

void CGoogleAnalyticsTiming::SendElapsedSeconds() { Send(1000000); }

void CGoogleAnalyticsTiming::SendElapsedMilliseconds() { Send(1000); }

void CGoogleAnalyticsTiming::Send(int64_t divisor) {
  const auto sender = m_sender.lock();
  if (!sender) return;
  const int64_t elapsed = (sender->GetClock().UtcNow() - m_timing.start).total_microseconds();
  m_timing.time = elapsed / divisor;
  sender->SendTiming(m_timing);
}

}  // namespace AppMetrics
