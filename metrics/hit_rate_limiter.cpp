#include "metrics/hit_rate_limiter.h"

#include <algorithm>
#include <limits>

namespace AppMetrics {

namespace {

int32_t AddTokens(int32_t tokens, uint64_t more) {
  const int64_t sum = static_cast<int64_t>(tokens) +
                      static_cast<int64_t>(std::min<uint64_t>(more, std::numeric_limits<int32_t>::max()));
  return static_cast<int32_t>(std::min<int64_t>(sum, std::numeric_limits<int32_t>::max()));
}

}  // namespace

CHitRateLimiter::CHitRateLimiter(std::shared_ptr<Platform::IClock> clock) : m_clock(std::move(clock)) {}

uint32_t CHitRateLimiter::GetRemaining() const {
  boost::lock_guard lock(m_mutex);
  return m_remaining;
}

bool CHitRateLimiter::Acquire() {
  boost::lock_guard lock(m_mutex);
  if (m_remaining == 0) return false;
  --m_remaining;
  const uint64_t previous = m_last;
  m_last = m_clock->NowMilliseconds();
  if (previous == 0) {
    --m_tokens;
    return true;
  }
  uint64_t elapsed = m_last - previous;
  m_tokens = AddTokens(m_tokens, elapsed / kTokenInterval);
  while (m_tokens < 1) {
    m_clock->Sleep(kTokenInterval - elapsed % kTokenInterval);
    const uint64_t now = m_clock->NowMilliseconds();
    elapsed = elapsed % kTokenInterval + (now - m_last);
    m_last = now;
    m_tokens = AddTokens(m_tokens, elapsed / kTokenInterval);
  }
  --m_tokens;
  return true;
}

void CHitRateLimiter::MarkSent() {
  boost::lock_guard lock(m_mutex);
  m_last = m_clock->NowMilliseconds();
}

void CHitRateLimiter::Reset() {
  boost::lock_guard lock(m_mutex);
  m_tokens = kInitialTokens;
  m_remaining = kBudget;
  m_last = 0;
}

}  // namespace AppMetrics
