// Which MIDI devices a program talks to: the platform's, or, when the
// environment variable KV_MIDI is "sim", the ports of a simulated pedal in
// the same process. The variable is a platform choice, like a display
// setting, not a setting of the updater.
#pragma once

#include <memory>
#include <string>

#include "midi/drivers/midi_driver.h"
#include "sim/scenario.h"
#include "sim/simulated_pedal.h"

namespace kv::sim {

constexpr const char* kMidiBackendVariable = "KV_MIDI";
constexpr const char* kSimulatedBackendValue = "sim";

struct MidiBackend {
  // Null when no driver could be made. For the simulated backend it keeps
  // the pedal alive for as long as anyone holds it.
  std::shared_ptr<midi::MidiDriver> driver;
  // The pedal behind `driver`, or null for the platform's devices.
  std::shared_ptr<SimulatedPedal> pedal;
};

// A simulated pedal with `scenario`; no driver, with `error` set, when its
// transcript cannot be created.
MidiBackend SimulatedBackend(const Scenario& scenario, std::string& error);

// KV_MIDI=sim: a simulated pedal with the default scenario; otherwise the
// platform's driver.
MidiBackend SelectMidiBackend();

bool SimulatedBackendRequested();

}  // namespace kv::sim
