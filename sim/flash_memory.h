// The pedal's 4 MiB flash part, with the behaviour of a real NOR flash:
// erasing sets bytes to 0xFF, programming can only clear bits. It starts out
// holding old firmware (a fixed pattern, not 0xFF), so writing a region that
// was not erased first fails as it would on the device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv::sim {

constexpr std::uint32_t kFlashSize = 0x400000;
constexpr std::uint8_t kErasedByte = 0xFF;

enum class ProgramResult {
  kOk,
  kOutOfRange,    // nothing changed
  kVerifyFailed,  // programmed, but some byte needed a 0 bit set back to 1
};

class FlashMemory {
 public:
  FlashMemory();

  // The content a byte holds before anything is erased or programmed.
  static std::uint8_t OldContent(std::uint32_t address);

  // False, changing nothing, when the range leaves the part.
  bool Erase(std::uint32_t address, std::uint32_t size);

  // Programs `length` bytes: every cell becomes old & data, as programming
  // pulses can only clear bits. Where a cell would have needed a bit set, the
  // part still programs what it can and the read-back check fails.
  ProgramResult Program(std::uint32_t address, const std::uint8_t* data, std::size_t length);

  const std::uint8_t* Data() const { return bytes_.data(); }
  std::uint8_t At(std::uint32_t address) const { return bytes_[address]; }

 private:
  static bool InRange(std::uint64_t address, std::uint64_t size) { return address + size <= kFlashSize; }

  std::vector<std::uint8_t> bytes_;
};

}  // namespace kv::sim
