// The worker's write-data messages and the dispatcher's answers share one
// composition buffer and one output port: every message must leave whole,
// with exactly its composer's bytes, while the driver is still reading it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/sysex.h"
#include "midi/drivers/loopback_driver.h"
#include "tests/engine/recording_rig.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_rig::NoImages;
using testing_rig::NoObserver;
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

struct Chunks {
  explicit Chunks(int count) : data(count), messages(count) {
    for (int i = 0; i < count; ++i) {
      data[i].resize(2048);
      for (std::size_t k = 0; k < data[i].size(); ++k) {
        data[i][k] = static_cast<std::uint8_t>(i * 31 + k * 7);
      }
      messages[i].resize(WriteDataMessageLength(2048));
      ComposeWriteData(messages[i].data(), kInitialModelId, data[i].data(), i * 2048, 2048);
    }
  }
  std::vector<Bytes> data;
  std::vector<Bytes> messages;  // as they must arrive
};

const Bytes kStatusZero{0xF0, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7};
const Bytes kPedalRequest{0xF0, 0x52, 0x00, 0x57, 0x01, 0xF7};  // answered with status 0

// Splits what the pedal saw into chunks (checked in order, byte for byte)
// and status answers; anything else fails.
void ExpectChunksAndAnswers(const std::vector<Bytes>& seen, const Chunks& chunks, int answersExpected) {
  int answers = 0;
  std::size_t nextChunk = 0;
  for (const Bytes& m : seen) {
    if (m == kStatusZero) {
      ++answers;
      continue;
    }
    ASSERT_LT(nextChunk, chunks.messages.size());
    ASSERT_EQ(m, chunks.messages[nextChunk]) << "chunk " << nextChunk;
    ++nextChunk;
  }
  EXPECT_EQ(nextChunk, chunks.messages.size());
  EXPECT_EQ(answers, answersExpected);
}

TEST(ComposerConcurrency, WorkerChunksAndDispatcherAnswersStayWhole) {
  constexpr int kChunks = 200;
  constexpr int kRequests = 400;
  Rig<WireDriver> rig;
  const Chunks chunks(kChunks);

  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    for (int i = 0; i < kChunks; ++i) {
      EXPECT_EQ(rig.engine.SendWriteChunk(chunks.data[i].data(), i * 2048, 2048), 0);
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
    rig.Queue(kPedalRequest);
    rig.engine.PollReplies();
  }
  pedalDone = true;
  ticker.join();
  worker.join();
  rig.engine.PollReplies();
  ASSERT_TRUE(rig.QueueEmpty());

  EXPECT_EQ(rig.driver.overwritten.load(), 0);
  ExpectChunksAndAnswers(rig.driver.SentMessages(), chunks, kRequests);
}

// The same over in-process devices, with the four threads of a real run: the
// worker sends, the pedal (on the sender's thread) asks for an answer to
// every chunk, the driver's own thread hands the request back, and a ticker
// thread dispatches and answers.
TEST(ComposerConcurrency, OverLoopbackDevicesEveryMessageArrivesWhole) {
  constexpr int kChunks = 300;
  midi::LoopbackDriver driver("Pedal");
  const Chunks chunks(kChunks);
  std::mutex seenMutex;
  std::vector<Bytes> seen;
  std::atomic<int> overwritten{0};
  std::atomic<int> answers{0};
  driver.SetDeviceHandler([&](std::uint32_t, const std::uint8_t* data, std::size_t length) {
    const Bytes before(data, data + length);
    std::this_thread::sleep_for(std::chrono::microseconds(50));  // the wire is still reading
    if (std::memcmp(before.data(), data, length) != 0) {
      overwritten.fetch_add(1);
    }
    {
      std::lock_guard<std::mutex> lock(seenMutex);
      seen.push_back(before);
    }
    if (before == kStatusZero) {
      answers.fetch_add(1);
    } else {
      driver.SendToHost(0, kPedalRequest);
    }
  });
  midi::CMidiOutPort out(driver);
  midi::CMidiInPort in(driver);
  NoObserver observer;
  NoImages images;
  CUpdateEngine engine(out, in, observer, ScaledTimes(100), images);
  ASSERT_EQ(out.Open(0), 1);
  in.SetDeviceIndex(0);
  ASSERT_EQ(in.Start(), 1);

  std::atomic<bool> stop{false};
  std::thread ticker([&] {
    while (!stop) {
      engine.PollReplies();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int i = 0; i < kChunks; ++i) {
    EXPECT_EQ(engine.SendWriteChunk(chunks.data[i].data(), i * 2048, 2048), 0);
  }
  // Bounded: a lost answer fails here, a hang by the test time-out.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (answers.load() < kChunks && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop = true;
  ticker.join();
  EXPECT_TRUE(driver.WaitIdle());
  in.Close();
  out.Close();

  EXPECT_EQ(overwritten.load(), 0);
  std::lock_guard<std::mutex> lock(seenMutex);
  ExpectChunksAndAnswers(seen, chunks, kChunks);
}

}  // namespace
}  // namespace kv
