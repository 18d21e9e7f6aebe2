// SysEx between the ports over a real JACK server started by the test: the
// platform driver finds a device by its pretty name, a message of any size
// the protocol uses arrives whole, a message a cycle cannot carry fails, and
// a server that goes away makes sends fail instead of hanging.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/drivers/platform_driver.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "tests/drivers/child_process.h"
#include "tests/drivers/jack_server.h"

#if defined(KV_HAVE_JACK)

namespace kv::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr const char* kPedalName = "TARVO KV Series";

template <typename Port>
int FindDevice(Port& port, const std::string& name) {
  int found = -1;
  const std::uint32_t count = port.GetDeviceCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    char buffer[260] = {};
    port.GetDeviceName(i, buffer);
    if (name == buffer) {
      EXPECT_EQ(found, -1) << "listed twice: " << name;
      found = static_cast<int>(i);
    }
  }
  return found;
}

// F0, data bytes, F7: `length` bytes in all (at least 2).
Bytes SysEx(std::size_t length, std::uint8_t seed) {
  Bytes message{0xF0};
  for (std::size_t i = 1; i + 1 < length; ++i) message.push_back(static_cast<std::uint8_t>((i + seed) % 0x80));
  message.push_back(0xF7);
  return message;
}

// Waits (bounded) until the queue holds `bytes` bytes in all; returns the entries.
std::vector<Bytes> Collect(CMidiInPort& in, std::size_t bytes) {
  std::vector<Bytes> entries;
  std::size_t total = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (total < bytes && std::chrono::steady_clock::now() < deadline) {
    if (SysExView view = in.GetFirstMessage()) {
      entries.emplace_back(view.data, view.data + view.length);
      total += view.length;
      in.RemoveFirstMessage();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return entries;
}

// A JACK server, an echo client named like the pedal in a process of its
// own, and the ports over the platform driver opened on it.
class JackDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.Start(error)) << error;
    ASSERT_TRUE(echo_.Start({KV_JACK_ECHO, kPedalName}));
    driver_ = CreatePlatformMidiDriver();
    out_ = std::make_unique<CMidiOutPort>(*driver_);
    in_ = std::make_unique<CMidiInPort>(*driver_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int outDevice = -1;
    int inDevice = -1;
    while ((outDevice < 0 || inDevice < 0) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      outDevice = FindDevice(*out_, kPedalName);
      inDevice = FindDevice(*in_, kPedalName);
    }
    ASSERT_GE(outDevice, 0);
    ASSERT_GE(inDevice, 0);
    in_->SetDeviceIndex(static_cast<std::uint32_t>(inDevice));
    ASSERT_EQ(in_->Start(), 1);
    ASSERT_EQ(out_->Open(static_cast<std::uint32_t>(outDevice)), 1);
  }
  void TearDown() override {
    out_.reset();
    in_.reset();
    driver_.reset();
  }

  test::JackServer server_;
  test::ChildProcess echo_;
  std::unique_ptr<MidiDriver> driver_;
  std::unique_ptr<CMidiOutPort> out_;
  std::unique_ptr<CMidiInPort> in_;
};

TEST_F(JackDriverTest, MessagesOfEverySizeArriveWholeAndInOrder) {
  CMidiOutPort& out = *out_;
  CMidiInPort& in = *in_;
  // The driver's own clients are never listed as devices.
  EXPECT_EQ(FindDevice(out, "kv-updater-in"), -1);
  EXPECT_EQ(out.GetDeviceCount(), 1u);
  EXPECT_EQ(in.GetDeviceCount(), 1u);

  std::vector<Bytes> small;
  std::size_t smallBytes = 0;
  for (std::uint8_t i = 0; i < 20; ++i) {
    small.push_back(SysEx(7 + i, i));
    smallBytes += small.back().size();
    ASSERT_EQ(out.SendLong(small.back().data(), small.back().size()), 1);
  }
  EXPECT_EQ(Collect(in, smallBytes), small);

  // The longest message the protocol sends, in three pieces of the buffer.
  const Bytes large = SysEx(18742, 3);
  ASSERT_EQ(out.SendLong(large.data(), large.size()), 1);
  const std::vector<Bytes> pieces = Collect(in, large.size());
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].size(), 8192u);
  EXPECT_EQ(pieces[1].size(), 8192u);
  Bytes joined;
  for (const Bytes& piece : pieces) joined.insert(joined.end(), piece.begin(), piece.end());
  EXPECT_EQ(joined, large);

  // More than one cycle can carry: refused, not lost quietly.
  for (const std::size_t length : {std::size_t{40000}, std::size_t{100000}}) {
    const Bytes tooLarge = SysEx(length, 5);
    EXPECT_EQ(out.SendLong(tooLarge.data(), tooLarge.size()), 0) << length;
  }
  EXPECT_EQ(in.Close(), 1);
  EXPECT_EQ(out.Close(), 1);
}

TEST_F(JackDriverTest, AServerThatGoesAwayMakesSendsFailAndClosesReturn) {
  CMidiOutPort& out = *out_;
  CMidiInPort& in = *in_;
  const Bytes message = SysEx(2359, 1);
  ASSERT_EQ(out.SendLong(message.data(), message.size()), 1);

  server_.Stop();
  // A sender meets the dead server: it returns, with a failure.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int sent = 1;
  while (sent == 1 && std::chrono::steady_clock::now() < deadline) {
    sent = out.SendLong(message.data(), message.size());
  }
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(in.Close(), 1);
  EXPECT_EQ(out.Close(), 1);
  EXPECT_EQ(driver_->OutGetNumDevs(), 0u);
}

}  // namespace
}  // namespace kv::midi

#endif  // KV_HAVE_JACK
