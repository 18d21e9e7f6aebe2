#include "sim/flash_memory.h"

namespace kv::sim {

FlashMemory::FlashMemory() : bytes_(kFlashSize) {
  for (std::uint32_t a = 0; a < kFlashSize; ++a) {
    bytes_[a] = OldContent(a);
  }
}

std::uint8_t FlashMemory::OldContent(std::uint32_t address) {
  // A multiplicative hash: every byte value occurs, and nearly every byte has
  // cleared bits that a write of new firmware would need set.
  std::uint32_t x = address * 2654435761u;
  x ^= x >> 16;
  return static_cast<std::uint8_t>(x ^ (x >> 8));
}

bool FlashMemory::Erase(std::uint32_t address, std::uint32_t size) {
  if (!InRange(address, size)) {
    return false;
  }
  for (std::uint32_t k = 0; k < size; ++k) {
    bytes_[address + k] = kErasedByte;
  }
  return true;
}

ProgramResult FlashMemory::Program(std::uint32_t address, const std::uint8_t* data, std::size_t length) {
  if (!InRange(address, length)) {
    return ProgramResult::kOutOfRange;
  }
  bool verified = true;
  for (std::size_t k = 0; k < length; ++k) {
    std::uint8_t& cell = bytes_[address + k];
    cell = static_cast<std::uint8_t>(cell & data[k]);
    verified = verified && cell == data[k];
  }
  return verified ? ProgramResult::kOk : ProgramResult::kVerifyFailed;
}

}  // namespace kv::sim
