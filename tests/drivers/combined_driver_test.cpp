// Two drivers behind one numbering, over in-process loopback drivers.
#include "midi/drivers/combined_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "midi/drivers/loopback_driver.h"

namespace kv::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Fixture {
  LoopbackDriver* first = nullptr;
  LoopbackDriver* second = nullptr;
  std::unique_ptr<CombinedDriver> combined;

  Fixture() {
    auto a = std::make_unique<LoopbackDriver>(std::vector<std::string>{"TARVO KV Series", "Synth"},
                                              std::vector<std::string>{"Keyboard"});
    auto b = std::make_unique<LoopbackDriver>(std::vector<std::string>{"TARVO KV Series", "Other"},
                                              std::vector<std::string>{"TARVO KV Series"});
    first = a.get();
    second = b.get();
    std::vector<CombinedDriver::Member> members;
    members.push_back({"ALSA", std::move(a)});
    members.push_back({"JACK", std::move(b)});
    combined = std::make_unique<CombinedDriver>(std::move(members));
  }
};

std::vector<std::string> Names(MidiDriver& driver, bool output) {
  std::vector<std::string> names;
  const std::uint32_t count = output ? driver.OutGetNumDevs() : driver.InGetNumDevs();
  for (std::uint32_t i = 0; i < count; ++i) {
    MidiCaps caps;
    if (output) {
      driver.OutGetDevCaps(i, &caps, kMidiOutCapsSize);
    } else {
      driver.InGetDevCaps(i, &caps, kMidiInCapsSize);
    }
    names.emplace_back(caps.productName);
  }
  return names;
}

TEST(CombinedDriverTest, FirstDriversDevicesFirstAndOnlyTheFirstOfANameKeepsIt) {
  Fixture f;
  EXPECT_EQ(Names(*f.combined, true),
            (std::vector<std::string>{"TARVO KV Series", "Synth", "TARVO KV Series [JACK]", "Other"}));
  EXPECT_EQ(Names(*f.combined, false), (std::vector<std::string>{"Keyboard", "TARVO KV Series"}));
  MidiCaps caps;
  EXPECT_EQ(f.combined->OutGetDevCaps(4, &caps, kMidiOutCapsSize), kMmBadDeviceId);
}

TEST(CombinedDriverTest, OpensAndSendsThroughTheDriverThatListedTheDevice) {
  Fixture f;
  std::mutex mutex;
  std::vector<std::pair<std::uint32_t, Bytes>> seenByFirst, seenBySecond;
  f.first->SetDeviceHandler([&](std::uint32_t device, const std::uint8_t* data, std::size_t length) {
    std::lock_guard lock(mutex);
    seenByFirst.emplace_back(device, Bytes(data, data + length));
  });
  f.second->SetDeviceHandler([&](std::uint32_t device, const std::uint8_t* data, std::size_t length) {
    std::lock_guard lock(mutex);
    seenBySecond.emplace_back(device, Bytes(data, data + length));
  });
  ASSERT_EQ(f.combined->OutGetNumDevs(), 4u);
  MidiHandle synth = 0;
  MidiHandle other = 0;
  ASSERT_EQ(f.combined->OutOpen(&synth, 1), kMmNoError);
  ASSERT_EQ(f.combined->OutOpen(&other, 3), kMmNoError);
  EXPECT_NE(synth, other);

  Bytes message{0xF0, 0x01, 0xF7};
  MidiHeader header;
  header.data = message.data();
  header.bufferLength = 3;
  ASSERT_EQ(f.combined->OutPrepareHeader(other, &header, kMidiHeaderSize), kMmNoError);
  ASSERT_EQ(f.combined->OutLongMsg(other, &header, kMidiHeaderSize), kMmNoError);
  EXPECT_NE(header.flags.load() & kMidiHeaderDone, 0u);
  EXPECT_EQ(f.combined->OutUnprepareHeader(other, &header, kMidiHeaderSize), kMmNoError);
  EXPECT_TRUE(seenByFirst.empty());
  ASSERT_EQ(seenBySecond.size(), 1u);
  EXPECT_EQ(seenBySecond[0], std::make_pair(1u, message));

  EXPECT_EQ(f.combined->OutClose(other), kMmNoError);
  EXPECT_EQ(f.combined->OutLongMsg(other, &header, kMidiHeaderSize), kMmInvalidHandle);
  EXPECT_EQ(f.combined->OutClose(synth), kMmNoError);
}

struct Watch {
  MidiDriver* driver = nullptr;
  std::atomic<MidiHandle> handle{0};
  std::mutex mutex;
  std::vector<MidiHandle> handlesSeen;
  std::vector<Bytes> received;
  static void Callback(MidiHandle handle, std::uint32_t message, std::uintptr_t instance, std::uintptr_t param1,
                       std::uintptr_t) {
    auto* self = reinterpret_cast<Watch*>(instance);
    std::lock_guard lock(self->mutex);
    self->handlesSeen.push_back(handle);
    if (message != kMimLongData) return;
    auto* header = reinterpret_cast<MidiHeader*>(param1);
    if (header->bytesRecorded == 0) return;
    self->received.emplace_back(header->data, header->data + header->bytesRecorded);
    self->driver->InAddBuffer(handle, header, kMidiHeaderSize);  // re-armed under the handle it was given
  }
};

TEST(CombinedDriverTest, InputCallbacksCarryTheCombinedHandle) {
  Fixture f;
  ASSERT_EQ(f.combined->InGetNumDevs(), 2u);
  // Open the first driver's input too, so the second's handle differs from its own.
  Watch unused;
  unused.driver = f.combined.get();
  MidiHandle keyboard = 0;
  ASSERT_EQ(f.combined->InOpen(&keyboard, 0, &Watch::Callback, reinterpret_cast<std::uintptr_t>(&unused),
                               kCallbackFunction),
            kMmNoError);

  Watch watch;
  watch.driver = f.combined.get();
  MidiHandle pedal = 0;
  ASSERT_EQ(f.combined->InOpen(&pedal, 1, &Watch::Callback, reinterpret_cast<std::uintptr_t>(&watch),
                               kCallbackFunction),
            kMmNoError);
  Bytes storage(64);
  MidiHeader header;
  header.data = storage.data();
  header.bufferLength = 64;
  ASSERT_EQ(f.combined->InPrepareHeader(pedal, &header, kMidiHeaderSize), kMmNoError);
  ASSERT_EQ(f.combined->InAddBuffer(pedal, &header, kMidiHeaderSize), kMmNoError);
  ASSERT_EQ(f.combined->InStart(pedal), kMmNoError);
  f.second->SendToHost(0, Bytes{0xF0, 0x01, 0xF7});
  f.second->SendToHost(0, Bytes{0xF0, 0x02, 0xF7});
  ASSERT_TRUE(f.second->WaitIdle());

  ASSERT_EQ(f.combined->InStop(pedal), kMmNoError);
  ASSERT_EQ(f.combined->InReset(pedal), kMmNoError);
  ASSERT_EQ(f.combined->InUnprepareHeader(pedal, &header, kMidiHeaderSize), kMmNoError);
  ASSERT_EQ(f.combined->InClose(pedal), kMmNoError);
  EXPECT_EQ(f.combined->InClose(pedal), kMmInvalidHandle);
  EXPECT_EQ(f.combined->InClose(keyboard), kMmNoError);

  std::lock_guard lock(watch.mutex);
  EXPECT_EQ(watch.received, (std::vector<Bytes>{{0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0xF7}}));
  ASSERT_FALSE(watch.handlesSeen.empty());
  for (MidiHandle seen : watch.handlesSeen) EXPECT_EQ(seen, pedal);
}

}  // namespace
}  // namespace kv::midi
