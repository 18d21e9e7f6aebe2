#include "midi/device_name.h"

#include <cstring>

namespace kv::midi {

void CopyDeviceName(const MidiCaps& caps, char* buffer, std::size_t bound) {
  if (buffer == nullptr || bound == 0) {
    return;
  }
  std::size_t length = strnlen(caps.productName, sizeof caps.productName);
  if (length > bound - 1) {
    length = bound - 1;
  }
  std::memcpy(buffer, caps.productName, length);
  buffer[length] = '\0';
}

}  // namespace kv::midi
