// A MIDI driver for port tests. It behaves like a platform driver (handles,
// prepared and lent headers, hand-back through the callback), counts every
// call, lets a test make any operation fail, and lets the test play the
// platform's part: complete output headers and hand back the input buffer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

class RecordingDriver : public MidiDriver {
 public:
  enum class Op {
    OutGetNumDevs, OutGetDevCaps, OutOpen, OutClose, OutPrepareHeader, OutLongMsg, OutUnprepareHeader,
    InGetNumDevs, InGetDevCaps, InOpen, InReset, InPrepareHeader, InAddBuffer, InStart, InStop,
    InUnprepareHeader, InClose, Sleep,
  };
  static const char* Name(Op op);

  // What the driver does with an accepted output header.
  enum class Completion { Immediately, AfterSleeps, Manually };

  // Device names; a name of 32 characters fills the record with no terminator.
  RecordingDriver(std::vector<std::string> outNames, std::vector<std::string> inNames);
  RecordingDriver() : RecordingDriver({"Out 0", "Out 1", "Out 2"}, {"In 0", "In 1", "In 2"}) {}

  // --- scripting ---
  // Every later call of `op` is counted, does nothing and answers `result`.
  void Fail(Op op, MmResult result = kMmError);
  void ClearFailures();
  // Immediately (the default): OutLongMsg marks the header done before it
  // returns. AfterSleeps: done during the n-th Sleep call after the send.
  // Manually: done only through CompletePendingOutput().
  void SetCompletion(Completion completion, int sleeps = 0);
  // InStop hands back the lent buffer with these bytes (a partly filled buffer).
  void SetBytesOnStop(std::vector<std::uint8_t> bytes);

  // --- playing the platform ---
  // Waits (bounded) until an accepted output header is not yet done.
  bool WaitForPendingOutput(std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Marks the oldest pending output header done. False if there is none.
  bool CompletePendingOutput();
  // Hands the lent input buffer back through the callback on the calling
  // thread, with `bytes` copied in (none: an empty hand-back). False when no
  // buffer is lent. `recorded` overrides the count the driver reports and
  // `done` whether it sets the done flag, to play a faulty driver.
  bool HandBack(const std::vector<std::uint8_t>& bytes, std::optional<std::uint32_t> recorded = std::nullopt,
                bool done = true);
  // Any other input report (short message, error) for the open input device.
  bool Report(std::uint32_t message, std::uintptr_t param1, std::uintptr_t param2);

  // --- MidiDriver ---
  std::uint32_t OutGetNumDevs() override;
  MmResult OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) override;
  MmResult OutOpen(MidiHandle* handle, std::uint32_t device) override;
  MmResult OutClose(MidiHandle handle) override;
  MmResult OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  std::uint32_t InGetNumDevs() override;
  MmResult InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) override;
  MmResult InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback, std::uintptr_t instance,
                  std::uint32_t flags) override;
  MmResult InReset(MidiHandle handle) override;
  MmResult InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InStart(MidiHandle handle) override;
  MmResult InStop(MidiHandle handle) override;
  MmResult InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InClose(MidiHandle handle) override;
  void Sleep(std::uint32_t milliseconds) override;

  // --- observing ---
  int Count(Op op) const;
  int TotalCalls() const;
  std::vector<Op> Calls() const;
  void ClearCalls();
  std::vector<std::vector<std::uint8_t>> SentMessages() const;  // bytes at each accepted OutLongMsg
  std::vector<std::uint32_t> SleepArguments() const;
  std::uint32_t LastOutOpenDevice() const { return Locked(lastOutDevice_); }
  std::uint32_t LastInOpenDevice() const { return Locked(lastInDevice_); }
  std::uint32_t LastInOpenFlags() const { return Locked(lastInFlags_); }
  std::uintptr_t LastInInstance() const { return Locked(lastInInstance_); }
  // The header at the last OutPrepareHeader: data, length and flags as passed.
  struct SeenHeader {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    std::uint32_t flags = 0;
  };
  SeenHeader LastOutPrepared() const { return Locked(lastOutPrepared_); }
  // The lent input buffer (oldest first), or null.
  MidiHeader* LentHeader() const;
  int OpenOutDevices() const;
  int OpenInDevices() const;
  int PreparedOutHeaders() const;
  int PreparedInHeaders() const;
  // Most output headers pending at the same time.
  int MaxPendingOutput() const { return Locked(maxPending_); }

 private:
  struct InDevice {
    MidiInCallback callback = nullptr;
    std::uintptr_t instance = 0;
    std::deque<MidiHeader*> lent;
  };

  template <typename T>
  T Locked(const T& value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value;
  }
  // Counts the call; returns the scripted failure, if any.
  std::optional<MmResult> Enter(Op op);
  MmResult Caps(const std::vector<std::string>& names, std::uint32_t device, MidiCaps* caps,
                std::uint32_t size, std::uint32_t expectedSize);
  // Takes the oldest lent buffer of `device` out of the driver's hands.
  MidiHeader* TakeLent(InDevice& device);
  void Deliver(MidiHandle handle, std::uint32_t message, std::uintptr_t param1);

  mutable std::mutex mutex_;
  std::condition_variable pendingChanged_;
  std::vector<std::string> outNames_;
  std::vector<std::string> inNames_;
  std::map<Op, MmResult> failures_;
  std::vector<Op> calls_;
  std::vector<std::vector<std::uint8_t>> sent_;
  std::vector<std::uint32_t> sleepArgs_;

  MidiHandle nextHandle_ = 0x100;
  std::set<MidiHandle> outOpen_;
  std::map<MidiHandle, InDevice> inOpen_;
  MidiHandle lastInHandle_ = 0;
  std::set<MidiHeader*> outPrepared_;
  std::set<MidiHeader*> inPrepared_;
  struct Pending {
    MidiHandle handle;
    MidiHeader* header;
    int sleepsLeft;
  };
  std::deque<Pending> pending_;
  int maxPending_ = 0;
  Completion completion_ = Completion::Immediately;
  int completionSleeps_ = 0;
  std::vector<std::uint8_t> bytesOnStop_;
  bool handBackOnStop_ = false;

  std::uint32_t lastOutDevice_ = 0;
  std::uint32_t lastInDevice_ = 0;
  std::uint32_t lastInFlags_ = 0;
  std::uintptr_t lastInInstance_ = 0;
  SeenHeader lastOutPrepared_;
};

}  // namespace kv::midi
