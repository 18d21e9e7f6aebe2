#include "engine/reply_signal.h"

#include <gtest/gtest.h>

#include <thread>

namespace kv {
namespace {

TEST(ReplySignal, StartsUnsignalledWithNoModel) {
  ReplySignal signal;
  EXPECT_FALSE(signal.Wait(5));
  EXPECT_EQ(signal.detectedModel.load(), 0x00);
}

// Auto-reset: a pending signal answers exactly one wait, at once; two sets
// before a wait count as one; Reset drops a pending signal.
TEST(ReplySignal, OnePendingSignalAnswersOneWait) {
  ReplySignal signal;
  signal.Set();
  EXPECT_TRUE(signal.Wait(0));
  EXPECT_FALSE(signal.Wait(5));

  signal.Set();
  signal.Set();
  EXPECT_TRUE(signal.Wait(0));
  EXPECT_FALSE(signal.Wait(0));

  signal.Set();
  signal.WaitForever();
  EXPECT_FALSE(signal.Wait(0));

  signal.Set();
  signal.Reset();
  EXPECT_FALSE(signal.Wait(5));
}

// The fields a writer stores before Set are what the waiter reads after
// its wait returns (meaningful under ThreadSanitizer).
TEST(ReplySignal, WaiterSeesFieldsStoredBeforeSet) {
  for (int round = 0; round < 200; ++round) {
    ReplySignal signal;
    std::thread writer([&signal, round] {
      signal.status.store(round);
      signal.detectedModel.store(static_cast<std::uint8_t>(round));
      signal.Set();
    });
    if (round % 2 == 0) {
      signal.WaitForever();
    } else {
      ASSERT_TRUE(signal.Wait(60000));
    }
    EXPECT_EQ(signal.status.load(), round);
    EXPECT_EQ(signal.detectedModel.load(), static_cast<std::uint8_t>(round));
    writer.join();
  }
}

}  // namespace
}  // namespace kv
