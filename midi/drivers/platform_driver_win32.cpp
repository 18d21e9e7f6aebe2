// On Windows the platform's driver is the multimedia MIDI service.
#include <new>

#include "midi/drivers/platform_driver.h"
#include "midi/drivers/winmm_driver_win32.h"

namespace kv::midi {

std::unique_ptr<MidiDriver> CreatePlatformMidiDriver() {
  return std::unique_ptr<MidiDriver>(new (std::nothrow) WinmmDriver());
}

}  // namespace kv::midi
