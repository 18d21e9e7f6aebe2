// What every byte-stream driver does the same way, over a fake service:
// numbering and names, the output header's done flag, and input that never
// calls back once closed.
#include "midi/drivers/stream_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <thread>

namespace kv::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;

enum class SendMode { kSucceed, kFail, kWaitForClose };

class FakeOutput final : public OutputStream {
 public:
  explicit FakeOutput(SendMode mode) : mode_(mode) {}
  MmResult Send(const std::uint8_t* data, std::size_t length) override {
    std::unique_lock lock(mutex_);
    sent_.emplace_back(data, data + length);
    if (mode_ == SendMode::kWaitForClose) {
      waiting_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return closed_; });
      return kMmError;
    }
    return mode_ == SendMode::kSucceed ? kMmNoError : kMmError;
  }
  void Close() override {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  void AwaitWaitingSend() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_; });
  }

 private:
  SendMode mode_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool waiting_ = false;
  bool closed_ = false;
  std::vector<Bytes> sent_;
};

// Feeds its input from a thread of its own, as a service's reader would.
class FakeInput final : public InputStream {
 public:
  FakeInput(MidiHandle handle, MidiInCallback callback, std::uintptr_t instance)
      : input_(handle, callback, instance), reader_([this] { Read(); }) {}
  ~FakeInput() override { Close(); }
  LentBufferInput& Input() override { return input_; }
  void Close() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
  }
  void Deliver(Bytes bytes) {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(bytes));
    changed_.notify_all();
  }

 private:
  void Read() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
      if (stopping_) return;
      Bytes bytes = std::move(pending_.front());
      pending_.pop_front();
      lock.unlock();
      input_.Feed(bytes.data(), bytes.size());
      lock.lock();
    }
  }

  LentBufferInput input_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Bytes> pending_;
  bool stopping_ = false;
  std::thread reader_;
};

class FakeService final : public StreamDriver {
 public:
  std::vector<ListedPort> ports;
  SendMode sendMode = SendMode::kSucceed;
  std::vector<std::string> opened;
  std::shared_ptr<FakeOutput> lastOutput;
  std::shared_ptr<FakeInput> lastInput;

 protected:
  std::vector<ListedPort> ListPorts(bool) override { return ports; }
  MmResult OpenOutput(const std::string& address, std::shared_ptr<OutputStream>& stream) override {
    opened.push_back(address);
    lastOutput = std::make_shared<FakeOutput>(sendMode);
    stream = lastOutput;
    return kMmNoError;
  }
  MmResult OpenInput(const std::string& address, MidiHandle handle, MidiInCallback callback,
                     std::uintptr_t instance, std::shared_ptr<InputStream>& stream) override {
    opened.push_back(address);
    lastInput = std::make_shared<FakeInput>(handle, callback, instance);
    stream = lastInput;
    return kMmNoError;
  }
};

std::string OutName(MidiDriver& driver, std::uint32_t device) {
  MidiCaps caps;
  driver.OutGetDevCaps(device, &caps, kMidiOutCapsSize);
  return caps.productName;
}

TEST(StreamDriverTest, NumbersMeanWhatTheLastCountListed) {
  FakeService driver;
  driver.ports = {{"hw:1,0,0", {"TARVO KV Series", "hw:1"}}, {"hw:2,0,0", {"TARVO KV Series", "hw:2"}}};
  ASSERT_EQ(driver.OutGetNumDevs(), 2u);
  EXPECT_EQ(OutName(driver, 0), "TARVO KV Series");
  EXPECT_EQ(OutName(driver, 1), "TARVO KV Series (2)");
  MidiCaps caps;
  std::snprintf(caps.productName, sizeof caps.productName, "stale");
  EXPECT_EQ(driver.OutGetDevCaps(2, &caps, kMidiOutCapsSize), kMmBadDeviceId);
  EXPECT_STREQ(caps.productName, "");

  // The first pedal goes away after the count: number 1 still opens the one
  // that was listed as 1, until the next count.
  driver.ports.erase(driver.ports.begin());
  MidiHandle handle = 0;
  ASSERT_EQ(driver.OutOpen(&handle, 1), kMmNoError);
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(driver.opened.back(), "hw:2,0,0");
  ASSERT_EQ(driver.OutGetNumDevs(), 1u);
  EXPECT_EQ(driver.OutOpen(&handle, 1), kMmBadDeviceId);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(driver.OutOpen(&handle, 0xFFFFFFFFu), kMmBadDeviceId);
}

TEST(StreamDriverTest, DoneOnlyWhenSent) {
  struct Case {
    SendMode mode;
    MmResult result;
    std::uint32_t flagsAfter;
  };
  for (const Case& c : {Case{SendMode::kSucceed, kMmNoError, kMidiHeaderPrepared | kMidiHeaderDone},
                        Case{SendMode::kFail, kMmError, kMidiHeaderPrepared}}) {
    FakeService driver;
    driver.ports = {{"out", {"Out", "out"}}};
    driver.sendMode = c.mode;
    MidiHandle handle = 0;
    ASSERT_EQ(driver.OutOpen(&handle, 0), kMmNoError);
    Bytes message{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    MidiHeader header;
    header.data = message.data();
    header.bufferLength = static_cast<std::uint32_t>(message.size());
    EXPECT_EQ(driver.OutLongMsg(handle, &header, kMidiHeaderSize), kMidiUnprepared);
    ASSERT_EQ(driver.OutPrepareHeader(handle, &header, kMidiHeaderSize), kMmNoError);
    EXPECT_EQ(driver.OutLongMsg(handle, &header, kMidiHeaderSize), c.result);
    EXPECT_EQ(header.flags.load(), c.flagsAfter);
    EXPECT_EQ(driver.OutUnprepareHeader(handle, &header, kMidiHeaderSize), kMmNoError);
    ASSERT_EQ(driver.OutClose(handle), kMmNoError);
    EXPECT_EQ(driver.OutPrepareHeader(handle, &header, kMidiHeaderSize), kMmInvalidHandle);
    EXPECT_EQ(driver.OutLongMsg(handle, &header, kMidiHeaderSize), kMmInvalidHandle);
    EXPECT_EQ(driver.OutClose(handle), kMmInvalidHandle);
  }
}

TEST(StreamDriverTest, CloseEndsASendStillWaitingAndItFails) {
  FakeService driver;
  driver.ports = {{"out", {"Out", "out"}}};
  driver.sendMode = SendMode::kWaitForClose;
  MidiHandle handle = 0;
  ASSERT_EQ(driver.OutOpen(&handle, 0), kMmNoError);
  Bytes message{0xF0, 0x01, 0xF7};
  MidiHeader header;
  header.data = message.data();
  header.bufferLength = 3;
  ASSERT_EQ(driver.OutPrepareHeader(handle, &header, kMidiHeaderSize), kMmNoError);
  auto sending = std::async(std::launch::async,
                            [&] { return driver.OutLongMsg(handle, &header, kMidiHeaderSize); });
  driver.lastOutput->AwaitWaitingSend();
  EXPECT_EQ(driver.OutClose(handle), kMmNoError);
  EXPECT_EQ(sending.get(), kMmError);
  EXPECT_EQ(header.flags.load() & (kMidiHeaderDone | kMidiHeaderInQueue), 0u);
}

// Counts hand-backs and re-arms like the input port; any callback once
// InClose has returned is a fault.
struct InputWatch {
  MidiDriver* driver = nullptr;
  MidiHandle handle = 0;
  std::atomic<bool> closeReturned{false};
  std::atomic<int> lateCallbacks{0};
  std::atomic<int> messages{0};
  std::mutex mutex;
  std::vector<std::uint32_t> notices;

  static void Callback(MidiHandle, std::uint32_t message, std::uintptr_t instance, std::uintptr_t param1,
                       std::uintptr_t) {
    auto* self = reinterpret_cast<InputWatch*>(instance);
    if (self->closeReturned.load()) ++self->lateCallbacks;
    if (message != kMimLongData) {
      std::lock_guard lock(self->mutex);
      self->notices.push_back(message);
      return;
    }
    auto* header = reinterpret_cast<MidiHeader*>(param1);
    if (header->bytesRecorded == 0) return;
    ++self->messages;
    self->driver->InAddBuffer(self->handle, header, kMidiHeaderSize);
  }
};

TEST(StreamDriverTest, NoCallbackAfterInCloseAndNoBufferKept) {
  FakeService driver;
  driver.ports = {{"in", {"In", "in"}}};
  ASSERT_EQ(driver.InGetNumDevs(), 1u);
  InputWatch watch;
  watch.driver = &driver;
  EXPECT_EQ(driver.InOpen(&watch.handle, 0, &InputWatch::Callback, 0, 0), kMmInvalidParam);
  ASSERT_EQ(driver.InOpen(&watch.handle, 0, &InputWatch::Callback, reinterpret_cast<std::uintptr_t>(&watch),
                          kCallbackFunction),
            kMmNoError);
  Bytes storage(16);
  MidiHeader header;
  header.data = storage.data();
  header.bufferLength = 16;
  ASSERT_EQ(driver.InPrepareHeader(watch.handle, &header, kMidiHeaderSize), kMmNoError);
  ASSERT_EQ(driver.InAddBuffer(watch.handle, &header, kMidiHeaderSize), kMmNoError);
  ASSERT_EQ(driver.InStart(watch.handle), kMmNoError);
  for (int i = 0; i < 200; ++i) driver.lastInput->Deliver({0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03});
  while (watch.messages.load() == 0) std::this_thread::yield();

  // Closed while the reader still delivers: the buffer comes home first.
  ASSERT_EQ(driver.InClose(watch.handle), kMmNoError);
  watch.closeReturned.store(true);
  EXPECT_EQ(header.flags.load() & kMidiHeaderInQueue, 0u);
  driver.lastInput.reset();
  EXPECT_EQ(watch.lateCallbacks.load(), 0);
  std::lock_guard lock(watch.mutex);
  ASSERT_GE(watch.notices.size(), 2u);
  EXPECT_EQ(watch.notices.front(), kMimOpen);
  EXPECT_EQ(watch.notices.back(), kMimClose);
  EXPECT_EQ(driver.InStart(watch.handle), kMmInvalidHandle);
}

}  // namespace
}  // namespace kv::midi
