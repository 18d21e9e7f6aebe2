#include "midi/dxm_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/drivers/recording_timer_service.h"
#include "midi/drivers/thread_timer_service.h"

namespace kv::midi {
namespace {

using Log = std::vector<std::string>;

void CountingCallback(std::uint32_t, std::uint32_t, std::uintptr_t context, std::uintptr_t, std::uintptr_t) {
  ++*reinterpret_cast<std::atomic<int>*>(context);
}

// The service reports a finest period of 2 ms, so the resolution (2) and the
// dialog's period (1) can be told apart in the log.
constexpr TimeCaps kCaps{2, 1000000};

TEST(DxMTimerTest, EveryRaiseIsUndoneExactlyOnceWhateverTheSequence) {
  struct Case {
    const char* name;
    std::function<void(std::unique_ptr<CDxMTimer>&, RecordingTimerService&)> steps;
    Log log;  // after the construction's capability query
    int raisesAfter;
  };
  std::atomic<int> ticks{0};
  const auto context = reinterpret_cast<std::uintptr_t>(&ticks);
  const Case cases[] = {
      {"start", [&](auto& t, auto&) { EXPECT_EQ(t->Start(1, CountingCallback, context), 1u); },
       {"Begin(2)", "SetEvent(1)"}, 1},
      {"start on a running timer ends the old event first",
       [&](auto& t, auto&) {
         t->Start(1, CountingCallback, context);
         EXPECT_EQ(t->Start(1, CountingCallback, context), 2u);
       },
       {"Begin(2)", "SetEvent(1)", "Kill(1)", "End(2)", "Begin(2)", "SetEvent(2)"}, 1},
      {"stop twice: the second makes no call",
       [&](auto& t, auto&) {
         t->Start(1, CountingCallback, context);
         EXPECT_EQ(t->Stop(), 1);
         EXPECT_EQ(t->Stop(), 1);
       },
       {"Begin(2)", "SetEvent(1)", "Kill(1)", "End(2)"}, 0},
      {"stop on an idle timer makes no call", [&](auto& t, auto&) { EXPECT_EQ(t->Stop(), 1); }, {}, 0},
      {"refused event: the raise is undone at once",
       [&](auto& t, auto& s) {
         s.RefuseEvents(true);
         EXPECT_EQ(t->Start(1, CountingCallback, context), 0u);
         EXPECT_EQ(t->TimerId(), 0u);
         EXPECT_EQ(t->Stop(), 1);
       },
       {"Begin(2)", "SetEvent(refused)", "End(2)"}, 0},
      {"destroying a running timer stops it",
       [&](auto& t, auto&) {
         t->Start(1, CountingCallback, context);
         t.reset();
       },
       {"Begin(2)", "SetEvent(1)", "Kill(1)", "End(2)"}, 0},
      {"destroying a timer that never ran", [&](auto& t, auto&) { t.reset(); }, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingTimerService service(kCaps);
    auto timer = std::make_unique<CDxMTimer>(service);
    c.steps(timer, service);
    Log log = service.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "GetDevCaps(8)");
    log.erase(log.begin());
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(service.OutstandingRaises(), c.raisesAfter);
    EXPECT_EQ(service.RunningEvents().size(), static_cast<std::size_t>(c.raisesAfter));
  }
}

TEST(DxMTimerTest, TheEventGetsThePeriodTheFinestResolutionAndTheContextUnchanged) {
  RecordingTimerService service(kCaps);
  CDxMTimer timer(service);
  std::atomic<int> ticks{0};
  const auto context = reinterpret_cast<std::uintptr_t>(&ticks);
  const std::uint32_t id = timer.Start(1, CountingCallback, context);
  const auto event = service.Event(id);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->periodMs, 1u);
  EXPECT_EQ(event->resolution, 2u);
  EXPECT_EQ(event->callback, &CountingCallback);
  EXPECT_EQ(event->context, context);
  EXPECT_EQ(event->flags, kTimePeriodic);
  service.FireAll();
  service.FireAll();
  EXPECT_EQ(ticks.load(), 2);
}

class CountingTimer : public CDxMTimer {
 public:
  using CDxMTimer::CDxMTimer;
  ~CountingTimer() override { Stop(); }
  void OnTick() override { ++ticks; }
  std::atomic<int> ticks{0};
};

TEST(DxMTimerTest, WithNoCallbackEachTickCallsTheTimersOwnHook) {
  RecordingTimerService service(kCaps);
  CountingTimer timer(service);
  const std::uint32_t id = timer.Start(1, nullptr, 12345);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(service.Event(id)->callback, &CDxMTimer::DefaultTimerCallback);
  EXPECT_EQ(service.Event(id)->context, reinterpret_cast<std::uintptr_t>(&timer));
  service.FireAll();
  service.FireAll();
  service.FireAll();
  EXPECT_EQ(timer.ticks.load(), 3);
}

TEST(DxMTimerTest, UnreadableCapabilitiesStillAskForAValidResolution) {
  RecordingTimerService service(TimeCaps{}, /*capsReadable=*/false);
  CDxMTimer timer(service);
  timer.Start(1, CountingCallback, 0);
  const Log log = service.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1], "Begin(1)");
}

// --- the portable service, with real time ---

// Counts ticks, notes any that overlap, and any that start after Stop returned.
class WatchedTimer : public CDxMTimer {
 public:
  using CDxMTimer::CDxMTimer;
  ~WatchedTimer() override { Stop(); }

  void OnTick() override {
    if (++inside > 1) ++overlaps;
    if (stopped.load()) ++afterStop;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++ticks;
    }
    changed.notify_all();
    --inside;
  }
  bool WaitForTicks(int count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return ticks >= count; });
  }

  std::mutex mutex;
  std::condition_variable changed;
  int ticks = 0;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<bool> stopped{false};
  std::atomic<int> afterStop{0};
};

TEST(DxMTimerTest, OverThreadTimersItTicksOneAtATimeAndNeverAfterStopReturns) {
  ThreadTimerService service;
  WatchedTimer timer(service);
  for (int run = 0; run < 3; ++run) {
    timer.stopped = false;
    ASSERT_NE(timer.Start(1, nullptr, 0), 0u);
    ASSERT_TRUE(timer.WaitForTicks(5 * (run + 1)));
    EXPECT_EQ(timer.Stop(), 1);
    timer.stopped = true;
    // A tick that Stop failed to prevent would show up here.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(timer.afterStop.load(), 0);
  EXPECT_EQ(timer.overlaps.load(), 0);
  EXPECT_EQ(service.BeginPeriodCalls(), 3);
  EXPECT_EQ(service.EndPeriodCalls(), 3);
}

}  // namespace
}  // namespace kv::midi
