// kv-updater: the updater dialog on Linux. No arguments, no settings; the
// MIDI devices are the platform's, or a simulated pedal's when the
// environment says KV_MIDI=sim.
#include <QApplication>

#include <memory>
#include <string>
#include <vector>

#include "midi/drivers/loopback_driver.h"
#include "midi/drivers/thread_timer_service.h"
#include "sim/midi_backend.h"
#include "ui/qt/qt_app_platform.h"
#include "ui/updator_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);

  kv::QtAppPlatform platform([] {
    kv::sim::MidiBackend backend = kv::sim::SelectMidiBackend();
    std::shared_ptr<kv::midi::MidiDriver> driver = backend.driver;
    if (!driver) {
      // No MIDI service at all: the dialog still opens, with empty lists.
      driver = std::make_shared<kv::midi::LoopbackDriver>(std::vector<std::string>{}, std::vector<std::string>{});
    }
    return kv::MidiServices{std::move(driver), std::make_shared<kv::midi::ThreadTimerService>()};
  });
  kv::CTx3UpdatorApp app(platform);
  app.InitInstance();  // runs the dialog; false in every case
  return 0;
}
