#include "midi/drivers/recording_timer_service.h"

namespace kv::midi {

RecordingTimerService::RecordingTimerService(TimeCaps caps, bool capsReadable)
    : caps_(caps), capsReadable_(capsReadable) {}

void RecordingTimerService::Record(Op op, std::string entry) {
  ++counts_[op];
  log_.push_back(std::move(entry));
}

std::uint32_t RecordingTimerService::GetDevCaps(TimeCaps* caps, std::uint32_t capsSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record(Op::GetDevCaps, "GetDevCaps(" + std::to_string(capsSize) + ")");
  if (!capsReadable_ || caps == nullptr || capsSize != kTimeCapsSize) {
    return kTimerNoCanDo;
  }
  *caps = caps_;
  return kTimerNoError;
}

std::uint32_t RecordingTimerService::BeginPeriod(std::uint32_t period) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record(Op::BeginPeriod, "Begin(" + std::to_string(period) + ")");
  ++outstanding_;
  return kTimerNoError;
}

std::uint32_t RecordingTimerService::EndPeriod(std::uint32_t period) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record(Op::EndPeriod, "End(" + std::to_string(period) + ")");
  --outstanding_;
  return kTimerNoError;
}

std::uint32_t RecordingTimerService::SetEvent(std::uint32_t periodMs, std::uint32_t resolution,
                                              TimerCallback callback, std::uintptr_t context,
                                              std::uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuse_ || callback == nullptr) {
    Record(Op::SetEvent, "SetEvent(refused)");
    return 0;
  }
  const std::uint32_t id = nextId_++;
  Record(Op::SetEvent, "SetEvent(" + std::to_string(id) + ")");
  events_[id] = EventArgs{periodMs, resolution, callback, context, flags};
  return id;
}

std::uint32_t RecordingTimerService::KillEvent(std::uint32_t timerId) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record(Op::KillEvent, "Kill(" + std::to_string(timerId) + ")");
  return events_.erase(timerId) == 1 ? kTimerNoError : kTimerNoCanDo;
}

void RecordingTimerService::RefuseEvents(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_ = refuse;
}

void RecordingTimerService::FireAll() {
  std::map<std::uint32_t, EventArgs> running;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running = events_;
  }
  for (const auto& [id, args] : running) {
    args.callback(id, 0, args.context, 0, 0);
  }
}

int RecordingTimerService::Count(Op op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = counts_.find(op);
  return found == counts_.end() ? 0 : found->second;
}

int RecordingTimerService::TotalCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(log_.size());
}

std::vector<std::string> RecordingTimerService::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

int RecordingTimerService::OutstandingRaises() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outstanding_;
}

std::vector<std::uint32_t> RecordingTimerService::RunningEvents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint32_t> ids;
  for (const auto& [id, args] : events_) {
    ids.push_back(id);
  }
  return ids;
}

std::optional<RecordingTimerService::EventArgs> RecordingTimerService::Event(std::uint32_t timerId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = events_.find(timerId);
  if (found == events_.end()) {
    return std::nullopt;
  }
  return found->second;
}

}  // namespace kv::midi
