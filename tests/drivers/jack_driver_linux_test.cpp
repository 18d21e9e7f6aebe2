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

// Takes entries from the queue until they hold `bytes` bytes in all or
// `limit` has passed.
std::vector<Bytes> Collect(CMidiInPort& in, std::size_t bytes,
                           std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  std::vector<Bytes> entries;
  std::size_t total = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
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

Bytes Joined(const std::vector<Bytes>& pieces) {
  Bytes joined;
  for (const Bytes& piece : pieces) joined.insert(joined.end(), piece.begin(), piece.end());
  return joined;
}

// A busy machine can make JACK drop an event, as the protocol expects of any
// MIDI link (it repeats a message that got no answer); what must never happen
// is a message that arrives cut, joined to another or changed. So a message
// whose echo does not come back is sent again, a few times at most; the
// pieces of the echo that came back whole are returned.
std::vector<Bytes> RoundTrip(CMidiOutPort& out, CMidiInPort& in, const Bytes& message) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    EXPECT_EQ(out.SendLong(message.data(), message.size()), 1);
    std::vector<Bytes> pieces = Collect(in, message.size(), std::chrono::seconds(2));
    if (pieces.empty()) continue;  // lost on the way: send again
    EXPECT_EQ(Joined(pieces), message);
    return pieces;
  }
  ADD_FAILURE() << "a message of " << message.size() << " bytes never came back";
  return {};
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

  // Sent back to back: what comes back is the messages, each whole, in the
  // order sent (one dropped by a busy machine is sent again afterwards).
  std::vector<Bytes> small;
  std::size_t smallBytes = 0;
  for (std::uint8_t i = 0; i < 20; ++i) {
    small.push_back(SysEx(7 + i, i));
    smallBytes += small.back().size();
    ASSERT_EQ(out.SendLong(small.back().data(), small.back().size()), 1);
  }
  const std::vector<Bytes> received = Collect(in, smallBytes);
  std::size_t next = 0;
  for (const Bytes& entry : received) {
    while (next < small.size() && small[next] != entry) RoundTrip(out, in, small[next++]);
    ASSERT_LT(next, small.size()) << "an entry that is no message sent, or out of order";
    ++next;
  }
  while (next < small.size()) RoundTrip(out, in, small[next++]);

  // The longest message the protocol sends, in three pieces of the buffer.
  const Bytes large = SysEx(18742, 3);
  const std::vector<Bytes> pieces = RoundTrip(out, in, large);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].size(), 8192u);
  EXPECT_EQ(pieces[1].size(), 8192u);

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
