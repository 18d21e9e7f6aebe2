// MIDI devices of the sound cards, through ALSA rawmidi.
//
// Rawmidi carries a SysEx message of any length byte for byte, which the
// sequencer path does not promise. Every rawmidi subdevice that can play is an
// output device, every one that can capture an input device; each is named by
// its card's product name (see device_names.h for the suffixes), so a pedal
// is preselected by its name as it is elsewhere.
//
// Output: a long message is written on the caller's thread and drained; the
// header is marked done only once every byte has left, and a write or drain
// that fails returns an error. Input: one reader thread per open device,
// feeding a LentBufferInput. Probing is quiet: libasound's error printer is
// replaced by one that prints nothing.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "midi/drivers/handle_table.h"
#include "midi/drivers/midi_driver.h"

namespace kv::midi {

class AlsaOutput;
class AlsaInput;

class AlsaDriver final : public MidiDriver {
 public:
  AlsaDriver();
  ~AlsaDriver() override;
  AlsaDriver(const AlsaDriver&) = delete;
  AlsaDriver& operator=(const AlsaDriver&) = delete;

  std::uint32_t OutGetNumDevs() override;
  MmResult OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) override;
  MmResult OutOpen(MidiHandle* handle, std::uint32_t device) override;
  MmResult OutClose(MidiHandle handle) override;
  MmResult OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;

  std::uint32_t InGetNumDevs() override;
  MmResult InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) override;
  MmResult InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                  std::uintptr_t instance, std::uint32_t flags) override;
  MmResult InReset(MidiHandle handle) override;
  MmResult InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InStart(MidiHandle handle) override;
  MmResult InStop(MidiHandle handle) override;
  MmResult InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InClose(MidiHandle handle) override;

  void Sleep(std::uint32_t milliseconds) override;

 private:
  struct Port {
    std::string deviceName;   // "hw:card,device,subdevice"
    std::string productName;  // as listed
  };
  // Lists the devices again and keeps the list, so that numbers given
  // to later calls mean what the last count listed.
  std::uint32_t Relist(bool output);
  bool Lookup(bool output, std::uint32_t device, Port& port);

  std::mutex listMutex_;
  std::vector<Port> outPorts_;
  std::vector<Port> inPorts_;
  bool outListed_ = false;
  bool inListed_ = false;

  HandleTable<AlsaOutput> outputs_;
  HandleTable<AlsaInput> inputs_;
};

}  // namespace kv::midi
