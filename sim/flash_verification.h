// After a run: does the simulated flash hold the four firmware images where
// an update puts them? The regions are written down here on their own, not
// taken from the host's plan, so a wrong address in the plan shows up.
#pragma once

#include <cstdint>
#include <string>

#include "engine/firmware_images.h"
#include "sim/flash_memory.h"

namespace kv::sim {

struct ImageRegion {
  std::int32_t resourceId;
  std::uint32_t address;
  std::uint32_t size;
};

// Where each image belongs, in the order the plan writes them.
constexpr ImageRegion kImageRegions[4] = {
    {136, 0x000000, 0x040000},
    {133, 0x3FD000, 0x003000},
    {137, 0x0F0000, 0x2C7000},
    {129, 0x040000, 0x0B0000},
};

// Bytes no update touches; they must still hold the old content.
constexpr std::uint32_t kUntouchedBegin = 0x3B7000;
constexpr std::uint32_t kUntouchedEnd = 0x3FD000;

struct VerifyResult {
  bool ok = false;
  std::string line;  // one line, no newline
};

// "flash verified: 4 images, 3907584 bytes match", or "flash mismatch: ..."
// naming the first image and byte that differ.
VerifyResult VerifyFlash(const FlashMemory& flash, const ImageSource& images);

}  // namespace kv::sim
