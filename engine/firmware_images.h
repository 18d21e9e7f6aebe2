// The four firmware images the plan writes, embedded in the program and
// found by their numeric identifiers 129, 133, 136 and 137.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

struct ImageBytes {
  const std::uint8_t* data = nullptr;  // null when there is no such image
  std::size_t size = 0;
};

// Looks an image up by identifier. The engine takes one so tests can offer
// missing or short images.
class ImageSource {
 public:
  virtual ImageBytes Find(std::int32_t resourceId) const = 0;

 protected:
  ~ImageSource() = default;
};

// The images embedded in this program (linked-in data on Linux, "BIN"
// resources on Windows).
const ImageSource& EmbeddedImages();

}  // namespace kv
