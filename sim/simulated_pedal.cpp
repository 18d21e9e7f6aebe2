#include "sim/simulated_pedal.h"

namespace kv::sim {

std::unique_ptr<SimulatedPedal> SimulatedPedal::Create(const Scenario& scenario, std::string& error) {
  std::unique_ptr<SimulatedPedal> pedal(new SimulatedPedal());
  PedalModel::Tap tap;
  if (!scenario.transcriptPath.empty()) {
    pedal->transcript_ = std::make_unique<TranscriptWriter>(scenario.transcriptPath);
    if (!pedal->transcript_->IsOpen()) {
      error = "cannot write the transcript '" + scenario.transcriptPath + "'";
      return nullptr;
    }
    TranscriptWriter* writer = pedal->transcript_.get();
    tap = [writer](Direction direction, const std::uint8_t* data, std::size_t length) {
      writer->Write(direction, data, length);
    };
  }
  pedal->driver_ = std::make_unique<midi::LoopbackDriver>(kSimulatedPortName);
  midi::LoopbackDriver* driver = pedal->driver_.get();
  const std::uint32_t delayMs = scenario.replyDelayMs;
  pedal->model_ = std::make_unique<PedalModel>(
      scenario,
      [driver, delayMs](const std::uint8_t* data, std::size_t length) { driver->SendToHost(0, data, length, delayMs); },
      std::move(tap));
  PedalModel* model = pedal->model_.get();
  driver->SetDeviceHandler([model](std::uint32_t outDevice, const std::uint8_t* data, std::size_t length) {
    if (outDevice == 0) {
      model->Receive(data, length);
    }
  });
  return pedal;
}

SimulatedPedal::~SimulatedPedal() {
  if (driver_) {
    driver_->SetDeviceHandler({});
  }
}

}  // namespace kv::sim
