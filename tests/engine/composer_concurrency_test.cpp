// The worker's write-data messages and the dispatcher's answers share one
// composition buffer and one output port: every message must leave whole,
// with exactly its composer's bytes, while the driver is still reading it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/sysex.h"
#include "tests/engine/recording_rig.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_rig::Rig;

// Reads each message again once it has "left the wire": bytes that changed
// while the driver still held them were overwritten by the other composer.
class WireDriver : public midi::RecordingDriver {
 public:
  midi::MmResult OutLongMsg(midi::MidiHandle handle, midi::MidiHeader* header, std::uint32_t size) override {
    const Bytes before(header->data, header->data + header->bufferLength);
    const midi::MmResult result = RecordingDriver::OutLongMsg(handle, header, size);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    if (std::memcmp(before.data(), header->data, before.size()) != 0) {
      overwritten.fetch_add(1);
    }
    return result;
  }
  std::atomic<int> overwritten{0};
};

TEST(ComposerConcurrency, WorkerChunksAndDispatcherAnswersStayWhole) {
  constexpr int kChunks = 200;
  constexpr int kRequests = 400;
  Rig<WireDriver> rig;

  std::vector<Bytes> expected(kChunks);
  std::vector<Bytes> chunks(kChunks);
  for (int i = 0; i < kChunks; ++i) {
    chunks[i].resize(2048);
    for (std::size_t k = 0; k < chunks[i].size(); ++k) {
      chunks[i][k] = static_cast<std::uint8_t>(i * 31 + k * 7);
    }
    expected[i].resize(WriteDataMessageLength(2048));
    ComposeWriteData(expected[i].data(), kInitialModelId, chunks[i].data(), i * 2048, 2048);
  }

  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    for (int i = 0; i < kChunks; ++i) {
      EXPECT_EQ(rig.engine.SendWriteChunk(chunks[i].data(), i * 2048, 2048), 0);
    }
    workerDone = true;
  });
  // A second ticker contends for the dispatcher: a call that finds another
  // running must not handle any message a second time.
  std::atomic<bool> pedalDone{false};
  std::thread ticker([&] {
    while (!pedalDone) rig.engine.PollReplies();
  });
  for (int j = 0; j < kRequests; ++j) {
    rig.Queue({0xF0, 0x52, 0x00, 0x57, 0x01, 0xF7});  // the pedal asks; the answer is status 0
    rig.engine.PollReplies();
  }
  pedalDone = true;
  ticker.join();
  worker.join();
  rig.engine.PollReplies();
  ASSERT_TRUE(rig.QueueEmpty());

  EXPECT_EQ(rig.driver.overwritten.load(), 0);
  const Bytes answer{0xF0, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7};
  int answers = 0;
  int nextChunk = 0;
  for (const Bytes& m : rig.driver.SentMessages()) {
    if (m == answer) {
      ++answers;
    } else {
      ASSERT_LT(nextChunk, kChunks);
      ASSERT_EQ(m, expected[nextChunk]) << "chunk " << nextChunk;
      ++nextChunk;
    }
  }
  EXPECT_EQ(nextChunk, kChunks);
  EXPECT_EQ(answers, kRequests);
}

}  // namespace
}  // namespace kv
