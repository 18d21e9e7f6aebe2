// MIDI ports of a JACK server (also PipeWire's JACK layer).
//
// The output devices are the MIDI ports of other clients that take input
// (this driver writes to them), the input devices those that give output.
// A device is named by its port's pretty name where the server keeps one,
// else by its client's name (see device_names.h for the suffixes), so a pedal
// or a simulated pedal named "TARVO KV Series" is preselected by its name.
//
// Every open device is a client of its own ("kv-updater-out",
// "kv-updater-in"; the server numbers repeated names) with one port connected
// to the device's port; these clients never list one another. Output hands
// each message to the next process cycle as one event and returns once the
// cycle has taken it, so the header's done flag is set before OutLongMsg
// returns, and a message that cannot go (too long for a cycle, nothing
// connected, server gone) fails there. Input: the process cycle moves events
// into a ring, and a reader thread per device feeds them to a
// LentBufferInput, so the caller's callback never runs on the real-time
// thread.
//
// When the server goes away, a send waiting for its cycle fails and a reader
// ends, so nothing waits past the protocol's own waits. Probing never starts
// a server and prints nothing.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "midi/drivers/handle_table.h"
#include "midi/drivers/midi_driver.h"

namespace kv::midi {

class JackOutput;
class JackInput;

class JackDriver final : public MidiDriver {
 public:
  JackDriver();
  ~JackDriver() override;
  JackDriver(const JackDriver&) = delete;
  JackDriver& operator=(const JackDriver&) = delete;

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
    std::string portName;     // full "client:port"
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

  HandleTable<JackOutput> outputs_;
  HandleTable<JackInput> inputs_;
};

}  // namespace kv::midi
