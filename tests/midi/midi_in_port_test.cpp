#include "midi/midi_in_port.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "midi/drivers/recording_driver.h"
#include "tests/midi/sysex_bytes.h"

namespace kv::midi {
namespace {

using Op = RecordingDriver::Op;
using Ops = std::vector<Op>;
using Bytes = std::vector<std::uint8_t>;

const Ops kStartCalls = {Op::InOpen, Op::InReset, Op::InPrepareHeader, Op::InAddBuffer, Op::InStart};
const Ops kCloseCalls = {Op::InStop, Op::InReset, Op::InUnprepareHeader, Op::InClose};

// Takes every queued entry, oldest first.
std::vector<Bytes> Drain(CMidiInPort& port) {
  std::vector<Bytes> entries;
  while (SysExView view = port.GetFirstMessage()) {
    entries.emplace_back(view.data, view.data + view.length);
    port.RemoveFirstMessage();
  }
  return entries;
}

// The driver holds nothing of the port's any more.
void ExpectDriverHoldsNothing(const RecordingDriver& driver) {
  EXPECT_EQ(driver.OpenInDevices(), 0);
  EXPECT_EQ(driver.PreparedInHeaders(), 0);
  EXPECT_EQ(driver.LentHeader(), nullptr);
}

TEST(MidiInPortTest, StartOpensWithTheCallbackAndLendsOneZeroedBuffer) {
  RecordingDriver driver;
  CMidiInPort port(driver);
  port.SetDeviceIndex(2);
  ASSERT_EQ(port.Start(), 1);
  EXPECT_TRUE(port.IsStarted());
  EXPECT_EQ(driver.Calls(), kStartCalls);
  EXPECT_EQ(driver.LastInOpenDevice(), 2u);
  EXPECT_EQ(driver.LastInOpenFlags(), kCallbackFunction);
  EXPECT_EQ(driver.LastInInstance(), reinterpret_cast<std::uintptr_t>(&port));
  const MidiHeader* lent = driver.LentHeader();
  ASSERT_NE(lent, nullptr);
  ASSERT_EQ(lent->bufferLength, kInputBufferSize);
  EXPECT_EQ(Bytes(lent->data, lent->data + lent->bufferLength), Bytes(kInputBufferSize, 0));

  driver.ClearCalls();
  EXPECT_EQ(port.Start(), 1);  // already started: no platform call
  EXPECT_EQ(driver.TotalCalls(), 0);
}

TEST(MidiInPortTest, StartFailingPartWayReleasesWhatItAcquired) {
  struct Case {
    const char* name;
    Op refused;
    Ops calls;
    int closeResult;  // Close afterwards: 0 if no device was ever opened
  };
  const Case cases[] = {
      {"open refused", Op::InOpen, {Op::InOpen}, 0},
      {"reset refused", Op::InReset, {Op::InOpen, Op::InReset, Op::InClose}, 1},
      {"prepare refused", Op::InPrepareHeader, {Op::InOpen, Op::InReset, Op::InPrepareHeader, Op::InClose}, 1},
      {"add buffer refused", Op::InAddBuffer,
       {Op::InOpen, Op::InReset, Op::InPrepareHeader, Op::InAddBuffer, Op::InUnprepareHeader, Op::InClose}, 1},
      {"start refused", Op::InStart,
       {Op::InOpen, Op::InReset, Op::InPrepareHeader, Op::InAddBuffer, Op::InStart, Op::InReset,
        Op::InUnprepareHeader, Op::InClose},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDriver driver;
    CMidiInPort port(driver);
    driver.Fail(c.refused);
    EXPECT_EQ(port.Start(), 0);
    EXPECT_FALSE(port.IsStarted());
    EXPECT_EQ(driver.Calls(), c.calls);
    ExpectDriverHoldsNothing(driver);

    driver.ClearCalls();
    EXPECT_EQ(port.Close(), c.closeResult);
    EXPECT_EQ(driver.TotalCalls(), 0);  // not started: nothing to stop

    driver.ClearFailures();
    EXPECT_EQ(port.Start(), 1);  // the dialog's next Execute works
  }
}

TEST(MidiInPortTest, NothingSelectedReachesThePlatformAsAllOnes) {
  RecordingDriver driver;
  CMidiInPort port(driver);
  const int nothingSelected = -1;
  port.SetDeviceIndex(static_cast<std::uint32_t>(nothingSelected));
  EXPECT_EQ(port.Start(), 0);
  EXPECT_EQ(driver.LastInOpenDevice(), 0xFFFFFFFFu);
}

TEST(MidiInPortTest, CloseStopsResetsUnpreparesAndClosesAndLeavesTheQueue) {
  RecordingDriver driver;
  CMidiInPort port(driver);
  EXPECT_EQ(port.Close(), 0);  // never opened a device
  EXPECT_EQ(driver.TotalCalls(), 0);

  ASSERT_EQ(port.Start(), 1);
  const Bytes message = test::SysEx(15);
  ASSERT_TRUE(driver.HandBack(message));
  driver.ClearCalls();
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(driver.Calls(), kCloseCalls);
  EXPECT_FALSE(port.IsStarted());
  ExpectDriverHoldsNothing(driver);

  // The entry survives Close and a new Start, and is returned like a new one.
  ASSERT_EQ(port.Start(), 1);
  EXPECT_EQ(Drain(port), std::vector<Bytes>{message});
}

TEST(MidiInPortTest, APartlyFilledBufferHandedBackByStopBecomesAnEntry) {
  RecordingDriver driver;
  CMidiInPort port(driver);
  ASSERT_EQ(port.Start(), 1);
  const Bytes partial = {0xF0, 0x43, 0x10};
  driver.SetBytesOnStop(partial);
  driver.ClearCalls();
  EXPECT_EQ(port.Close(), 1);
  // Re-armed after the stop, handed back empty by the reset and not re-armed,
  // so unprepare and close find no buffer with the platform.
  EXPECT_EQ(driver.Calls(), (Ops{Op::InStop, Op::InPrepareHeader, Op::InAddBuffer, Op::InReset,
                                 Op::InUnprepareHeader, Op::InClose}));
  ExpectDriverHoldsNothing(driver);
  EXPECT_EQ(Drain(port), std::vector<Bytes>{partial});
}

TEST(MidiInPortTest, AFailedCloseStepSkipsTheRestAndNeverFreesABufferTheDriverHolds) {
  struct Case {
    const char* name;
    Op refused;
    Ops calls;
    bool stillLent;  // the driver kept the buffer and can still fill it
  };
  const Case cases[] = {
      {"stop refused", Op::InStop, {Op::InStop}, true},
      {"reset refused", Op::InReset, {Op::InStop, Op::InReset}, true},
      {"unprepare refused", Op::InUnprepareHeader, {Op::InStop, Op::InReset, Op::InUnprepareHeader}, false},
      {"close refused", Op::InClose, kCloseCalls, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDriver driver;
    {
      CMidiInPort port(driver);
      ASSERT_EQ(port.Start(), 1);
      driver.Fail(c.refused);
      driver.ClearCalls();
      EXPECT_EQ(port.Close(), 1);
      EXPECT_EQ(driver.Calls(), c.calls);
      EXPECT_FALSE(port.IsStarted());
      EXPECT_EQ(driver.LentHeader() != nullptr, c.stillLent);
      if (c.stillLent) {
        // The driver fills the buffer it kept: the memory is still the port's
        // (AddressSanitizer would report a write into freed memory).
        const Bytes late = test::SysEx(40);
        ASSERT_TRUE(driver.HandBack(late));
        EXPECT_EQ(Drain(port), std::vector<Bytes>{late});
      }
      driver.ClearFailures();
    }
    // Destruction asked the driver once more and got everything back.
    ExpectDriverHoldsNothing(driver);
  }
}

struct HandBackCase {
  const char* name;
  Bytes bytes;
  std::optional<std::uint32_t> recorded;  // what a faulty driver claims
  bool done;
  bool rearmRefused;
  std::optional<Bytes> entry;
  bool rearmed;
};

TEST(MidiInPortTest, EachHandedBackBufferBecomesAnEntryAndIsReArmed) {
  const Bytes full = test::SysEx(kInputBufferSize);
  const HandBackCase cases[] = {
      {"15-byte message", test::SysEx(15), std::nullopt, true, false, test::SysEx(15), true},
      {"no bytes: not re-armed", {}, std::nullopt, true, false, std::nullopt, false},
      {"done flag clear: ignored", test::SysEx(15), std::nullopt, false, false, std::nullopt, false},
      {"count beyond the buffer is cut to it", full, kInputBufferSize + 100, true, false, full, true},
      {"re-arm refused: kept, no further input", test::SysEx(9), std::nullopt, true, true, test::SysEx(9), false},
  };
  for (const HandBackCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDriver driver;
    CMidiInPort port(driver);
    ASSERT_EQ(port.Start(), 1);
    if (c.rearmRefused) {
      driver.Fail(Op::InAddBuffer);
    }
    ASSERT_TRUE(driver.HandBack(c.bytes, c.recorded, c.done));
    const std::vector<Bytes> entries = Drain(port);
    if (c.entry) {
      EXPECT_EQ(entries, std::vector<Bytes>{*c.entry});
    } else {
      EXPECT_TRUE(entries.empty());
    }
    EXPECT_EQ(driver.LentHeader() != nullptr, c.rearmed);
    // Without a lent buffer nothing further can arrive until the next Start.
    EXPECT_EQ(driver.HandBack(test::SysEx(7)), c.rearmed);
    driver.ClearFailures();
  }
}

TEST(MidiInPortTest, OtherReportsAddNothing) {
  RecordingDriver driver;
  CMidiInPort port(driver);
  ASSERT_EQ(port.Start(), 1);
  const MidiHeader* lent = driver.LentHeader();
  driver.ClearCalls();
  for (const std::uint32_t message : {kMimData, kMimError, kMimLongError, kMimOpen, kMimClose}) {
    ASSERT_TRUE(driver.Report(message, 0x7F4090, 0));
  }
  EXPECT_FALSE(port.GetFirstMessage());
  EXPECT_EQ(driver.TotalCalls(), 0);
  EXPECT_EQ(driver.LentHeader(), lent);
}

TEST(MidiInPortTest, EntriesKeepArrivalOrderAndALongMessageStaysInPieces) {
  RecordingDriver driver;
  CMidiInPort port(driver);
  ASSERT_EQ(port.Start(), 1);
  const Bytes first = test::SysEx(15, 1);
  const Bytes second = test::SysEx(20, 2);
  const Bytes longMessage = test::SysEx(kInputBufferSize + 1, 3);
  const Bytes head(longMessage.begin(), longMessage.begin() + kInputBufferSize);
  const Bytes tail = {0xF7};
  for (const Bytes& b : {first, second, head, tail}) {
    ASSERT_TRUE(driver.HandBack(b));
  }
  const std::vector<Bytes> entries = Drain(port);
  ASSERT_EQ(entries, (std::vector<Bytes>{first, second, head, tail}));
  EXPECT_EQ(entries[2].front(), 0xF0);
  EXPECT_NE(entries[2].back(), 0xF7);

  // Empty queue: nothing to show, nothing to remove.
  EXPECT_FALSE(port.GetFirstMessage());
  port.RemoveFirstMessage();
  EXPECT_FALSE(port.GetFirstMessage());
}

TEST(MidiInPortTest, DestructionFreesEveryEntry) {
  // LeakSanitizer checks the freeing.
  RecordingDriver driver;
  {
    CMidiInPort port(driver);
    ASSERT_EQ(port.Start(), 1);
    const Bytes message = test::SysEx(6);
    for (int i = 0; i < 1000; ++i) {
      ASSERT_TRUE(driver.HandBack(message));
    }
  }
  ExpectDriverHoldsNothing(driver);
}

}  // namespace
}  // namespace kv::midi
