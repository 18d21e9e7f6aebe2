#include "midi/drivers/thread_timer_service.h"

#include <chrono>

namespace kv::midi {

struct ThreadTimerService::Event {
  std::uint32_t id = 0;
  std::chrono::milliseconds period{1};
  TimerCallback callback = nullptr;
  std::uintptr_t context = 0;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread thread;
};

ThreadTimerService::~ThreadTimerService() {
  std::map<std::uint32_t, std::shared_ptr<Event>> running;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running.swap(events_);
  }
  for (auto& [id, event] : running) {
    {
      std::lock_guard<std::mutex> lock(event->mutex);
      event->stopping = true;
    }
    event->wake.notify_all();
    if (event->thread.joinable() && event->thread.get_id() != std::this_thread::get_id()) {
      event->thread.join();
    }
  }
  JoinFinished();
}

std::uint32_t ThreadTimerService::GetDevCaps(TimeCaps* caps, std::uint32_t capsSize) {
  if (caps == nullptr || capsSize < kTimeCapsSize) {
    return kTimerNoCanDo;
  }
  caps->wPeriodMin = 1;
  caps->wPeriodMax = 1000000;
  return kTimerNoError;
}

std::uint32_t ThreadTimerService::BeginPeriod(std::uint32_t period) {
  if (period == 0) {
    return kTimerNoCanDo;
  }
  beginCalls_.fetch_add(1);
  return kTimerNoError;
}

std::uint32_t ThreadTimerService::EndPeriod(std::uint32_t period) {
  if (period == 0) {
    return kTimerNoCanDo;
  }
  endCalls_.fetch_add(1);
  return kTimerNoError;
}

std::uint32_t ThreadTimerService::SetEvent(std::uint32_t periodMs, std::uint32_t /*resolution*/,
                                           TimerCallback callback, std::uintptr_t context,
                                           std::uint32_t flags) {
  if (callback == nullptr || periodMs == 0 || (flags & kTimePeriodic) == 0) {
    return 0;  // only periodic events with a callback are offered
  }
  JoinFinished();
  auto event = std::make_shared<Event>();
  event->period = std::chrono::milliseconds(periodMs);
  event->callback = callback;
  event->context = context;

  std::lock_guard<std::mutex> lock(mutex_);
  do {
    event->id = nextId_++;
  } while (event->id == 0 || events_.count(event->id) != 0);
  events_.emplace(event->id, event);
  // The thread holds its own reference: an event killed from its callback
  // outlives the map entry until the thread is joined.
  event->thread = std::thread([event] { Run(*event); });
  return event->id;
}

void ThreadTimerService::Run(Event& event) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  std::uint64_t tick = 1;
  std::unique_lock<std::mutex> lock(event.mutex);
  while (true) {
    const Clock::time_point due = start + event.period * tick;
    if (event.wake.wait_until(lock, due, [&event] { return event.stopping; })) {
      return;
    }
    lock.unlock();
    event.callback(event.id, 0, event.context, 0, 0);
    lock.lock();
    // Next due tick after now: late ticks are skipped, not run in a burst.
    const auto elapsed = Clock::now() - start;
    const std::uint64_t passed = static_cast<std::uint64_t>(elapsed / event.period);
    tick = passed + 1 > tick + 1 ? passed + 1 : tick + 1;
  }
}

std::uint32_t ThreadTimerService::KillEvent(std::uint32_t timerId) {
  std::shared_ptr<Event> event;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = events_.find(timerId);
    if (found == events_.end()) {
      return kTimerNoCanDo;
    }
    event = found->second;
    events_.erase(found);
  }
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->stopping = true;
  }
  event->wake.notify_all();
  if (event->thread.get_id() == std::this_thread::get_id()) {
    // Called from the event's own callback: the thread sees `stopping` when
    // the callback returns and ends; someone else joins it.
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.push_back(std::move(event));
    return kTimerNoError;
  }
  event->thread.join();
  return kTimerNoError;
}

void ThreadTimerService::JoinFinished() {
  std::vector<std::shared_ptr<Event>> joinable;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    joinable.swap(finished_);
  }
  for (auto& event : joinable) {
    if (event->thread.get_id() == std::this_thread::get_id()) {
      // Still inside that event's last callback (it started another event):
      // keep it for a later join.
      std::lock_guard<std::mutex> lock(mutex_);
      finished_.push_back(std::move(event));
      continue;
    }
    event->thread.join();
  }
}

}  // namespace kv::midi
