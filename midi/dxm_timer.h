// The 1 ms heartbeat that drives reply handling: a periodic event of the
// timer service with the resolution raised while it runs.
#pragma once

#include <cstdint>

#include "midi/timer_service.h"

namespace kv::midi {

class CDxMTimer {
 public:
  explicit CDxMTimer(TimerService& service);
  virtual ~CDxMTimer();
  CDxMTimer(const CDxMTimer&) = delete;
  CDxMTimer& operator=(const CDxMTimer&) = delete;

  // Stops any running event, raises the resolution, starts a periodic event.
  // With no callback each tick calls OnTick(). Returns the event id, 0 on failure.
  std::uint32_t Start(std::uint32_t periodMs, TimerCallback callback, std::uintptr_t context);
  int Stop();  // always 1
  virtual void OnTick() {}

  std::uint32_t TimerId() const { return timerId; }

  static void DefaultTimerCallback(std::uint32_t timerId, std::uint32_t message, std::uintptr_t context,
                                   std::uintptr_t reserved1, std::uintptr_t reserved2);

 private:
  TimerService& service_;
  std::uint32_t timerId = 0;
  TimeCaps caps;
  bool periodRaised_ = false;
};

}  // namespace kv::midi
