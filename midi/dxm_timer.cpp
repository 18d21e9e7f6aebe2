#include "midi/dxm_timer.h"

#include "midi/timing.h"

namespace kv::midi {

CDxMTimer::CDxMTimer(TimerService& service) : service_(service) {
  service_.GetDevCaps(&caps, kTimeCapsSize);
  if (caps.wPeriodMin == 0) {
    // The service could not describe itself; ask for the finest period the
    // system uses anywhere rather than pass an invalid 0 on.
    caps.wPeriodMin = kPollPeriodMs;
  }
}

CDxMTimer::~CDxMTimer() { Stop(); }

std::uint32_t CDxMTimer::Start(std::uint32_t periodMs, TimerCallback callback, std::uintptr_t context) {
  Stop();
  service_.BeginPeriod(caps.wPeriodMin);
  if (callback == nullptr) {
    callback = &CDxMTimer::DefaultTimerCallback;
    context = reinterpret_cast<std::uintptr_t>(this);
  }
  timerId = service_.SetEvent(periodMs, caps.wPeriodMin, callback, context, kTimePeriodic);
  if (timerId == 0) {
    // No event will ever end this raise: undo it now, exactly once.
    service_.EndPeriod(caps.wPeriodMin);
  }
  return timerId;
}

int CDxMTimer::Stop() {
  if (timerId != 0) {
    service_.KillEvent(timerId);
    service_.EndPeriod(caps.wPeriodMin);
  }
  timerId = 0;
  return 1;
}

void CDxMTimer::DefaultTimerCallback(std::uint32_t /*timerId*/, std::uint32_t /*message*/, std::uintptr_t context,
                                     std::uintptr_t /*reserved1*/, std::uintptr_t /*reserved2*/) {
  if (context != 0) {
    reinterpret_cast<CDxMTimer*>(context)->OnTick();
  }
}

}  // namespace kv::midi
