// The timer seam over the platform's multimedia timer.
//
// Every event is created with the synchronous-kill flag, so KillEvent returns
// only once no callback of that event runs or will start: nothing the
// callback uses can be destroyed under it. The seam's callback is reached
// through a small binding per event that lives until the event is killed.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "midi/timer_service.h"

namespace kv::midi {

struct MmTimerBinding {
  TimerCallback callback = nullptr;
  std::uintptr_t context = 0;
};

class MmTimerService final : public TimerService {
 public:
  MmTimerService() = default;
  ~MmTimerService() override;
  MmTimerService(const MmTimerService&) = delete;
  MmTimerService& operator=(const MmTimerService&) = delete;

  std::uint32_t GetDevCaps(TimeCaps* caps, std::uint32_t capsSize) override;
  std::uint32_t BeginPeriod(std::uint32_t period) override;
  std::uint32_t EndPeriod(std::uint32_t period) override;
  std::uint32_t SetEvent(std::uint32_t periodMs, std::uint32_t resolution, TimerCallback callback,
                         std::uintptr_t context, std::uint32_t flags) override;
  std::uint32_t KillEvent(std::uint32_t timerId) override;

 private:
  std::mutex mutex_;
  std::map<std::uint32_t, std::unique_ptr<MmTimerBinding>> events_;
};

}  // namespace kv::midi
