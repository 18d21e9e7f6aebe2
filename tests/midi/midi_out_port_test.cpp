#include "midi/midi_out_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "midi/drivers/recording_driver.h"
#include "midi/timing.h"
#include "tests/midi/sysex_bytes.h"

namespace kv::midi {
namespace {

using Op = RecordingDriver::Op;
using Ops = std::vector<Op>;

struct OpenCase {
  const char* name;
  std::optional<std::uint32_t> openedOn;  // device the port is open on before
  std::uint32_t request;
  bool refuseOpen;
  int result;
  bool openAfter;
  Ops calls;  // made by the Open under test
};

TEST(MidiOutPortTest, OpenFollowsTheTwoStates) {
  const int nothingSelected = -1;  // the dialog's list with no selection
  const OpenCase cases[] = {
      {"opens a closed port", std::nullopt, 1, false, 1, true, {Op::OutOpen}},
      {"same device again makes no call", 1, 1, false, 1, true, {}},
      {"another device closes the first", 1, 2, false, 1, true, {Op::OutClose, Op::OutOpen}},
      {"failed switch leaves it closed", 1, 2, true, 0, false, {Op::OutClose, Op::OutOpen}},
      {"refused open", std::nullopt, 1, true, 0, false, {Op::OutOpen}},
      {"no such device", std::nullopt, 9, false, 0, false, {Op::OutOpen}},
      {"nothing selected", std::nullopt, static_cast<std::uint32_t>(nothingSelected), false, 0, false, {Op::OutOpen}},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDriver driver;
    CMidiOutPort port(driver);
    if (c.openedOn) {
      ASSERT_EQ(port.Open(*c.openedOn), 1);
    }
    driver.ClearCalls();
    if (c.refuseOpen) {
      driver.Fail(Op::OutOpen, kMmAllocated);
    }
    EXPECT_EQ(port.Open(c.request), c.result);
    EXPECT_EQ(driver.Calls(), c.calls);
    EXPECT_EQ(port.IsOpen(), c.openAfter);
    EXPECT_EQ(port.DeviceIndex(), c.request);  // set even when the open failed
    EXPECT_EQ(driver.OpenOutDevices(), c.openAfter ? 1 : 0);
    if (!c.calls.empty()) {
      EXPECT_EQ(driver.LastOutOpenDevice(), c.request);  // unchanged, no range check
    }
  }
}

TEST(MidiOutPortTest, CloseReportsWhetherADeviceWasOpenAndAlwaysForgetsIt) {
  struct Case {
    const char* name;
    bool open;
    bool refuseClose;
    int result;
    Ops calls;
  };
  const Case cases[] = {
      {"closed port makes no call", false, false, 0, {}},
      {"open port", true, false, 1, {Op::OutClose}},
      {"platform refuses the close", true, true, 1, {Op::OutClose}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDriver driver;
    CMidiOutPort port(driver);
    if (c.open) {
      ASSERT_EQ(port.Open(0), 1);
    }
    if (c.refuseClose) {
      driver.Fail(Op::OutClose);
    }
    driver.ClearCalls();
    EXPECT_EQ(port.Close(), c.result);
    EXPECT_EQ(driver.Calls(), c.calls);
    EXPECT_FALSE(port.IsOpen());
    const std::uint8_t message[] = {0xF0, 0x7E, 0xF7};
    driver.ClearCalls();
    EXPECT_EQ(port.SendLong(message, sizeof message), 0);
    EXPECT_EQ(driver.TotalCalls(), 0);
  }
}

struct SendCase {
  const char* name;
  bool open;
  std::optional<Op> refused;
  int sleepsUntilDone;
  std::size_t length;  // 0: the test message's own length
  int result;
  Ops calls;
};

TEST(MidiOutPortTest, SendLongPreparesSendsWaitsAndAlwaysUnprepares) {
  const std::vector<std::uint8_t> message = test::SysEx(21);
  const std::size_t tooLongForAHeader = std::size_t{1} << 32;
  const SendCase cases[] = {
      {"closed port makes no call", false, std::nullopt, 0, 0, 0, {}},
      {"prepare refused", true, Op::OutPrepareHeader, 0, 0, 0, {Op::OutPrepareHeader}},
      {"send refused after prepare", true, Op::OutLongMsg, 0, 0, 0,
       {Op::OutPrepareHeader, Op::OutLongMsg, Op::OutUnprepareHeader}},
      {"done at once: tested before any sleep", true, std::nullopt, 0, 0, 1,
       {Op::OutPrepareHeader, Op::OutLongMsg, Op::OutUnprepareHeader}},
      {"done after three sleeps", true, std::nullopt, 3, 0, 1,
       {Op::OutPrepareHeader, Op::OutLongMsg, Op::Sleep, Op::Sleep, Op::Sleep, Op::OutUnprepareHeader}},
      {"unprepare refused still reports sent", true, Op::OutUnprepareHeader, 0, 0, 1,
       {Op::OutPrepareHeader, Op::OutLongMsg, Op::OutUnprepareHeader}},
  };
  for (const SendCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDriver driver;
    driver.SetCompletion(RecordingDriver::Completion::AfterSleeps, c.sleepsUntilDone);
    CMidiOutPort port(driver);
    if (c.open) {
      ASSERT_EQ(port.Open(0), 1);
    }
    if (c.refused) {
      driver.Fail(*c.refused);
    }
    driver.ClearCalls();
    EXPECT_EQ(port.SendLong(message.data(), message.size()), c.result);
    EXPECT_EQ(driver.Calls(), c.calls);
    for (std::uint32_t ms : driver.SleepArguments()) {
      EXPECT_EQ(ms, kDoneFlagSleepMs);
    }
    if (c.refused != Op::OutUnprepareHeader) {
      EXPECT_EQ(driver.PreparedOutHeaders(), 0);
    }
    if (!c.calls.empty()) {
      const RecordingDriver::SeenHeader seen = driver.LastOutPrepared();
      EXPECT_EQ(seen.data, message.data());  // the caller's bytes, not a copy
      EXPECT_EQ(seen.length, message.size());
      EXPECT_EQ(seen.flags, 0u);
    }
    if (c.result == 1) {
      EXPECT_EQ(driver.SentMessages(), std::vector<std::vector<std::uint8_t>>{message});
    }
  }
  // A length that one header cannot describe is refused whole, never cut.
  RecordingDriver driver;
  CMidiOutPort port(driver);
  ASSERT_EQ(port.Open(0), 1);
  driver.ClearCalls();
  EXPECT_EQ(port.SendLong(message.data(), tooLongForAHeader), 0);
  EXPECT_EQ(driver.TotalCalls(), 0);
}

TEST(MidiOutPortTest, TwoSendersGoOutOneAfterTheOtherEachWaitingForItsOwn) {
  RecordingDriver driver;
  // Every message needs two done-flag sleeps, so a second sender that did not
  // wait its turn would have its message pending beside the first.
  driver.SetCompletion(RecordingDriver::Completion::AfterSleeps, 2);
  CMidiOutPort port(driver);
  ASSERT_EQ(port.Open(0), 1);
  constexpr int kPerSender = 2000;
  std::atomic<int> failures{0};
  std::atomic<int> ready{0};
  auto sender = [&](std::uint8_t id) {
    ++ready;
    while (ready.load() < 2) {  // start together
    }
    for (int i = 0; i < kPerSender; ++i) {
      const auto message = test::TaggedSysEx(id, i, 8 + (i * 37 + id) % 300);
      if (port.SendLong(message.data(), message.size()) != 1) {
        ++failures;
      }
    }
  };
  std::thread worker(sender, 1);
  std::thread dispatcher(sender, 2);
  worker.join();
  dispatcher.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(driver.MaxPendingOutput(), 1);
  EXPECT_EQ(driver.SentMessages().size(), 2u * kPerSender);
  EXPECT_EQ(driver.PreparedOutHeaders(), 0);
}

TEST(MidiOutPortTest, CloseDuringASendDoesNotWaitAndTheSenderStillReturns) {
  RecordingDriver driver;
  driver.SetCompletion(RecordingDriver::Completion::Manually);
  CMidiOutPort port(driver);
  ASSERT_EQ(port.Open(0), 1);
  const std::vector<std::uint8_t> message = test::SysEx(64);
  std::atomic<int> result{-1};
  std::thread sender([&] { result = port.SendLong(message.data(), message.size()); });
  ASSERT_TRUE(driver.WaitForPendingOutput());

  // The platform refuses to close with a message still going out; the port
  // forgets the device at once all the same, without waiting for the sender.
  EXPECT_EQ(port.Close(), 1);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(result.load(), -1);

  ASSERT_TRUE(driver.CompletePendingOutput());
  sender.join();
  EXPECT_EQ(result.load(), 1);
  // Once its message was done the sender closed the device the port had let go.
  EXPECT_EQ(driver.OpenOutDevices(), 0);
  EXPECT_EQ(driver.PreparedOutHeaders(), 0);

  driver.SetCompletion(RecordingDriver::Completion::Immediately);
  ASSERT_EQ(port.Open(0), 1);
  EXPECT_EQ(port.SendLong(message.data(), message.size()), 1);
}

TEST(MidiOutPortTest, DestroyingAnOpenPortClosesIt) {
  RecordingDriver driver;
  {
    CMidiOutPort port(driver);
    ASSERT_EQ(port.Open(2), 1);
  }
  EXPECT_EQ(driver.Count(Op::OutClose), 1);
  EXPECT_EQ(driver.OpenOutDevices(), 0);
}

}  // namespace
}  // namespace kv::midi
