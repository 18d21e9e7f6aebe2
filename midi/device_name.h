// Copying a driver's product name into a caller's buffer.
#pragma once

#include <cstddef>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

// What GetDeviceName writes at most, terminator included.
constexpr std::size_t kDeviceNameBound = 40;

// Copies the name in `caps` into `buffer`, at most `bound` characters with the
// terminator, and never reading past the record even when the driver left the
// name unterminated.
void CopyDeviceName(const MidiCaps& caps, char* buffer, std::size_t bound);

}  // namespace kv::midi
