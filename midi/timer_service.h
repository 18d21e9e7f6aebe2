// The platform seam under CDxMTimer, shaped after the multimedia timer
// service: capabilities, resolution raise and restore, and periodic events
// whose callback runs on the service's own thread, one call at a time.
#pragma once

#include <cstdint>

namespace kv::midi {

struct TimeCaps {
  std::uint32_t wPeriodMin = 0;
  std::uint32_t wPeriodMax = 0;
};
constexpr std::uint32_t kTimeCapsSize = 8;
constexpr std::uint32_t kTimePeriodic = 1;

// Results of GetDevCaps, BeginPeriod, EndPeriod and KillEvent.
constexpr std::uint32_t kTimerNoError = 0;
constexpr std::uint32_t kTimerNoCanDo = 97;

// (event identifier, message, context given to SetEvent, reserved, reserved)
using TimerCallback = void (*)(std::uint32_t timerId, std::uint32_t message, std::uintptr_t context,
                               std::uintptr_t reserved1, std::uintptr_t reserved2);

class TimerService {
 public:
  virtual ~TimerService() = default;
  virtual std::uint32_t GetDevCaps(TimeCaps* caps, std::uint32_t capsSize) = 0;
  virtual std::uint32_t BeginPeriod(std::uint32_t period) = 0;
  virtual std::uint32_t EndPeriod(std::uint32_t period) = 0;
  // Returns the new event's identifier, 0 when refused.
  virtual std::uint32_t SetEvent(std::uint32_t periodMs, std::uint32_t resolution, TimerCallback callback,
                                 std::uintptr_t context, std::uint32_t flags) = 0;
  // Ends the event. Returns only when no callback of it runs or will start,
  // unless called from that callback itself.
  virtual std::uint32_t KillEvent(std::uint32_t timerId) = 0;
};

}  // namespace kv::midi
