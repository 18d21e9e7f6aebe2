// A timer service for tests: counts every call, scripts what SetEvent
// answers, and lets the test fire the ticks of the events that run.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "midi/timer_service.h"

namespace kv::midi {

class RecordingTimerService : public TimerService {
 public:
  enum class Op { GetDevCaps, BeginPeriod, EndPeriod, SetEvent, KillEvent };

  struct EventArgs {
    std::uint32_t periodMs = 0;
    std::uint32_t resolution = 0;
    TimerCallback callback = nullptr;
    std::uintptr_t context = 0;
    std::uint32_t flags = 0;
  };

  // `caps` is what GetDevCaps fills in; with `capsReadable` false it fails
  // and leaves the record untouched.
  explicit RecordingTimerService(TimeCaps caps = {1, 1000000}, bool capsReadable = true);

  std::uint32_t GetDevCaps(TimeCaps* caps, std::uint32_t capsSize) override;
  std::uint32_t BeginPeriod(std::uint32_t period) override;
  std::uint32_t EndPeriod(std::uint32_t period) override;
  std::uint32_t SetEvent(std::uint32_t periodMs, std::uint32_t resolution, TimerCallback callback,
                         std::uintptr_t context, std::uint32_t flags) override;
  std::uint32_t KillEvent(std::uint32_t timerId) override;

  // SetEvent refuses (returns 0) while this is set.
  void RefuseEvents(bool refuse);
  // Runs one tick of every running event, on the calling thread.
  void FireAll();

  int Count(Op op) const;
  int TotalCalls() const;
  // Every call in order, e.g. "Begin(1)", "SetEvent(1)", "Kill(1)", "End(1)".
  std::vector<std::string> Log() const;
  // BeginPeriod calls not yet matched by an EndPeriod.
  int OutstandingRaises() const;
  std::vector<std::uint32_t> RunningEvents() const;
  std::optional<EventArgs> Event(std::uint32_t timerId) const;

 private:
  void Record(Op op, std::string entry);

  mutable std::mutex mutex_;
  TimeCaps caps_;
  bool capsReadable_;
  bool refuse_ = false;
  std::uint32_t nextId_ = 1;
  std::map<std::uint32_t, EventArgs> events_;
  std::map<Op, int> counts_;
  std::vector<std::string> log_;
  int outstanding_ = 0;
};

}  // namespace kv::midi
