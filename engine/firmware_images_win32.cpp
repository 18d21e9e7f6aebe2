// The images as "BIN" resources of this program, found by identifier.
#include <windows.h>

#include <cstdint>

#include "engine/firmware_images.h"

namespace kv {
namespace {

class ResourceImageSource final : public ImageSource {
 public:
  ImageBytes Find(std::int32_t resourceId) const override {
    // Identifiers above 0xFFFF cannot name a resource by number.
    if (resourceId <= 0 || resourceId > 0xFFFF) {
      return {};
    }
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(resourceId), "BIN");
    if (found == nullptr) {
      return {};
    }
    HGLOBAL loaded = LoadResource(nullptr, found);
    const DWORD size = SizeofResource(nullptr, found);
    const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
    if (bytes == nullptr) {
      return {};
    }
    // Resources stay mapped for the life of the program: nothing to release.
    return {static_cast<const std::uint8_t*>(bytes), static_cast<std::size_t>(size)};
  }
};

}  // namespace

const ImageSource& EmbeddedImages() {
  static const ResourceImageSource source;
  return source;
}

}  // namespace kv
