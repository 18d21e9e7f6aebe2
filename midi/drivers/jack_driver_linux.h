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

#include <memory>
#include <mutex>

#include "midi/drivers/stream_driver.h"

namespace kv::midi {

class JackMidiClient;

// Clients of this program start with this; they are never listed as devices.
constexpr const char* kJackClientPrefix = "kv-updater";

class JackDriver final : public StreamDriver {
 public:
  JackDriver();
  ~JackDriver() override;

 protected:
  std::vector<ListedPort> ListPorts(bool output) override;
  MmResult OpenOutput(const std::string& address, std::shared_ptr<OutputStream>& stream) override;
  MmResult OpenInput(const std::string& address, MidiHandle handle, MidiInCallback callback,
                     std::uintptr_t instance, std::shared_ptr<InputStream>& stream) override;

 private:
  void ReleaseLostProbeLocked();

  // The client through which ports are listed, kept from one listing to the
  // next: opening and closing a client for every count loads the server.
  std::mutex probeMutex_;
  std::unique_ptr<JackMidiClient> probe_;
};

}  // namespace kv::midi
