// The MIDI seam over the platform's multimedia MIDI service.
//
// A seam header is mirrored by a platform header (MIDIHDR) that the driver
// allocates at prepare time and keeps in the seam header's `driverData` until
// it is unprepared; the platform header's user field points back to the seam
// header. The platform reports completion of either kind of header through a
// function callback, and the driver carries the done flag and the recorded
// byte count over to the seam header there, with a release store that the
// port's acquire load pairs with.
//
// Output devices are opened with a function callback too (the port itself
// asks for none): the platform writes its own header's flags from its thread
// with no ordering the port could rely on, so the done flag travels through
// the completion report instead of a shared plain field.
#pragma once

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <map>
#include <memory>
#include <functional>
#include <mutex>
#include <set>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

// What an input device's platform callback calls, with its instance value.
struct WinmmInputBinding {
  MidiInCallback callback = nullptr;
  std::uintptr_t instance = 0;
};

class WinmmDriver final : public MidiDriver {
 public:
  WinmmDriver() = default;
  ~WinmmDriver() override;
  WinmmDriver(const WinmmDriver&) = delete;
  WinmmDriver& operator=(const WinmmDriver&) = delete;

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

  // The platform's reports as the driver receives them: an output header
  // done, an input event with a header handed back (instance: the
  // WinmmInputBinding given at open).
  static void CALLBACK OnOutputEvent(HMIDIOUT device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                     DWORD_PTR param2);
  static void CALLBACK OnInputEvent(HMIDIIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                    DWORD_PTR param2);

 private:
  bool IsOpenOutput(MidiHandle handle) const;
  bool IsOpenInput(MidiHandle handle) const;
  MIDIHDR* MirrorFor(MidiHeader* header);
  void ForgetMirror(MidiHeader* header);
  MmResult PrepareMirror(MidiHeader* header, const std::function<MMRESULT(MIDIHDR*)>& prepare);

  mutable std::mutex mutex_;
  std::set<MidiHandle> outputs_;
  // Each binding lives from the open until a close the platform accepted;
  // after that no callback of the device runs.
  std::map<MidiHandle, std::unique_ptr<WinmmInputBinding>> inputs_;
  // The platform header of every prepared seam header.
  std::map<const MidiHeader*, MIDIHDR> mirrors_;
};

}  // namespace kv::midi
