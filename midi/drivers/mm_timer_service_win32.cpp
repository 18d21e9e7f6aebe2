#include "midi/drivers/mm_timer_service_win32.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <new>

namespace kv::midi {

namespace {

static_assert(sizeof(TIMECAPS) == kTimeCapsSize);
static_assert(TIME_PERIODIC == kTimePeriodic);

void CALLBACK Trampoline(UINT timerId, UINT message, DWORD_PTR user, DWORD_PTR reserved1, DWORD_PTR reserved2) {
  // Read before the call: a callback that kills its own event frees the binding.
  const auto* binding = reinterpret_cast<const MmTimerBinding*>(user);
  const TimerCallback callback = binding->callback;
  const std::uintptr_t context = binding->context;
  callback(timerId, message, context, reserved1, reserved2);
}

}  // namespace

MmTimerService::~MmTimerService() {
  std::map<std::uint32_t, std::unique_ptr<MmTimerBinding>> running;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running.swap(events_);
  }
  for (auto& entry : running) {
    timeKillEvent(entry.first);
  }
}

std::uint32_t MmTimerService::GetDevCaps(TimeCaps* caps, std::uint32_t capsSize) {
  if (caps == nullptr || capsSize < kTimeCapsSize) {
    return TIMERR_NOCANDO;
  }
  TIMECAPS record{};
  const MMRESULT result = timeGetDevCaps(&record, sizeof record);
  if (result == TIMERR_NOERROR) {
    caps->wPeriodMin = record.wPeriodMin;
    caps->wPeriodMax = record.wPeriodMax;
  }
  return result;
}

std::uint32_t MmTimerService::BeginPeriod(std::uint32_t period) { return timeBeginPeriod(period); }

std::uint32_t MmTimerService::EndPeriod(std::uint32_t period) { return timeEndPeriod(period); }

std::uint32_t MmTimerService::SetEvent(std::uint32_t periodMs, std::uint32_t resolution, TimerCallback callback,
                                       std::uintptr_t context, std::uint32_t flags) {
  if (callback == nullptr) {
    return 0;
  }
  auto binding = std::unique_ptr<MmTimerBinding>(new (std::nothrow) MmTimerBinding{callback, context});
  if (!binding) {
    return 0;
  }
  // Held across the creation so that a kill of the new event, which needs
  // its id, cannot race with recording it.
  std::lock_guard<std::mutex> lock(mutex_);
  const MMRESULT id = timeSetEvent(periodMs, resolution, &Trampoline, reinterpret_cast<DWORD_PTR>(binding.get()),
                                   flags | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
  if (id == 0) {
    return 0;
  }
  events_[id] = std::move(binding);
  return id;
}

std::uint32_t MmTimerService::KillEvent(std::uint32_t timerId) {
  std::unique_ptr<MmTimerBinding> binding;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = events_.find(timerId);
    if (it == events_.end()) {
      return TIMERR_NOCANDO;
    }
    binding = std::move(it->second);
    events_.erase(it);
  }
  // Not under the lock: a callback running now may itself be waiting for it.
  return timeKillEvent(timerId);
}

}  // namespace kv::midi
