#include "midi/drivers/thread_timer_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kv::midi {
namespace {

using namespace std::chrono_literals;

struct Probe {
  ThreadTimerService* service = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  int ticks = 0;
  int killOnTick = 0;            // kill the event from inside this tick
  std::uint32_t killResult = 99;
  bool holdTick = false;         // block inside the first tick until released
  bool inside = false;
  bool released = false;

  static void Callback(std::uint32_t id, std::uint32_t, std::uintptr_t context, std::uintptr_t, std::uintptr_t) {
    auto& p = *reinterpret_cast<Probe*>(context);
    std::unique_lock<std::mutex> lock(p.mutex);
    ++p.ticks;
    p.inside = true;
    p.changed.notify_all();
    if (p.holdTick) {
      p.changed.wait(lock, [&p] { return p.released; });
    }
    if (p.ticks == p.killOnTick) {
      lock.unlock();
      const std::uint32_t result = p.service->KillEvent(id);
      lock.lock();
      p.killResult = result;
    }
    p.inside = false;
    p.changed.notify_all();
  }
  template <typename Pred>
  bool WaitFor(Pred pred) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, 10s, pred);
  }
};

TEST(ThreadTimerServiceTest, KillingAnEventFromItsOwnCallbackEndsItWithoutDeadlock) {
  ThreadTimerService service;
  Probe probe;
  probe.service = &service;
  probe.killOnTick = 3;
  const std::uint32_t id = service.SetEvent(1, 1, &Probe::Callback, reinterpret_cast<std::uintptr_t>(&probe),
                                            kTimePeriodic);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(probe.WaitFor([&] { return probe.killResult != 99; }));
  EXPECT_EQ(probe.killResult, kTimerNoError);
  std::this_thread::sleep_for(10ms);  // a tick after the kill would show here
  std::lock_guard<std::mutex> lock(probe.mutex);
  EXPECT_EQ(probe.ticks, 3);
  EXPECT_EQ(service.KillEvent(id), kTimerNoCanDo);  // already gone
}

TEST(ThreadTimerServiceTest, KillingFromAnotherThreadWaitsForTheRunningCallback) {
  ThreadTimerService service;
  Probe probe;
  probe.holdTick = true;
  const std::uint32_t id = service.SetEvent(1, 1, &Probe::Callback, reinterpret_cast<std::uintptr_t>(&probe),
                                            kTimePeriodic);
  ASSERT_TRUE(probe.WaitFor([&] { return probe.inside; }));
  std::atomic<bool> killReturned{false};
  bool insideAtReturn = true;
  int ticksAtReturn = -1;
  std::thread killer([&] {
    service.KillEvent(id);
    {
      std::lock_guard<std::mutex> lock(probe.mutex);
      insideAtReturn = probe.inside;
      ticksAtReturn = probe.ticks;
    }
    killReturned = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(killReturned.load());  // a callback is still running
  {
    std::lock_guard<std::mutex> lock(probe.mutex);
    probe.released = true;
  }
  probe.changed.notify_all();
  killer.join();
  std::this_thread::sleep_for(10ms);  // a tick after the kill would show here
  std::lock_guard<std::mutex> lock(probe.mutex);
  EXPECT_FALSE(insideAtReturn);
  EXPECT_EQ(probe.ticks, ticksAtReturn);
}

// Ticks fall on absolute deadlines, and a thread that fell behind skips the
// ticks it missed. Checked from the ticks' own start times, not the test's
// timing: after a 30 ms tick, every later tick's deadline lies after the end of
// the tick before it, so a 5 ms window can hold at most six tick starts, where
// running the missed ticks would start about thirty back to back.
struct SlowFirstTick {
  using Clock = std::chrono::steady_clock;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Clock::time_point> starts;
  Clock::time_point longTickEnd;

  static void Callback(std::uint32_t, std::uint32_t, std::uintptr_t context, std::uintptr_t, std::uintptr_t) {
    auto& t = *reinterpret_cast<SlowFirstTick*>(context);
    const Clock::time_point now = Clock::now();
    bool first = false;
    {
      std::lock_guard<std::mutex> lock(t.mutex);
      first = t.starts.empty();
      t.starts.push_back(now);
    }
    if (first) {
      std::this_thread::sleep_for(30ms);
      std::lock_guard<std::mutex> lock(t.mutex);
      t.longTickEnd = Clock::now();
    }
    t.changed.notify_all();
  }
};

TEST(ThreadTimerServiceTest, ALateThreadSkipsMissedTicksInsteadOfBursting) {
  ThreadTimerService service;
  SlowFirstTick probe;
  const std::uint32_t id =
      service.SetEvent(1, 1, &SlowFirstTick::Callback, reinterpret_cast<std::uintptr_t>(&probe), kTimePeriodic);
  ASSERT_NE(id, 0u);
  {
    std::unique_lock<std::mutex> lock(probe.mutex);
    ASSERT_TRUE(probe.changed.wait_for(lock, 10s, [&] { return probe.starts.size() >= 12; }));
  }
  service.KillEvent(id);
  std::lock_guard<std::mutex> lock(probe.mutex);
  const auto windowEnd = probe.longTickEnd + 5ms;
  int inWindow = 0;
  for (const auto& start : probe.starts) {
    if (start >= probe.longTickEnd && start <= windowEnd) ++inWindow;
  }
  EXPECT_LE(inWindow, 6);
}

TEST(ThreadTimerServiceTest, DescribesItselfAndRefusesWhatItCannotRun) {
  ThreadTimerService service;
  TimeCaps caps;
  EXPECT_EQ(service.GetDevCaps(&caps, kTimeCapsSize), kTimerNoError);
  EXPECT_EQ(caps.wPeriodMin, 1u);
  EXPECT_EQ(service.SetEvent(1, 1, nullptr, 0, kTimePeriodic), 0u);
  EXPECT_EQ(service.SetEvent(0, 1, &Probe::Callback, 0, kTimePeriodic), 0u);
  EXPECT_EQ(service.KillEvent(12345), kTimerNoCanDo);
}

}  // namespace
}  // namespace kv::midi
