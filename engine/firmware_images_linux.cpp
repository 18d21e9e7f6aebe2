// The images as linked in by firmware_blobs_linux.S, found by identifier.
#include <array>
#include <cstdint>

#include "engine/firmware_images.h"

extern "C" {
extern const std::uint8_t kv_firmware_129_begin[];
extern const std::uint8_t kv_firmware_129_end[];
extern const std::uint8_t kv_firmware_133_begin[];
extern const std::uint8_t kv_firmware_133_end[];
extern const std::uint8_t kv_firmware_136_begin[];
extern const std::uint8_t kv_firmware_136_end[];
extern const std::uint8_t kv_firmware_137_begin[];
extern const std::uint8_t kv_firmware_137_end[];
}

namespace kv {
namespace {

struct LinkedImage {
  std::int32_t resourceId;
  const std::uint8_t* begin;
  const std::uint8_t* end;
};

const std::array<LinkedImage, 4> kLinkedImages{{
    {129, kv_firmware_129_begin, kv_firmware_129_end},
    {133, kv_firmware_133_begin, kv_firmware_133_end},
    {136, kv_firmware_136_begin, kv_firmware_136_end},
    {137, kv_firmware_137_begin, kv_firmware_137_end},
}};

class LinkedImageSource final : public ImageSource {
 public:
  ImageBytes Find(std::int32_t resourceId) const override {
    for (const LinkedImage& image : kLinkedImages) {
      if (image.resourceId == resourceId) {
        return {image.begin, static_cast<std::size_t>(image.end - image.begin)};
      }
    }
    return {};
  }
};

}  // namespace

const ImageSource& EmbeddedImages() {
  static const LinkedImageSource source;
  return source;
}

}  // namespace kv
