#include "sim/flash_verification.h"

#include <cstdio>

namespace kv::sim {

namespace {

VerifyResult Mismatch(const char* format, auto... values) {
  char text[200];
  std::snprintf(text, sizeof text, format, values...);
  return {false, std::string("flash mismatch: ") + text};
}

}  // namespace

VerifyResult VerifyFlash(const FlashMemory& flash, const ImageSource& images) {
  std::uint64_t matched = 0;
  for (const ImageRegion& region : kImageRegions) {
    const ImageBytes image = images.Find(region.resourceId);
    if (image.data == nullptr) {
      return Mismatch("image %d is missing", static_cast<int>(region.resourceId));
    }
    if (image.size != region.size) {
      return Mismatch("image %d is %zu bytes, its region 0x%06X holds %u", static_cast<int>(region.resourceId),
                      image.size, region.address, region.size);
    }
    for (std::uint32_t k = 0; k < region.size; ++k) {
      const std::uint8_t actual = flash.At(region.address + k);
      if (actual != image.data[k]) {
        return Mismatch("image %d at 0x%06X (offset %u): flash 0x%02X, image 0x%02X",
                        static_cast<int>(region.resourceId), region.address + k, k, actual, image.data[k]);
      }
    }
    matched += region.size;
  }
  for (std::uint32_t a = kUntouchedBegin; a < kUntouchedEnd; ++a) {
    if (flash.At(a) != FlashMemory::OldContent(a)) {
      return Mismatch("0x%06X lies outside every image but was changed to 0x%02X", a, flash.At(a));
    }
  }
  return {true, "flash verified: 4 images, " + std::to_string(matched) + " bytes match"};
}

}  // namespace kv::sim
