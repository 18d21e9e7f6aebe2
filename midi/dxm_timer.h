// The 1 ms heartbeat that drives reply handling: a periodic event of the
// timer service with the resolution raised while it runs.
#pragma once

#include <cstdint>

#include "midi/timer_service.h"

namespace kv::midi {

// A class deriving from CDxMTimer to override OnTick must call Stop() in its
// own destructor: by the time ~CDxMTimer stops the event, the derived part is
// already gone, and a tick in between would run on a half-destroyed object.
class CDxMTimer {
 public:
  explicit CDxMTimer(TimerService& service);
  virtual ~CDxMTimer();
  CDxMTimer(const CDxMTimer&) = delete;
  CDxMTimer& operator=(const CDxMTimer&) = delete;

  // Stops any running event, raises the resolution, starts a periodic event.
  // With no callback each tick calls OnTick(). Returns the event id, 0 on
  // failure (and then the raise is undone at once).
  std::uint32_t Start(std::uint32_t periodMs, TimerCallback callback, std::uintptr_t context);
  // Always 1. From any thread but the timer's own it returns only when no
  // callback runs or will start.
  int Stop();
  virtual void OnTick() {}

  std::uint32_t TimerId() const { return timerId; }
  std::uint32_t PeriodMin() const { return caps.wPeriodMin; }

  static void DefaultTimerCallback(std::uint32_t timerId, std::uint32_t message, std::uintptr_t context,
                                   std::uintptr_t reserved1, std::uintptr_t reserved2);

 private:
  TimerService& service_;
  std::uint32_t timerId = 0;
  TimeCaps caps;
};

}  // namespace kv::midi
