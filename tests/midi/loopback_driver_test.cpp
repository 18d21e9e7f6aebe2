// The ports over the in-process devices: what a platform driver would do,
// with real threads.
#include "midi/drivers/loopback_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "tests/midi/sysex_bytes.h"

namespace kv::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;
const char* const kPedal = "TARVO KV Series";

std::vector<Bytes> Drain(CMidiInPort& port) {
  std::vector<Bytes> entries;
  while (SysExView view = port.GetFirstMessage()) {
    entries.emplace_back(view.data, view.data + view.length);
    port.RemoveFirstMessage();
  }
  return entries;
}

TEST(LoopbackDriverTest, TwoThreadsSendingThroughOnePortDeliverEveryMessageWholeAndInOrder) {
  LoopbackDriver driver(kPedal);
  std::mutex mutex;
  std::vector<Bytes> received;
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};
  driver.SetDeviceHandler([&](std::uint32_t device, const std::uint8_t* data, std::size_t length) {
    const int now = ++inside;
    int seen = mostInside.load();
    while (now > seen && !mostInside.compare_exchange_weak(seen, now)) {
    }
    EXPECT_EQ(device, 0u);
    Bytes copy(data, data + length);
    std::this_thread::yield();  // widen the window in which a second send would overlap
    {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(std::move(copy));
    }
    --inside;
  });
  CMidiOutPort port(driver);
  ASSERT_EQ(port.Open(0), 1);

  constexpr std::uint32_t kPerSender = 4000;
  auto lengthOf = [](std::uint8_t sender, std::uint32_t i) -> std::size_t {
    return 6 + (i * 131 + sender * 17) % 2100;  // up to a write-data message
  };
  std::atomic<int> failures{0};
  std::atomic<int> ready{0};
  auto sender = [&](std::uint8_t id) {
    ++ready;
    while (ready.load() < 2) {  // start together
    }
    for (std::uint32_t i = 0; i < kPerSender; ++i) {
      const Bytes message = test::TaggedSysEx(id, i, lengthOf(id, i));
      if (port.SendLong(message.data(), message.size()) != 1) ++failures;
    }
  };
  std::thread worker(sender, 1);
  std::thread dispatcher(sender, 2);
  worker.join();
  dispatcher.join();

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(mostInside.load(), 1);  // never two messages going out at once
  ASSERT_EQ(received.size(), 2 * kPerSender);
  std::uint32_t next[3] = {0, 0, 0};
  for (const Bytes& message : received) {
    ASSERT_GE(message.size(), 6u);
    const std::uint8_t id = message[1];
    ASSERT_TRUE(id == 1 || id == 2);
    const std::uint32_t sequence = test::SequenceOf(message.data());
    ASSERT_EQ(sequence, next[id]) << "sender " << int(id);  // each sender's order kept
    ASSERT_EQ(message, test::TaggedSysEx(id, sequence, lengthOf(id, sequence)));
    ++next[id];
  }
}

TEST(LoopbackDriverTest, AMessageLongerThanTheBufferArrivesInBufferSizedPieces) {
  LoopbackDriver driver(kPedal);
  CMidiInPort port(driver);
  ASSERT_EQ(port.Start(), 1);
  const Bytes message = test::SysEx(kInputBufferSize + 1);
  driver.SendToHost(0, message);
  const Bytes small = test::SysEx(15, 9);
  driver.SendToHost(0, small);
  ASSERT_TRUE(driver.WaitIdle());
  const std::vector<Bytes> entries = Drain(port);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], Bytes(message.begin(), message.begin() + kInputBufferSize));
  EXPECT_EQ(entries[0].front(), 0xF0);
  EXPECT_NE(entries[0].back(), 0xF7);
  EXPECT_EQ(entries[1], Bytes{0xF7});
  EXPECT_EQ(entries[2], small);
  EXPECT_EQ(port.Close(), 1);
}

TEST(LoopbackDriverTest, TheDeviceSideAnswersFromInsideItsHandler) {
  LoopbackDriver driver(kPedal);
  driver.SetDeviceHandler([&](std::uint32_t, const std::uint8_t* data, std::size_t length) {
    Bytes reply(data, data + length);
    reply[1] ^= 0x01;
    driver.SendToHost(0, reply);
  });
  CMidiOutPort out(driver);
  CMidiInPort in(driver);
  ASSERT_EQ(out.Open(0), 1);
  ASSERT_EQ(in.Start(), 1);
  const Bytes request = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  ASSERT_EQ(out.SendLong(request.data(), request.size()), 1);
  ASSERT_TRUE(driver.WaitIdle());
  EXPECT_EQ(Drain(in), (std::vector<Bytes>{{0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7}}));
}

TEST(LoopbackDriverTest, BytesWithNoBufferToGoToAreLostAndShortMessagesQueueNothing) {
  LoopbackDriver driver(kPedal);
  CMidiInPort port(driver);
  driver.SendToHost(0, test::SysEx(10, 1));  // not started yet
  ASSERT_TRUE(driver.WaitIdle());
  ASSERT_EQ(port.Start(), 1);
  driver.SendToHost(0, Bytes{0x90, 0x40, 0x7F});  // a note: a short-message report
  const Bytes delayed = test::SysEx(12, 2);
  const Bytes prompt = test::SysEx(13, 3);
  driver.SendToHost(0, delayed, 20);
  driver.SendToHost(0, prompt);  // queued later: never overtakes
  ASSERT_TRUE(driver.WaitIdle());
  EXPECT_EQ(Drain(port), (std::vector<Bytes>{delayed, prompt}));

  ASSERT_EQ(port.Close(), 1);
  driver.SendToHost(0, test::SysEx(14, 4));  // closed: lost
  ASSERT_TRUE(driver.WaitIdle());
  EXPECT_FALSE(port.GetFirstMessage());
}

TEST(LoopbackDriverTest, AnUnpluggedDeviceVanishesAndThePortsStillCloseCleanly) {
  LoopbackDriver driver(kPedal);
  int handled = 0;
  driver.SetDeviceHandler([&](std::uint32_t, const std::uint8_t*, std::size_t) { ++handled; });
  CMidiOutPort out(driver);
  CMidiInPort in(driver);
  ASSERT_EQ(out.Open(0), 1);
  ASSERT_EQ(in.Start(), 1);
  char name[260];
  out.GetDeviceName(0, name);
  EXPECT_STREQ(name, kPedal);

  driver.Unplug();
  const Bytes message = test::SysEx(8);
  EXPECT_EQ(out.SendLong(message.data(), message.size()), 0);
  EXPECT_EQ(handled, 0);
  driver.SendToHost(0, message);
  ASSERT_TRUE(driver.WaitIdle());
  EXPECT_FALSE(in.GetFirstMessage());
  EXPECT_EQ(out.GetDeviceCount(), 0u);
  EXPECT_EQ(in.GetDeviceCount(), 0u);
  in.GetDeviceName(0, name);
  EXPECT_STREQ(name, "");

  EXPECT_EQ(out.Close(), 1);
  EXPECT_EQ(in.Close(), 1);
  EXPECT_EQ(out.Open(0), 0);
  EXPECT_EQ(in.Start(), 0);
}

TEST(LoopbackDriverTest, ClosingAndRestartingWhileInputFlowsKeepsEveryEntryWhole) {
  // The UI thread closes and restarts the port while the device keeps sending
  // and the dispatcher drains: entries that arrive are whole messages, and
  // Close never frees the buffer under a hand-back in progress.
  LoopbackDriver driver(kPedal);
  CMidiInPort port(driver);
  ASSERT_EQ(port.Start(), 1);
  std::atomic<bool> stop{false};
  std::thread device([&] {
    for (std::uint32_t i = 0; !stop.load(); ++i) {
      driver.SendToHost(0, test::TaggedSysEx(3, i, 6 + i % 300));
      if (i % 64 == 0) driver.WaitIdle();  // keep the backlog small
    }
  });
  std::atomic<std::uint32_t> corrupt{0};
  std::atomic<std::uint32_t> entries{0};
  std::thread dispatcher([&] {
    while (!stop.load()) {
      if (SysExView view = port.GetFirstMessage()) {
        const std::uint32_t sequence = test::SequenceOf(view.data);
        const Bytes expected = test::TaggedSysEx(3, sequence, 6 + sequence % 300);
        if (view.length != expected.size() || !std::equal(expected.begin(), expected.end(), view.data)) {
          ++corrupt;
        }
        port.RemoveFirstMessage();
        ++entries;
      }
    }
  });
  for (int round = 0; round < 300 || entries.load() < 50; ++round) {
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Start(), 1);
  }
  EXPECT_EQ(port.Close(), 1);
  stop = true;
  device.join();
  dispatcher.join();
  ASSERT_TRUE(driver.WaitIdle());
  EXPECT_EQ(corrupt.load(), 0u);
}

}  // namespace
}  // namespace kv::midi
