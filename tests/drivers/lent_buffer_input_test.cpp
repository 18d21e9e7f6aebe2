// The byte stream a MIDI service delivers, turned into lent buffers handed
// back one SysEx message (or one buffer-full) at a time.
#include "midi/drivers/lent_buffer_input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace kv::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Lends one buffer and, like the input port, lends it again after every
// hand-back that carried bytes; records what came back.
class Receiver {
 public:
  explicit Receiver(std::uint32_t bufferSize, bool rearm = true)
      : storage_(bufferSize), rearm_(rearm), input_(7, &Callback, reinterpret_cast<std::uintptr_t>(this)) {
    header_.data = storage_.data();
    header_.bufferLength = bufferSize;
    EXPECT_EQ(input_.Prepare(&header_, kMidiHeaderSize), kMmNoError);
    EXPECT_EQ(input_.Add(&header_, kMidiHeaderSize), kMmNoError);
  }

  LentBufferInput& Input() { return input_; }
  MidiHeader& Header() { return header_; }
  const std::vector<Bytes>& Pieces() const { return pieces_; }
  int EmptyHandBacks() const { return emptyHandBacks_; }

 private:
  static void Callback(MidiHandle handle, std::uint32_t message, std::uintptr_t instance,
                       std::uintptr_t param1, std::uintptr_t) {
    auto* self = reinterpret_cast<Receiver*>(instance);
    EXPECT_EQ(handle, 7u);
    if (message != kMimLongData) return;
    auto* header = reinterpret_cast<MidiHeader*>(param1);
    EXPECT_EQ(header, &self->header_);
    EXPECT_NE(header->flags.load() & kMidiHeaderDone, 0u);
    EXPECT_EQ(header->flags.load() & kMidiHeaderInQueue, 0u);
    if (header->bytesRecorded == 0) {
      ++self->emptyHandBacks_;
      return;
    }
    self->pieces_.emplace_back(header->data, header->data + header->bytesRecorded);
    if (self->rearm_) {
      // Re-arming from inside the callback must not deadlock.
      EXPECT_EQ(self->input_.Add(header, kMidiHeaderSize), kMmNoError);
    }
  }

  Bytes storage_;
  bool rearm_;
  MidiHeader header_;
  LentBufferInput input_;
  std::vector<Bytes> pieces_;
  int emptyHandBacks_ = 0;
};

struct StreamCase {
  const char* what;
  std::uint32_t bufferSize;
  std::vector<Bytes> feeds;  // as the reader thread receives them
  std::vector<Bytes> pieces;  // as they come back
};

class StreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamTest, HandsBackMessagesAsTheyEnd) {
  const StreamCase& c = GetParam();
  Receiver receiver(c.bufferSize);
  receiver.Input().Start();
  for (const Bytes& feed : c.feeds) receiver.Input().Feed(feed.data(), feed.size());
  EXPECT_EQ(receiver.Pieces(), c.pieces) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, StreamTest,
    ::testing::Values(
        StreamCase{"one message", 64, {{0xF0, 0x43, 0x10, 0xF7}}, {{0xF0, 0x43, 0x10, 0xF7}}},
        StreamCase{"a message split across reads",
                   64,
                   {{0xF0}, {0x01, 0x02}, {0x03, 0xF7}},
                   {{0xF0, 0x01, 0x02, 0x03, 0xF7}}},
        StreamCase{"two messages in one read keep their order",
                   64,
                   {{0xF0, 0x01, 0xF7, 0xF0, 0x02, 0x03, 0xF7}},
                   {{0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0x03, 0xF7}}},
        StreamCase{"real-time bytes inside a message are skipped",
                   64,
                   {{0xF0, 0xF8, 0x01, 0xFE, 0x02, 0xFA, 0xFC, 0xFF, 0xF7}},
                   {{0xF0, 0x01, 0x02, 0xF7}}},
        StreamCase{"channel messages and a stray end are not kept",
                   64,
                   {{0x90, 0x40, 0x7F, 0x40, 0x00, 0xF7, 0xB0, 0x07, 0x64, 0xF0, 0x05, 0xF7, 0xC0, 0x01}},
                   {{0xF0, 0x05, 0xF7}}},
        StreamCase{"a message cut short by a status byte is dropped",
                   64,
                   {{0xF0, 0x01, 0x02, 0x90, 0x40, 0x7F, 0xF0, 0x03, 0xF7}},
                   {{0xF0, 0x03, 0xF7}}},
        StreamCase{"a message cut short by a new start is dropped",
                   64,
                   {{0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7}},
                   {{0xF0, 0x03, 0xF7}}},
        StreamCase{"a message longer than the buffer continues in the re-armed buffer",
                   4,
                   {{0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7}},
                   {{0xF0, 0x01, 0x02, 0x03}, {0x04, 0x05, 0xF7}}},
        StreamCase{"a message that fills the buffer exactly comes back once",
                   4,
                   {{0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7}},
                   {{0xF0, 0x01, 0x02, 0xF7}, {0xF0, 0x03, 0xF7}}}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return "Case" + std::to_string(info.index); });

// F0, data bytes, F7: `length` bytes in all (at least 2).
Bytes SysEx(std::size_t length) {
  Bytes message{0xF0};
  for (std::size_t i = 1; i + 1 < length; ++i) message.push_back(static_cast<std::uint8_t>(i % 0x80));
  message.push_back(0xF7);
  return message;
}

TEST(LentBufferInputTest, LongMessagesComeBackInPiecesOfTheBufferSize) {
  for (const std::size_t length : {std::size_t{8193}, std::size_t{18742}}) {
    Receiver receiver(8192);
    receiver.Input().Start();
    const Bytes message = SysEx(length);
    // Delivered in reads of an odd size, as a device would.
    for (std::size_t at = 0; at < message.size(); at += 1000) {
      receiver.Input().Feed(message.data() + at, std::min<std::size_t>(1000, message.size() - at));
    }
    const std::vector<Bytes>& pieces = receiver.Pieces();
    ASSERT_EQ(pieces.size(), (length + 8191) / 8192) << length;
    Bytes joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i + 1 < pieces.size()) {
        EXPECT_EQ(pieces[i].size(), 8192u);
      }
      joined.insert(joined.end(), pieces[i].begin(), pieces[i].end());
    }
    EXPECT_EQ(joined, message);
    EXPECT_EQ(pieces.back(), length == 8193 ? Bytes{0xF7} : Bytes(message.begin() + 16384, message.end()));
  }
}

TEST(LentBufferInputTest, BytesWithNoBufferLentOrInputStoppedAreLost) {
  Receiver receiver(64, /*rearm=*/false);
  const Bytes first{0xF0, 0x01, 0xF7};
  const Bytes second{0xF0, 0x02, 0xF7};
  receiver.Input().Feed(first.data(), first.size());  // not started yet
  receiver.Input().Start();
  receiver.Input().Feed(first.data(), first.size());
  receiver.Input().Feed(second.data(), second.size());  // the buffer is still out
  ASSERT_EQ(receiver.Pieces(), std::vector<Bytes>{first});

  // Lent again in the middle of a message: the rest arrives as a piece.
  const Bytes head{0xF0, 0x03, 0x04};
  const Bytes tail{0x05, 0xF7};
  receiver.Input().Feed(head.data(), head.size());
  ASSERT_EQ(receiver.Input().Add(&receiver.Header(), kMidiHeaderSize), kMmNoError);
  receiver.Input().Feed(tail.data(), tail.size());
  EXPECT_EQ(receiver.Pieces(), (std::vector<Bytes>{first, tail}));
}

TEST(LentBufferInputTest, StopHandsBackAPartialBufferAndResetAnEmptyOne) {
  Receiver receiver(64);
  receiver.Input().Start();
  const Bytes partial{0xF0, 0x01, 0x02};
  receiver.Input().Feed(partial.data(), partial.size());
  receiver.Input().Stop();
  ASSERT_EQ(receiver.Pieces(), std::vector<Bytes>{partial});  // counted, then re-armed
  EXPECT_EQ(receiver.Input().Unprepare(&receiver.Header(), kMidiHeaderSize), kMidiStillPlaying);

  // Stopped: the rest of the message is not joined to anything.
  const Bytes rest{0x03, 0xF7};
  receiver.Input().Feed(rest.data(), rest.size());
  receiver.Input().Stop();  // nothing partial now: the empty buffer stays lent
  EXPECT_EQ(receiver.EmptyHandBacks(), 0);

  receiver.Input().Reset();
  EXPECT_EQ(receiver.EmptyHandBacks(), 1);
  EXPECT_EQ(receiver.Pieces().size(), 1u);
  EXPECT_EQ(receiver.Input().Unprepare(&receiver.Header(), kMidiHeaderSize), kMmNoError);
}

TEST(LentBufferInputTest, HeaderRules) {
  Bytes storage(16);
  MidiHeader header;
  header.data = storage.data();
  header.bufferLength = 16;
  LentBufferInput input(1, nullptr, 0);
  EXPECT_EQ(input.Add(&header, kMidiHeaderSize), kMidiUnprepared);
  EXPECT_EQ(input.Prepare(&header, kMidiHeaderSize - 1), kMmInvalidParam);
  EXPECT_EQ(input.Prepare(nullptr, kMidiHeaderSize), kMmInvalidParam);
  ASSERT_EQ(input.Prepare(&header, kMidiHeaderSize), kMmNoError);
  ASSERT_EQ(input.Add(&header, kMidiHeaderSize), kMmNoError);
  EXPECT_EQ(input.Add(&header, kMidiHeaderSize), kMidiStillPlaying);
  EXPECT_EQ(input.Unprepare(&header, kMidiHeaderSize), kMidiStillPlaying);
  input.Reset();
  EXPECT_EQ(input.Unprepare(&header, kMidiHeaderSize), kMmNoError);
  EXPECT_EQ(header.flags.load() & kMidiHeaderPrepared, 0u);
}

}  // namespace
}  // namespace kv::midi
