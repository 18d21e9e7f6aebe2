// The reply dispatcher over a scripted input queue: what it records, what it
// answers, and that it never reads past a message or leaves one behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "engine/sysex.h"
#include "engine/update_engine.h"
#include "midi/drivers/recording_driver.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "tests/engine/recording_rig.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using midi::RecordingDriver;
using testing_rig::Rig;

constexpr std::int32_t kUntouchedStatus = 0x1234;
constexpr std::uint8_t kUntouchedModel = 0xAA;

Bytes Status(std::uint8_t model, std::uint8_t code) { return {0xF0, 0x52, 0x00, model, 0x00, code, 0xF7}; }

Bytes HostIdentityReply() {
  std::uint8_t reply[kHostIdentityReplyLength];
  StoreHostIdentityReply(reply);
  return Bytes(reply, reply + kHostIdentityReplyLength);
}

struct Effect {
  std::vector<Bytes> sent;
  std::int32_t status = kUntouchedStatus;
  std::uint8_t detectedModel = kUntouchedModel;
  bool signalled = false;
};

// One message through one PollReplies call, from a known reply signal.
Effect DispatchOne(std::uint8_t modelId, const Bytes& message) {
  Rig<> rig;
  ModelId.store(modelId);
  rig.engine.Signal().status.store(kUntouchedStatus);
  rig.engine.Signal().detectedModel.store(kUntouchedModel);
  rig.Queue(message);
  rig.engine.PollReplies();
  EXPECT_TRUE(rig.QueueEmpty());
  Effect effect;
  effect.sent = rig.driver.SentMessages();
  effect.status = rig.engine.Signal().status.load();
  effect.detectedModel = rig.engine.Signal().detectedModel.load();
  effect.signalled = rig.engine.Signal().Wait(0);
  if (effect.signalled) {
    EXPECT_FALSE(rig.engine.Signal().Wait(0)) << "one message sets the event once";
  }
  return effect;
}

struct Case {
  const char* what;
  std::uint8_t modelId;
  Bytes message;
  std::vector<Bytes> sent;
  std::int32_t status;
  std::uint8_t detectedModel;
  bool signalled;
};

TEST(Dispatcher, ActsOnEachKindOfMessage) {
  const Bytes identityReply5F{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x5F, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
  const Case cases[] = {
      {"status 8", 0x57, Status(0x57, 0x08), {}, 8, kUntouchedModel, true},
      {"status from any sender byte", 0x5F, {0xF0, 0x52, 0x33, 0x5F, 0x00, 0x00, 0xF7}, {}, 0, kUntouchedModel, true},
      {"status without status byte records the end byte", 0x57, {0xF0, 0x52, 0x00, 0x57, 0x00, 0xF7}, {}, 0xF7,
       kUntouchedModel, true},
      {"status of another model", 0x57, Status(0x5F, 0x00), {}, kUntouchedStatus, kUntouchedModel, false},
      {"request of another model", 0x57, {0xF0, 0x52, 0x00, 0x5F, 0x01, 0xF7}, {}, kUntouchedStatus,
       kUntouchedModel, false},
      {"identity reply, whatever ModelId", 0x57, identityReply5F, {}, 0, 0x5F, true},
      {"identity reply, any device and maker, cut after byte 6", 0x12, {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x41, 0x57},
       {}, 0, 0x57, true},
      {"identity request", 0x57, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, {HostIdentityReply()}, kUntouchedStatus,
       kUntouchedModel, false},
      {"other general information", 0x5F, {0xF0, 0x7E, 0x00, 0x06, 0x03, 0xF7}, {Status(0x5F, 0x01)},
       kUntouchedStatus, kUntouchedModel, false},
      {"universal, not general information", 0x57, {0xF0, 0x7E, 0x00, 0x07, 0x01, 0xF7}, {}, kUntouchedStatus,
       kUntouchedModel, false},
      {"universal real-time", 0x57, {0xF0, 0x7F, 0x00, 0x06, 0x02, 0x52, 0x57, 0xF7}, {}, kUntouchedStatus,
       kUntouchedModel, false},
      {"another maker", 0x57, {0xF0, 0x41, 0x00, 0x57, 0x00, 0x00, 0xF7}, {}, kUntouchedStatus, kUntouchedModel,
       false},
      {"no start byte", 0x57, {0xF7, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7}, {}, kUntouchedStatus, kUntouchedModel,
       false},
      {"piece without end byte, acted on by its head", 0x57, {0xF0, 0x52, 0x00, 0x57, 0x02, 0x10, 0x20}, {}, 0,
       kUntouchedModel, true},
  };
  for (const Case& c : cases) {
    const Effect e = DispatchOne(c.modelId, c.message);
    EXPECT_EQ(e.sent, c.sent) << c.what;
    EXPECT_EQ(e.status, c.status) << c.what;
    EXPECT_EQ(e.detectedModel, c.detectedModel) << c.what;
    EXPECT_EQ(e.signalled, c.signalled) << c.what;
  }
}

// Every command code of the matching model, taken as an unsigned byte.
TEST(Dispatcher, VendorCommandTable) {
  for (int code = 0; code <= 0xFF; ++code) {
    const Effect e = DispatchOne(0x57, {0xF0, 0x52, 0x00, 0x57, static_cast<std::uint8_t>(code), 0x09, 0xF7});
    std::vector<Bytes> answer;
    std::int32_t status = kUntouchedStatus;
    switch (code) {
      case 0x00: status = 0x09; break;
      case 0x02: status = 0; break;
      case 0x03: break;
      case 0x01: case 0x04: case 0x05: answer = {Status(0x57, 0x00)}; break;
      default: answer = {Status(0x57, 0x01)}; break;
    }
    EXPECT_EQ(e.sent, answer) << code;
    EXPECT_EQ(e.status, status) << code;
    EXPECT_EQ(e.signalled, status != kUntouchedStatus) << code;
    EXPECT_EQ(e.detectedModel, kUntouchedModel) << code;
  }
}

// A message is read only as far as it goes: too short for a byte a test or
// an action needs, it is dropped; long enough, it is acted on.
TEST(Dispatcher, ShortMessagesAreNeverReadPastTheirEnd) {
  const Case cases[] = {
      {"one byte", 0x57, {0xF0}, {}, kUntouchedStatus, kUntouchedModel, false},
      {"two bytes", 0x57, {0xF0, 0x52}, {}, kUntouchedStatus, kUntouchedModel, false},
      {"vendor without command", 0x57, {0xF0, 0x52, 0x00, 0x57}, {}, kUntouchedStatus, kUntouchedModel, false},
      {"status without status byte or end", 0x57, {0xF0, 0x52, 0x00, 0x57, 0x00}, {}, kUntouchedStatus,
       kUntouchedModel, false},
      {"identity reply without model", 0x57, {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52}, {}, kUntouchedStatus,
       kUntouchedModel, false},
      {"universal without sub-identifier", 0x57, {0xF0, 0x7E, 0x00, 0x06}, {}, kUntouchedStatus, kUntouchedModel,
       false},
      {"request needing only its first five bytes", 0x57, {0xF0, 0x52, 0x00, 0x57, 0x04}, {Status(0x57, 0x00)},
       kUntouchedStatus, kUntouchedModel, false},
      {"acknowledge needing only five bytes", 0x57, {0xF0, 0x52, 0x00, 0x57, 0x02}, {}, 0, kUntouchedModel, true},
      {"identity request of five bytes", 0x57, {0xF0, 0x7E, 0x00, 0x06, 0x01}, {HostIdentityReply()},
       kUntouchedStatus, kUntouchedModel, false},
  };
  for (const Case& c : cases) {
    const Effect e = DispatchOne(c.modelId, c.message);
    EXPECT_EQ(e.sent, c.sent) << c.what;
    EXPECT_EQ(e.status, c.status) << c.what;
    EXPECT_EQ(e.detectedModel, c.detectedModel) << c.what;
    EXPECT_EQ(e.signalled, c.signalled) << c.what;
  }
}

TEST(Dispatcher, EmptyQueueDoesNothing) {
  Rig<> rig;
  rig.driver.ClearCalls();
  rig.engine.PollReplies();
  EXPECT_EQ(rig.driver.TotalCalls(), 0);
  EXPECT_FALSE(rig.engine.Signal().Wait(0));
}

// The host's identity reply carries the last accepted model, never ModelId.
TEST(Dispatcher, IdentityAnswerCarriesTheAcceptedModel) {
  const Bytes request{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  EXPECT_EQ(DispatchOne(0x57, request).sent[0][6], 0x00);
  SetIdentityModel(0x5F);
  EXPECT_EQ(DispatchOne(0x57, request).sent[0][6], 0x5F);
  EXPECT_EQ(DispatchOne(0x12, request).sent[0][6], 0x5F);
}

// Queued messages are handled in arrival order within one call; two
// recorded replies leave the later status and a single pending signal.
TEST(Dispatcher, DrainsInArrivalOrderInOneCall) {
  Rig<> rig;
  rig.Queue(Status(0x57, 0x03));
  rig.Queue({0xF0, 0x52, 0x00, 0x57, 0x0A, 0xF7});
  rig.Queue({0xF0, 0x52, 0x00, 0x57, 0x05, 0xF7});
  rig.Queue(Status(0x57, 0x09));
  rig.engine.PollReplies();
  EXPECT_TRUE(rig.QueueEmpty());
  EXPECT_EQ(rig.driver.SentMessages(), (std::vector<Bytes>{Status(0x57, 0x01), Status(0x57, 0x00)}));
  EXPECT_EQ(rig.engine.Signal().status.load(), 9);
  EXPECT_TRUE(rig.engine.Signal().Wait(0));
  EXPECT_FALSE(rig.engine.Signal().Wait(0));
}

// A pedal that answers each of the host's answers with a new message while
// the dispatcher is still sending: the same call handles them all.
class ChattyDriver : public RecordingDriver {
 public:
  midi::MmResult OutLongMsg(midi::MidiHandle handle, midi::MidiHeader* header, std::uint32_t size) override {
    const midi::MmResult result = RecordingDriver::OutLongMsg(handle, header, size);
    if (remaining_ > 0) {
      --remaining_;
      HandBack(remaining_ > 0 ? Bytes{0xF0, 0x52, 0x00, 0x57, 0x01, 0xF7} : Status(0x57, 0x21));
    }
    return result;
  }
  int remaining_ = 5;
};

TEST(Dispatcher, MessagesArrivingDuringTheCallAreHandledByIt) {
  Rig<ChattyDriver> rig;
  rig.Queue({0xF0, 0x52, 0x00, 0x57, 0x01, 0xF7});
  rig.engine.PollReplies();
  EXPECT_TRUE(rig.QueueEmpty());
  EXPECT_EQ(rig.driver.SentMessages().size(), 5u);
  EXPECT_EQ(rig.engine.Signal().status.load(), 0x21);
  EXPECT_TRUE(rig.engine.Signal().Wait(0));
}

// A dispatcher answer fails to send: it is dropped and the rest is handled.
TEST(Dispatcher, FailedAnswerIsDroppedAndTheCallGoesOn) {
  Rig<> rig;
  rig.driver.Fail(RecordingDriver::Op::OutLongMsg);
  rig.Queue({0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7});
  rig.Queue(Status(0x57, 0x00));
  rig.engine.PollReplies();
  EXPECT_TRUE(rig.QueueEmpty());
  EXPECT_EQ(rig.driver.Count(RecordingDriver::Op::OutLongMsg), 1);
  EXPECT_TRUE(rig.engine.Signal().Wait(0));
}

// Random and truncated messages, fixed seeds: every message is removed,
// nothing is read past its end (AddressSanitizer), and the only things the
// dispatcher ever sends are status answers 0 and 1 and the identity reply.
TEST(Dispatcher, SurvivesRandomAndTruncatedMessages) {
  const std::uint8_t firsts[] = {0xF0, 0xF0, 0xF0, 0xF7, 0x00};
  const std::uint8_t families[] = {0x52, 0x52, 0x7E, 0x7E, 0x7F, 0x41};
  const std::uint8_t models[] = {0x57, 0x57, 0x5F, 0x06, 0x06, 0x00};
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    Rig<> rig;
    std::mt19937 random(seed);
    auto pick = [&random](const auto& options) { return options[random() % std::size(options)]; };
    std::size_t queued = 0;
    for (int batch = 0; batch < 400; ++batch) {
      const int count = 1 + static_cast<int>(random() % 16);
      for (int i = 0; i < count; ++i) {
        // Mostly short messages cut anywhere, now and then a long one.
        const std::size_t length = (random() % 50 == 0) ? 1 + random() % midi::kInputBufferSize : 1 + random() % 9;
        Bytes m(length);
        for (auto& b : m) b = static_cast<std::uint8_t>(random());
        const std::uint8_t head[] = {pick(firsts), pick(families), static_cast<std::uint8_t>(random()),
                                     pick(models), static_cast<std::uint8_t>(random() % 8)};
        for (std::size_t k = 0; k < length && k < 5; ++k) m[k] = head[k];
        rig.Queue(m);
        queued += 1;
      }
      rig.engine.PollReplies();
      ASSERT_TRUE(rig.QueueEmpty()) << seed;
      rig.engine.Signal().Wait(0);
    }
    const std::vector<Bytes> sent = rig.driver.SentMessages();
    EXPECT_LE(sent.size(), queued);
    EXPECT_GT(sent.size(), 0u);
    for (const Bytes& s : sent) {
      const bool statusAnswer = s == Status(0x57, 0x00) || s == Status(0x57, 0x01);
      EXPECT_TRUE(statusAnswer || s == HostIdentityReply()) << seed;
    }
  }
}

}  // namespace
}  // namespace kv
