// The multimedia timer: a periodic event about once a millisecond, one
// callback at a time, and none running or starting once the event is killed.
#include "midi/drivers/mm_timer_service_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/dxm_timer.h"

namespace {

using kv::midi::MmTimerService;
using kv::midi::TimeCaps;

struct TickLog {
  std::atomic<int> ticks{0};
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};
  std::atomic<int> afterStop{0};
  std::atomic<bool> stopped{false};
  std::atomic<std::uintptr_t> context{0};
  int busyMs = 0;
};

void Tick(std::uint32_t, std::uint32_t, std::uintptr_t context, std::uintptr_t, std::uintptr_t) {
  auto* log = reinterpret_cast<TickLog*>(context);
  if (log->stopped.load()) {
    log->afterStop.fetch_add(1);
  }
  const int now = log->inside.fetch_add(1) + 1;
  int most = log->mostInside.load();
  while (now > most && !log->mostInside.compare_exchange_weak(most, now)) {
  }
  log->context.store(context);
  if (log->busyMs > 0) {
    Sleep(static_cast<DWORD>(log->busyMs));
  }
  log->ticks.fetch_add(1);
  log->inside.fetch_sub(1);
}

void WaitFor(const std::atomic<int>& value, int atLeast) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (value.load() < atLeast && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST(MmTimerService, TicksAboutEveryMillisecondAndNeverAfterTheKill) {
  MmTimerService service;
  TimeCaps caps;
  ASSERT_EQ(service.GetDevCaps(&caps, kv::midi::kTimeCapsSize), 0u);
  ASSERT_GE(caps.wPeriodMin, 1u);
  ASSERT_EQ(service.BeginPeriod(caps.wPeriodMin), 0u);

  TickLog log;
  const std::uint32_t id =
      service.SetEvent(1, caps.wPeriodMin, &Tick, reinterpret_cast<std::uintptr_t>(&log), kv::midi::kTimePeriodic);
  ASSERT_NE(id, 0u);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  service.KillEvent(id);
  const auto elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  log.stopped.store(true);
  const int ticks = log.ticks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  service.EndPeriod(caps.wPeriodMin);

  // Generous bounds: a 1 ms period, not the coarse default tick of ~16 ms.
  EXPECT_GT(ticks, elapsedMs / 5) << ticks << " ticks in " << elapsedMs << " ms";
  EXPECT_LE(ticks, elapsedMs + 5);
  EXPECT_EQ(log.afterStop.load(), 0);
  EXPECT_EQ(log.ticks.load(), ticks);
  EXPECT_EQ(log.context.load(), reinterpret_cast<std::uintptr_t>(&log));
}

TEST(MmTimerService, KillWaitsForARunningCallbackAndCallbacksNeverOverlap) {
  MmTimerService service;
  TickLog log;
  log.busyMs = 5;  // longer than the period
  const std::uint32_t id =
      service.SetEvent(1, 1, &Tick, reinterpret_cast<std::uintptr_t>(&log), kv::midi::kTimePeriodic);
  ASSERT_NE(id, 0u);
  WaitFor(log.ticks, 3);
  WaitFor(log.inside, 1);  // a callback is in progress now (it sleeps 5 ms)
  service.KillEvent(id);
  EXPECT_EQ(log.inside.load(), 0) << "the kill returned while a callback still ran";
  log.stopped.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(log.afterStop.load(), 0);
  EXPECT_EQ(log.mostInside.load(), 1);
}

class CountingTimer : public kv::midi::CDxMTimer {
 public:
  using CDxMTimer::CDxMTimer;
  ~CountingTimer() override { Stop(); }
  void OnTick() override {
    if (stopped.load()) afterStop.fetch_add(1);
    ticks.fetch_add(1);
  }
  std::atomic<int> ticks{0};
  std::atomic<int> afterStop{0};
  std::atomic<bool> stopped{false};
};

TEST(MmTimerService, PeriodicTimerWithoutCallbackTicksItselfUntilStopped) {
  MmTimerService service;
  CountingTimer timer(service);
  ASSERT_NE(timer.Start(1, nullptr, 0), 0u);
  WaitFor(timer.ticks, 20);
  EXPECT_EQ(timer.Stop(), 1);
  timer.stopped.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(timer.ticks.load(), 20);
  EXPECT_EQ(timer.afterStop.load(), 0);
  EXPECT_EQ(timer.Stop(), 1);
  EXPECT_EQ(timer.TimerId(), 0u);
}

}  // namespace
