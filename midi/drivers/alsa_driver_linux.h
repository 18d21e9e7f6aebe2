// MIDI devices of the sound cards, through ALSA rawmidi.
//
// Rawmidi carries a SysEx message of any length byte for byte, which the
// sequencer path does not promise. Every rawmidi subdevice that can play is an
// output device, every one that can capture an input device; each is named by
// its card's product name (see device_names.h for the suffixes), so a pedal
// is preselected by its name as it is elsewhere.
//
// Output: a long message is written on the sender's thread and drained, so
// the header is marked done only once every byte has left, and a write or
// drain that fails is an error of OutLongMsg. A write that makes no progress
// for seconds fails, and the drain is bounded by the kernel (10 s). Input: one
// reader thread per open device. Probing is quiet: libasound's error printer
// is replaced by one that prints nothing.
#pragma once

#include "midi/drivers/stream_driver.h"

namespace kv::midi {

class AlsaDriver final : public StreamDriver {
 public:
  AlsaDriver();

 protected:
  std::vector<ListedPort> ListPorts(bool output) override;
  MmResult OpenOutput(const std::string& address, std::shared_ptr<OutputStream>& stream) override;
  MmResult OpenInput(const std::string& address, MidiHandle handle, MidiInCallback callback,
                     std::uintptr_t instance, std::shared_ptr<InputStream>& stream) override;
};

}  // namespace kv::midi
