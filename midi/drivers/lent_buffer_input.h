// The input half of a driver, independent of the MIDI service below it:
// buffers lent by the caller, a byte stream parsed into SysEx messages that
// fill them, and every hand-back through the caller's callback.
//
// The service's reader thread calls Feed with whatever bytes arrived. Bytes
// from 0xF0 through 0xF7 go into the oldest lent buffer; it is handed back
// (done, with its bytes counted) at 0xF7 or when full, and a message that
// fills one buffer continues in the next one lent. Real-time bytes may sit
// inside a message and are skipped; channel and other messages are not kept.
// A message cut short by a new 0xF0 or another status byte is dropped from
// the buffer, so a buffer never hands back the start of one message joined to
// another. Bytes that find no buffer lent, or arrive while input is stopped,
// are dropped.
//
// Hand-backs are made one at a time and never under the input's own lock, so
// the callback may lend the buffer again from inside itself.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

class LentBufferInput {
 public:
  LentBufferInput(MidiHandle handle, MidiInCallback callback, std::uintptr_t instance);
  LentBufferInput(const LentBufferInput&) = delete;
  LentBufferInput& operator=(const LentBufferInput&) = delete;

  MmResult Prepare(MidiHeader* header, std::uint32_t headerSize);
  MmResult Unprepare(MidiHeader* header, std::uint32_t headerSize);
  MmResult Add(MidiHeader* header, std::uint32_t headerSize);

  void Start();
  // Stops input; a partly filled buffer comes back with its bytes counted,
  // empty buffers stay lent.
  void Stop();
  // Stops input and hands back every lent buffer with no bytes.
  void Reset();

  // The bytes that arrived from the service, in order. Reader thread only.
  void Feed(const std::uint8_t* data, std::size_t length);

  // Plain notices to the callback (open, close).
  void Notify(std::uint32_t message);

 private:
  // Parses bytes until one buffer is ready to go back (returned) or all are used.
  MidiHeader* ParseLocked(const std::uint8_t* data, std::size_t length, std::size_t& used);
  void AppendLocked(std::uint8_t byte, MidiHeader*& handBack);
  MidiHeader* TakeFrontLocked();
  void HandBack(MidiHeader* header);

  const MidiHandle handle_;
  const MidiInCallback callback_;
  const std::uintptr_t instance_;

  std::mutex deliveryMutex_;  // one hand-back at a time; taken before mutex_
  std::mutex mutex_;
  std::deque<MidiHeader*> lent_;
  bool started_ = false;
  bool inSysEx_ = false;
  std::chrono::steady_clock::time_point startTime_;
};

}  // namespace kv::midi
