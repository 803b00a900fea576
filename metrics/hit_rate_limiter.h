#pragma once
// Token bucket and per-session budget of an analytics sender: a burst of 60 hits, then one hit
// per 2 seconds, and at most 497 hits until a session end renews the budget.
#include <cstdint>
#include <memory>

#include <boost/thread/mutex.hpp>

#include "platform/clock.h"

namespace AppMetrics {

class CHitRateLimiter {
 public:
  static constexpr int32_t kInitialTokens = 60;
  static constexpr uint32_t kBudget = 497;
  static constexpr uint64_t kTokenInterval = 2000;  // milliseconds per new token

  explicit CHitRateLimiter(std::shared_ptr<Platform::IClock> clock);

  uint32_t GetRemaining() const;
  // Takes one hit of the budget (false once it is used up) and a token, sleeping on the
  // calling thread until one is there.
  bool Acquire();
  // Records the end of a sent hit as the time of the last acquisition.
  void MarkSent();
  // Back to a fresh budget: 60 tokens, 497 hits, never acquired.
  void Reset();

 private:
  std::shared_ptr<Platform::IClock> m_clock;
  mutable boost::mutex m_mutex;  // held through Acquire, so hits sent from two threads queue here
  int32_t m_tokens = kInitialTokens;
  uint32_t m_remaining = kBudget;
  uint64_t m_last = 0;  // 0: never
};

}  // namespace AppMetrics
