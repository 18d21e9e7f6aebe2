// The portable timer service: one thread per periodic event, ticking on
// absolute deadlines of the steady clock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/timer_service.h"

namespace kv::midi {

// Tick k of an event falls due at start + k * period, so lateness never
// accumulates; a thread that falls behind skips the ticks it missed instead
// of running them in a burst. Each event's callback runs on that event's own
// thread, one call at a time. The resolution calls have nothing to adjust
// here and are only counted.
class ThreadTimerService : public TimerService {
 public:
  ThreadTimerService() = default;
  ~ThreadTimerService() override;
  ThreadTimerService(const ThreadTimerService&) = delete;
  ThreadTimerService& operator=(const ThreadTimerService&) = delete;

  std::uint32_t GetDevCaps(TimeCaps* caps, std::uint32_t capsSize) override;
  std::uint32_t BeginPeriod(std::uint32_t period) override;
  std::uint32_t EndPeriod(std::uint32_t period) override;
  std::uint32_t SetEvent(std::uint32_t periodMs, std::uint32_t resolution, TimerCallback callback,
                         std::uintptr_t context, std::uint32_t flags) override;
  // From another thread: returns once the event's thread has ended. From the
  // event's own callback: returns at once, and no further tick starts.
  std::uint32_t KillEvent(std::uint32_t timerId) override;

  int BeginPeriodCalls() const { return beginCalls_.load(); }
  int EndPeriodCalls() const { return endCalls_.load(); }

 private:
  struct Event;
  static void Run(Event& event);
  void JoinFinished();

  std::mutex mutex_;
  std::uint32_t nextId_ = 1;
  std::map<std::uint32_t, std::shared_ptr<Event>> events_;
  // Events killed from their own callback: their threads end by themselves
  // and are joined later, never by themselves.
  std::vector<std::shared_ptr<Event>> finished_;
  std::atomic<int> beginCalls_{0};
  std::atomic<int> endCalls_{0};
};

}  // namespace kv::midi
