#include "midi/drivers/lent_buffer_input.h"

namespace kv::midi {

namespace {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kFirstRealTime = 0xF8;

bool Valid(const MidiHeader* header, std::uint32_t headerSize) {
  return header != nullptr && headerSize == kMidiHeaderSize && header->data != nullptr &&
         header->bufferLength > 0;
}

}  // namespace

LentBufferInput::LentBufferInput(MidiHandle handle, MidiInCallback callback, std::uintptr_t instance)
    : handle_(handle), callback_(callback), instance_(instance) {}

MmResult LentBufferInput::Prepare(MidiHeader* header, std::uint32_t headerSize) {
  if (!Valid(header, headerSize)) return kMmInvalidParam;
  header->flags.fetch_or(kMidiHeaderPrepared);
  return kMmNoError;
}

MmResult LentBufferInput::Unprepare(MidiHeader* header, std::uint32_t headerSize) {
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  std::lock_guard lock(mutex_);
  if ((header->flags.load() & kMidiHeaderInQueue) != 0) return kMidiStillPlaying;
  header->flags.fetch_and(~kMidiHeaderPrepared);
  return kMmNoError;
}

MmResult LentBufferInput::Add(MidiHeader* header, std::uint32_t headerSize) {
  if (!Valid(header, headerSize)) return kMmInvalidParam;
  std::lock_guard lock(mutex_);
  const std::uint32_t flags = header->flags.load();
  if ((flags & kMidiHeaderPrepared) == 0) return kMidiUnprepared;
  if ((flags & kMidiHeaderInQueue) != 0) return kMidiStillPlaying;
  header->bytesRecorded = 0;
  header->flags.store((flags & ~kMidiHeaderDone) | kMidiHeaderInQueue);
  lent_.push_back(header);
  return kMmNoError;
}

void LentBufferInput::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  inSysEx_ = false;
  startTime_ = std::chrono::steady_clock::now();
}

void LentBufferInput::Stop() {
  std::lock_guard delivery(deliveryMutex_);
  MidiHeader* partial = nullptr;
  {
    std::lock_guard lock(mutex_);
    started_ = false;
    inSysEx_ = false;
    if (!lent_.empty() && lent_.front()->bytesRecorded > 0) partial = TakeFrontLocked();
  }
  if (partial != nullptr) HandBack(partial);
}

void LentBufferInput::Reset() {
  std::lock_guard delivery(deliveryMutex_);
  std::deque<MidiHeader*> all;
  {
    std::lock_guard lock(mutex_);
    started_ = false;
    inSysEx_ = false;
    all.swap(lent_);
    for (MidiHeader* header : all) header->bytesRecorded = 0;
  }
  for (MidiHeader* header : all) {
    header->flags.store((header->flags.load() & ~kMidiHeaderInQueue) | kMidiHeaderDone);
    HandBack(header);
  }
}

void LentBufferInput::Feed(const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    std::lock_guard delivery(deliveryMutex_);
    std::size_t used = 0;
    MidiHeader* handBack = nullptr;
    {
      std::lock_guard lock(mutex_);
      handBack = ParseLocked(data, length, used);
    }
    if (handBack != nullptr) HandBack(handBack);
    data += used;
    length -= used;
  }
}

void LentBufferInput::Notify(std::uint32_t message) {
  std::lock_guard delivery(deliveryMutex_);
  if (callback_ != nullptr) callback_(handle_, message, instance_, 0, 0);
}

MidiHeader* LentBufferInput::ParseLocked(const std::uint8_t* data, std::size_t length,
                                         std::size_t& used) {
  MidiHeader* handBack = nullptr;
  for (used = 0; used < length && handBack == nullptr; ++used) {
    const std::uint8_t byte = data[used];
    if (!started_ || byte >= kFirstRealTime) continue;
    if (byte == kSysExStart || (byte >= 0x80 && byte != kSysExEnd)) {
      // Any status byte ends a message still open; what it had collected
      // in the current buffer is not a message and is dropped.
      if (inSysEx_ && !lent_.empty()) lent_.front()->bytesRecorded = 0;
      inSysEx_ = byte == kSysExStart;
      if (inSysEx_) AppendLocked(byte, handBack);
      continue;
    }
    if (!inSysEx_) continue;  // channel data, or an end with no start
    AppendLocked(byte, handBack);
    if (byte == kSysExEnd) {
      inSysEx_ = false;
      if (handBack == nullptr && !lent_.empty()) handBack = TakeFrontLocked();
    }
  }
  return handBack;
}

void LentBufferInput::AppendLocked(std::uint8_t byte, MidiHeader*& handBack) {
  if (lent_.empty()) return;  // nowhere to put it
  MidiHeader* header = lent_.front();
  header->data[header->bytesRecorded++] = byte;
  if (header->bytesRecorded == header->bufferLength) handBack = TakeFrontLocked();
}

MidiHeader* LentBufferInput::TakeFrontLocked() {
  MidiHeader* header = lent_.front();
  lent_.pop_front();
  header->flags.store((header->flags.load() & ~kMidiHeaderInQueue) | kMidiHeaderDone);
  return header;
}

void LentBufferInput::HandBack(MidiHeader* header) {
  std::uintptr_t elapsedMs = 0;
  {
    std::lock_guard lock(mutex_);
    if (started_) {
      elapsedMs = static_cast<std::uintptr_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - startTime_)
                                                  .count());
    }
  }
  if (callback_ != nullptr) {
    callback_(handle_, kMimLongData, instance_, reinterpret_cast<std::uintptr_t>(header), elapsedMs);
  }
}

}  // namespace kv::midi
