// The MIDI driver of the platform the program runs on.
#pragma once

#include <memory>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

// On Linux: the sound cards' rawmidi devices first, then the ports of a JACK
// server, in one numbering; each service only where this build has it. A
// service that is not running simply lists no devices.
std::unique_ptr<MidiDriver> CreatePlatformMidiDriver();

}  // namespace kv::midi
