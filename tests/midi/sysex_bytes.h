// Test messages that carry their own identity, so a receiver can tell which
// message it got and whether it arrived whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv::midi::test {

// F0, sender, sequence as three 7-bit groups, a payload that depends on all
// of them, F7. `length` is at least 6.
inline std::vector<std::uint8_t> TaggedSysEx(std::uint8_t sender, std::uint32_t sequence, std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  bytes[0] = 0xF0;
  bytes[1] = sender & 0x7F;
  bytes[2] = sequence & 0x7F;
  bytes[3] = (sequence >> 7) & 0x7F;
  bytes[4] = (sequence >> 14) & 0x7F;
  for (std::size_t i = 5; i + 1 < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 31 + sequence * 7 + sender * 13) & 0x7F);
  }
  bytes[length - 1] = 0xF7;
  return bytes;
}

inline std::uint32_t SequenceOf(const std::uint8_t* bytes) {
  return bytes[2] | (bytes[3] << 7) | (bytes[4] << 14);
}

// A plain message of `length` bytes, F0 first and F7 last.
inline std::vector<std::uint8_t> SysEx(std::size_t length, std::uint8_t seed = 1) {
  return TaggedSysEx(seed, 0, length);
}

}  // namespace kv::midi::test
