// The platform seam under the MIDI ports.
//
// Its operations are shaped after the multimedia MIDI service the ports were
// first written for: device counts and capability records, open and close, a
// long message whose header is marked done once sent, and an input buffer lent
// to the driver and handed back through a callback. The port logic (states,
// the done-flag wait, the receive queue, re-arming) lives in the ports; a
// driver only maps these calls onto its own MIDI service.
#pragma once

#include <atomic>
#include <cstdint>

namespace kv::midi {

// Result of a platform call: 0 is success, anything else a failure code that
// the ports never pass on.
using MmResult = std::uint32_t;
constexpr MmResult kMmNoError = 0;
constexpr MmResult kMmError = 1;
constexpr MmResult kMmBadDeviceId = 2;
constexpr MmResult kMmAllocated = 4;
constexpr MmResult kMmInvalidHandle = 5;
constexpr MmResult kMmNoDriver = 6;
constexpr MmResult kMmNoMemory = 7;
constexpr MmResult kMmInvalidParam = 11;
constexpr MmResult kMidiUnprepared = 64;
constexpr MmResult kMidiStillPlaying = 65;
constexpr MmResult kMidiNotReady = 67;

// An open device; 0 means none.
using MidiHandle = std::uintptr_t;

// The size every header call passes, and the capability record sizes.
constexpr std::uint32_t kMidiHeaderSize = 64;
constexpr std::uint32_t kMidiOutCapsSize = 52;
constexpr std::uint32_t kMidiInCapsSize = 44;

// Header flags.
constexpr std::uint32_t kMidiHeaderDone = 0x1;      // the driver is done with it
constexpr std::uint32_t kMidiHeaderPrepared = 0x2;  // prepared, not yet unprepared
constexpr std::uint32_t kMidiHeaderInQueue = 0x4;   // lent to the driver

// Input callback messages and the open flag that asks for a function callback.
constexpr std::uint32_t kMimOpen = 0x3C1;
constexpr std::uint32_t kMimClose = 0x3C2;
constexpr std::uint32_t kMimData = 0x3C3;
constexpr std::uint32_t kMimLongData = 0x3C4;
constexpr std::uint32_t kMimError = 0x3C5;
constexpr std::uint32_t kMimLongError = 0x3C6;
constexpr std::uint32_t kCallbackFunction = 0x30000;

// A long-message header. The done flag is written by the driver's thread and
// tested by the sender's, so `flags` is atomic.
struct MidiHeader {
  std::uint8_t* data = nullptr;          // the bytes to send, or the lent buffer
  std::uint32_t bufferLength = 0;        // bytes at `data`
  std::uint32_t bytesRecorded = 0;       // input: bytes the driver filled in
  std::atomic<std::uint32_t> flags{0};   // kMidiHeader* bits
  void* driverData = nullptr;            // the driver's own bookkeeping
};

// The capability record; only the product name is used. A name holds at most
// 31 characters and its terminator.
struct MidiCaps {
  char productName[32] = {};
};

// Called by the driver, on a thread of its own, for every input event:
// (handle, message, instance value given at open, first parameter, second
// parameter). For kMimLongData the first parameter is the MidiHeader* being
// handed back.
using MidiInCallback = void (*)(MidiHandle handle, std::uint32_t message,
                                std::uintptr_t instance, std::uintptr_t param1,
                                std::uintptr_t param2);

// What the ports rely on from every driver:
// - OutLongMsg: once it has accepted a header (result 0), the driver sets
//   kMidiHeaderDone in it exactly once, when the bytes have left, also when
//   the device goes away or is closed meanwhile. Until then it may read the
//   bytes; afterwards it touches neither the header nor the bytes.
// - Calls on a handle that is closed or unknown fail (kMmInvalidHandle) and
//   touch nothing.
// - Input: a header given to InAddBuffer is lent until the driver hands it
//   back through the callback with kMidiHeaderDone set. InStop hands back a
//   partly filled buffer, InReset every lent buffer (with no bytes when none
//   arrived); both have finished those callbacks before they return.
//   InUnprepareHeader returns 0 only when the driver no longer holds the
//   header. Once InClose has returned 0, no callback for that handle runs or
//   will start.
class MidiDriver {
 public:
  virtual ~MidiDriver() = default;

  // Output side.
  virtual std::uint32_t OutGetNumDevs() = 0;
  virtual MmResult OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) = 0;
  // No callback: the sender watches the header's done flag.
  virtual MmResult OutOpen(MidiHandle* handle, std::uint32_t device) = 0;
  virtual MmResult OutClose(MidiHandle handle) = 0;
  virtual MmResult OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) = 0;
  virtual MmResult OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) = 0;
  virtual MmResult OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) = 0;

  // Input side.
  virtual std::uint32_t InGetNumDevs() = 0;
  virtual MmResult InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) = 0;
  virtual MmResult InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                          std::uintptr_t instance, std::uint32_t flags) = 0;
  virtual MmResult InReset(MidiHandle handle) = 0;
  virtual MmResult InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) = 0;
  virtual MmResult InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) = 0;
  virtual MmResult InStart(MidiHandle handle) = 0;
  virtual MmResult InStop(MidiHandle handle) = 0;
  virtual MmResult InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) = 0;
  virtual MmResult InClose(MidiHandle handle) = 0;

  // The pause between two tests of an output header's done flag.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace kv::midi
