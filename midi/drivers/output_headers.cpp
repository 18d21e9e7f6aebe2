#include "midi/drivers/output_headers.h"

namespace kv::midi {

namespace {

bool Valid(const MidiHeader* header, std::uint32_t headerSize) {
  return header != nullptr && headerSize == kMidiHeaderSize && header->data != nullptr &&
         header->bufferLength > 0;
}

}  // namespace

MmResult PrepareOutputHeader(MidiHeader* header, std::uint32_t headerSize) {
  if (!Valid(header, headerSize)) return kMmInvalidParam;
  header->flags.fetch_or(kMidiHeaderPrepared);
  return kMmNoError;
}

MmResult UnprepareOutputHeader(MidiHeader* header, std::uint32_t headerSize) {
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  if ((header->flags.load() & kMidiHeaderInQueue) != 0) return kMidiStillPlaying;
  header->flags.fetch_and(~kMidiHeaderPrepared);
  return kMmNoError;
}

MmResult BeginOutputMessage(MidiHeader* header, std::uint32_t headerSize) {
  if (!Valid(header, headerSize)) return kMmInvalidParam;
  const std::uint32_t flags = header->flags.load();
  if ((flags & kMidiHeaderPrepared) == 0) return kMidiUnprepared;
  if ((flags & kMidiHeaderInQueue) != 0) return kMidiStillPlaying;
  header->flags.store((flags & ~kMidiHeaderDone) | kMidiHeaderInQueue);
  return kMmNoError;
}

void EndOutputMessage(MidiHeader* header, bool sent) {
  std::uint32_t flags = header->flags.load() & ~kMidiHeaderInQueue;
  if (sent) flags |= kMidiHeaderDone;
  header->flags.store(flags);
}

}  // namespace kv::midi
