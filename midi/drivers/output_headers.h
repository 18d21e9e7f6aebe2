// The life of an output header as every driver of this seam treats it:
// prepared, then queued by a long message, then marked done once all its
// bytes have left, then unprepared. A message that could not be sent comes
// back from the long-message call as an error and is never marked done.
#pragma once

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

MmResult PrepareOutputHeader(MidiHeader* header, std::uint32_t headerSize);
MmResult UnprepareOutputHeader(MidiHeader* header, std::uint32_t headerSize);

// Checks that `header` may be sent now and marks it queued, done cleared.
MmResult BeginOutputMessage(MidiHeader* header, std::uint32_t headerSize);
// Takes the header out of the queue; marks it done only when `sent`.
void EndOutputMessage(MidiHeader* header, bool sent);

}  // namespace kv::midi
