#include "midi/drivers/platform_driver.h"

#include <vector>

#include "midi/drivers/alsa_driver_linux.h"
#include "midi/drivers/combined_driver.h"
#include "midi/drivers/jack_driver_linux.h"

namespace kv::midi {

std::unique_ptr<MidiDriver> CreatePlatformMidiDriver() {
  std::vector<CombinedDriver::Member> members;
#if defined(KV_HAVE_ALSA)
  members.push_back(CombinedDriver::Member{"ALSA", std::make_unique<AlsaDriver>()});
#endif
#if defined(KV_HAVE_JACK)
  members.push_back(CombinedDriver::Member{"JACK", std::make_unique<JackDriver>()});
#endif
  return std::make_unique<CombinedDriver>(std::move(members));
}

}  // namespace kv::midi
