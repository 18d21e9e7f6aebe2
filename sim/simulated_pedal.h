// A pedal model behind in-process MIDI ports: the loopback driver's output
// device 0 carries the host's messages to the model, and the model's answers
// come back on input device 0 after the scenario's reply delay. Both devices
// carry the name "TARVO KV Series", so the port preselection finds them.
#pragma once

#include <memory>
#include <string>

#include "engine/firmware_images.h"
#include "midi/drivers/loopback_driver.h"
#include "sim/pedal_model.h"
#include "sim/scenario.h"
#include "sim/transcript.h"

namespace kv::sim {

constexpr const char* kSimulatedPortName = "TARVO KV Series";

class SimulatedPedal {
 public:
  // Null, with `error` set, when the scenario's transcript cannot be created.
  static std::unique_ptr<SimulatedPedal> Create(const Scenario& scenario, std::string& error);
  ~SimulatedPedal();
  SimulatedPedal(const SimulatedPedal&) = delete;
  SimulatedPedal& operator=(const SimulatedPedal&) = delete;

  // Ports built on the driver must be gone before the pedal is destroyed.
  midi::LoopbackDriver& Driver() { return *driver_; }
  PedalModel& Model() { return *model_; }
  VerifyResult Verify(const ImageSource& images = EmbeddedImages()) const { return model_->Verify(images); }

 private:
  SimulatedPedal() = default;

  // Destroyed bottom to top: the driver (and with it every call into the
  // model) first, the transcript last.
  std::unique_ptr<TranscriptWriter> transcript_;
  std::unique_ptr<PedalModel> model_;
  std::unique_ptr<midi::LoopbackDriver> driver_;
};

}  // namespace kv::sim
