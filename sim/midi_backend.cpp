#include "sim/midi_backend.h"

#include <cstdlib>
#include <cstring>

#include "midi/drivers/platform_driver.h"

namespace kv::sim {

MidiBackend SimulatedBackend(const Scenario& scenario, std::string& error) {
  std::shared_ptr<SimulatedPedal> pedal = SimulatedPedal::Create(scenario, error);
  if (!pedal) {
    return {};
  }
  // The driver shares ownership of the whole pedal.
  std::shared_ptr<midi::MidiDriver> driver(pedal, &pedal->Driver());
  return {std::move(driver), std::move(pedal)};
}

bool SimulatedBackendRequested() {
  const char* value = std::getenv(kMidiBackendVariable);
  return value != nullptr && std::strcmp(value, kSimulatedBackendValue) == 0;
}

MidiBackend SelectMidiBackend() {
  if (SimulatedBackendRequested()) {
    std::string unused;
    return SimulatedBackend(Scenario{}, unused);
  }
  return {std::shared_ptr<midi::MidiDriver>(midi::CreatePlatformMidiDriver()), nullptr};
}

}  // namespace kv::sim
