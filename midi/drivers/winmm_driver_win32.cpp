#include "midi/drivers/winmm_driver_win32.h"

#include <cstring>
#include <functional>

namespace kv::midi {

namespace {

static_assert(sizeof(MIDIOUTCAPSA) == kMidiOutCapsSize);
static_assert(sizeof(MIDIINCAPSA) == kMidiInCapsSize);
static_assert(sizeof(MIDIOUTCAPSA::szPname) == sizeof(MidiCaps::productName));
static_assert(MHDR_DONE == kMidiHeaderDone && MHDR_PREPARED == kMidiHeaderPrepared &&
              MHDR_INQUEUE == kMidiHeaderInQueue);
static_assert(MIM_LONGDATA == kMimLongData && MIM_DATA == kMimData && CALLBACK_FUNCTION == kCallbackFunction);

// The seam's header size is the size of the platform header in its 32-bit
// layout; the platform itself is always given the size of its own header in
// this build.
constexpr UINT kPlatformHeaderSize = sizeof(MIDIHDR);

HMIDIOUT AsOut(MidiHandle handle) { return reinterpret_cast<HMIDIOUT>(handle); }
HMIDIIN AsIn(MidiHandle handle) { return reinterpret_cast<HMIDIIN>(handle); }

MIDIHDR* PlatformHeader(const MidiHeader* header) { return static_cast<MIDIHDR*>(header->driverData); }

MidiHeader* SeamHeader(DWORD_PTR platformHeader) {
  const MIDIHDR* header = reinterpret_cast<const MIDIHDR*>(platformHeader);
  return header == nullptr ? nullptr : reinterpret_cast<MidiHeader*>(header->dwUser);
}

void CopyName(const char (&pname)[32], MidiCaps* caps) {
  std::memcpy(caps->productName, pname, sizeof caps->productName);
  caps->productName[sizeof caps->productName - 1] = '\0';
}

void ClearPreparedFlags(MidiHeader* header) {
  header->flags.fetch_and(~(kMidiHeaderPrepared | kMidiHeaderInQueue), std::memory_order_acq_rel);
}

}  // namespace

// Output completion: the only place that sets the seam header's done flag.
// It is the last touch of the header; the sender may free it right after.
void CALLBACK WinmmDriver::OnOutputEvent(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
  if (message != MOM_DONE) {
    return;
  }
  if (MidiHeader* header = SeamHeader(param1)) {
    header->flags.fetch_or(kMidiHeaderDone, std::memory_order_release);
  }
}

// Input: a handed-back platform header becomes the seam header it mirrors,
// with its byte count and flags carried over before the port sees it.
void CALLBACK WinmmDriver::OnInputEvent(HMIDIIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                         DWORD_PTR param2) {
  const auto* target = reinterpret_cast<const WinmmInputBinding*>(instance);
  if (target == nullptr || target->callback == nullptr) {
    return;
  }
  std::uintptr_t first = param1;
  if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
    MidiHeader* header = SeamHeader(param1);
    if (header == nullptr) {
      return;
    }
    const MIDIHDR* mirror = reinterpret_cast<const MIDIHDR*>(param1);
    header->bytesRecorded = mirror->dwBytesRecorded;
    header->flags.store(mirror->dwFlags & (kMidiHeaderDone | kMidiHeaderPrepared | kMidiHeaderInQueue),
                        std::memory_order_release);
    first = reinterpret_cast<std::uintptr_t>(header);
  }
  target->callback(reinterpret_cast<MidiHandle>(device), message, target->instance, first, param2);
}

WinmmDriver::~WinmmDriver() {
  // A device still open here may still call back with its binding: let that
  // memory go rather than free it under the platform.
  for (auto& entry : inputs_) {
    static_cast<void>(entry.second.release());
  }
}

bool WinmmDriver::IsOpenOutput(MidiHandle handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputs_.count(handle) != 0;
}

bool WinmmDriver::IsOpenInput(MidiHandle handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return inputs_.count(handle) != 0;
}

// The platform header that mirrors `header`: found when it has one already
// (preparing twice is harmless on the platform too), else made. The driver
// owns every mirror; a node of the map keeps its address until it is erased.
MIDIHDR* WinmmDriver::MirrorFor(MidiHeader* header) {
  if (header->driverData != nullptr) {
    return PlatformHeader(header);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  MIDIHDR& mirror = mirrors_[header];
  mirror = MIDIHDR{};
  mirror.lpData = reinterpret_cast<LPSTR>(header->data);
  mirror.dwBufferLength = header->bufferLength;
  mirror.dwUser = reinterpret_cast<DWORD_PTR>(header);
  return &mirror;
}

// Prepares `header` through its platform mirror with `prepare`, the output or
// input call; a mirror made for a prepare that failed is dropped again.
MmResult WinmmDriver::PrepareMirror(MidiHeader* header, const std::function<MMRESULT(MIDIHDR*)>& prepare) {
  const bool hadMirror = header->driverData != nullptr;
  MIDIHDR* mirror = MirrorFor(header);
  const MMRESULT result = prepare(mirror);
  if (result != MMSYSERR_NOERROR) {
    if (!hadMirror) {
      ForgetMirror(header);
    }
    return result;
  }
  header->driverData = mirror;
  header->flags.fetch_or(kMidiHeaderPrepared, std::memory_order_acq_rel);
  return kMmNoError;
}

void WinmmDriver::ForgetMirror(MidiHeader* header) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    mirrors_.erase(header);
  }
  header->driverData = nullptr;
  ClearPreparedFlags(header);
}

// ---- output ----

std::uint32_t WinmmDriver::OutGetNumDevs() { return midiOutGetNumDevs(); }

MmResult WinmmDriver::OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) {
  if (caps == nullptr || capsSize < kMidiOutCapsSize) {
    return kMmInvalidParam;
  }
  MIDIOUTCAPSA record{};
  const MMRESULT result = midiOutGetDevCapsA(device, &record, sizeof record);
  if (result == MMSYSERR_NOERROR) {
    CopyName(record.szPname, caps);
  }
  return result;
}

MmResult WinmmDriver::OutOpen(MidiHandle* handle, std::uint32_t device) {
  if (handle == nullptr) {
    return kMmInvalidParam;
  }
  HMIDIOUT opened = nullptr;
  const MMRESULT result = midiOutOpen(&opened, device, reinterpret_cast<DWORD_PTR>(&WinmmDriver::OnOutputEvent), 0,
                                      CALLBACK_FUNCTION);
  if (result != MMSYSERR_NOERROR || opened == nullptr) {
    *handle = 0;
    return result != MMSYSERR_NOERROR ? result : kMmError;
  }
  *handle = reinterpret_cast<MidiHandle>(opened);
  std::lock_guard<std::mutex> lock(mutex_);
  outputs_.insert(*handle);
  return kMmNoError;
}

MmResult WinmmDriver::OutClose(MidiHandle handle) {
  if (!IsOpenOutput(handle)) {
    return kMmInvalidHandle;
  }
  const MMRESULT result = midiOutClose(AsOut(handle));
  if (result == MMSYSERR_NOERROR) {
    std::lock_guard<std::mutex> lock(mutex_);
    outputs_.erase(handle);
  }
  return result;
}

MmResult WinmmDriver::OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  if (header == nullptr || headerSize < kMidiHeaderSize) {
    return kMmInvalidParam;
  }
  if (!IsOpenOutput(handle)) {
    return kMmInvalidHandle;
  }
  return PrepareMirror(header, [handle](MIDIHDR* mirror) {
    return midiOutPrepareHeader(AsOut(handle), mirror, kPlatformHeaderSize);
  });
}

MmResult WinmmDriver::OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  if (header == nullptr || headerSize < kMidiHeaderSize) {
    return kMmInvalidParam;
  }
  if (!IsOpenOutput(handle)) {
    return kMmInvalidHandle;
  }
  if (header->driverData == nullptr) {
    return kMidiUnprepared;
  }
  // Cleared before the platform has it: the completion may come before the call returns.
  header->flags.fetch_and(~kMidiHeaderDone, std::memory_order_acq_rel);
  return midiOutLongMsg(AsOut(handle), PlatformHeader(header), kPlatformHeaderSize);
}

MmResult WinmmDriver::OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  if (header == nullptr || headerSize < kMidiHeaderSize) {
    return kMmInvalidParam;
  }
  if (!IsOpenOutput(handle)) {
    return kMmInvalidHandle;
  }
  if (header->driverData == nullptr) {
    return kMmNoError;  // never prepared: nothing to undo
  }
  const MMRESULT result = midiOutUnprepareHeader(AsOut(handle), PlatformHeader(header), kPlatformHeaderSize);
  if (result == MMSYSERR_NOERROR) {
    ForgetMirror(header);
  }
  return result;
}

// ---- input ----

std::uint32_t WinmmDriver::InGetNumDevs() { return midiInGetNumDevs(); }

MmResult WinmmDriver::InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) {
  if (caps == nullptr || capsSize < kMidiInCapsSize) {
    return kMmInvalidParam;
  }
  MIDIINCAPSA record{};
  const MMRESULT result = midiInGetDevCapsA(device, &record, sizeof record);
  if (result == MMSYSERR_NOERROR) {
    CopyName(record.szPname, caps);
  }
  return result;
}

MmResult WinmmDriver::InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                             std::uintptr_t instance, std::uint32_t flags) {
  if (handle == nullptr || callback == nullptr || flags != kCallbackFunction) {
    return kMmInvalidParam;  // input is only ever taken through a function callback
  }
  *handle = 0;
  auto binding = std::unique_ptr<WinmmInputBinding>(new (std::nothrow) WinmmInputBinding{callback, instance});
  if (!binding) {
    return kMmNoMemory;
  }
  HMIDIIN opened = nullptr;
  const MMRESULT result = midiInOpen(&opened, device, reinterpret_cast<DWORD_PTR>(&WinmmDriver::OnInputEvent),
                                     reinterpret_cast<DWORD_PTR>(binding.get()), CALLBACK_FUNCTION);
  if (result != MMSYSERR_NOERROR || opened == nullptr) {
    return result != MMSYSERR_NOERROR ? result : kMmError;
  }
  *handle = reinterpret_cast<MidiHandle>(opened);
  std::lock_guard<std::mutex> lock(mutex_);
  inputs_[*handle] = std::move(binding);
  return kMmNoError;
}

MmResult WinmmDriver::InReset(MidiHandle handle) {
  if (!IsOpenInput(handle)) {
    return kMmInvalidHandle;
  }
  return midiInReset(AsIn(handle));
}

MmResult WinmmDriver::InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  if (header == nullptr || header->data == nullptr || headerSize < kMidiHeaderSize) {
    return kMmInvalidParam;
  }
  if (!IsOpenInput(handle)) {
    return kMmInvalidHandle;
  }
  return PrepareMirror(header, [handle](MIDIHDR* mirror) {
    return midiInPrepareHeader(AsIn(handle), mirror, kPlatformHeaderSize);
  });
}

MmResult WinmmDriver::InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  if (header == nullptr || headerSize < kMidiHeaderSize) {
    return kMmInvalidParam;
  }
  if (!IsOpenInput(handle)) {
    return kMmInvalidHandle;
  }
  MIDIHDR* mirror = PlatformHeader(header);
  if (mirror == nullptr) {
    return kMidiUnprepared;
  }
  // The port may have changed where the buffer is between two lendings.
  mirror->lpData = reinterpret_cast<LPSTR>(header->data);
  mirror->dwBufferLength = header->bufferLength;
  mirror->dwBytesRecorded = 0;
  header->bytesRecorded = 0;
  header->flags.fetch_and(~kMidiHeaderDone, std::memory_order_acq_rel);
  const MMRESULT result = midiInAddBuffer(AsIn(handle), mirror, kPlatformHeaderSize);
  if (result == MMSYSERR_NOERROR) {
    header->flags.fetch_or(kMidiHeaderInQueue, std::memory_order_acq_rel);
  }
  return result;
}

MmResult WinmmDriver::InStart(MidiHandle handle) {
  if (!IsOpenInput(handle)) {
    return kMmInvalidHandle;
  }
  return midiInStart(AsIn(handle));
}

MmResult WinmmDriver::InStop(MidiHandle handle) {
  if (!IsOpenInput(handle)) {
    return kMmInvalidHandle;
  }
  return midiInStop(AsIn(handle));
}

MmResult WinmmDriver::InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  if (header == nullptr || headerSize < kMidiHeaderSize) {
    return kMmInvalidParam;
  }
  if (!IsOpenInput(handle)) {
    return kMmInvalidHandle;
  }
  if (header->driverData == nullptr) {
    return kMmNoError;
  }
  const MMRESULT result = midiInUnprepareHeader(AsIn(handle), PlatformHeader(header), kPlatformHeaderSize);
  if (result == MMSYSERR_NOERROR) {
    ForgetMirror(header);
  }
  return result;
}

MmResult WinmmDriver::InClose(MidiHandle handle) {
  if (!IsOpenInput(handle)) {
    return kMmInvalidHandle;
  }
  const MMRESULT result = midiInClose(AsIn(handle));
  if (result == MMSYSERR_NOERROR) {
    // No callback of this device runs any more: its binding can go.
    std::unique_ptr<WinmmInputBinding> binding;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = inputs_.find(handle);
    if (it != inputs_.end()) {
      binding = std::move(it->second);
      inputs_.erase(it);
    }
  }
  return result;
}

void WinmmDriver::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace kv::midi
