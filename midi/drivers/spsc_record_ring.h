// A lock-free ring of byte records for one producer and one consumer, for
// moving MIDI events out of a real-time thread: Write neither blocks nor
// allocates, and a record that does not fit is refused whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kv::midi {

class SpscRecordRing {
 public:
  explicit SpscRecordRing(std::size_t capacityBytes);

  // Producer: false (nothing written) when the record does not fit now.
  bool Write(const std::uint8_t* data, std::size_t length);
  // Consumer: the next record into `out`; false when the ring is empty.
  bool Read(std::vector<std::uint8_t>& out);

 private:
  void CopyIn(std::size_t position, const void* from, std::size_t length);
  void CopyOut(std::size_t position, void* to, std::size_t length) const;

  const std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> bytes_;
  // Running counts of bytes written and read; their difference is the fill.
  std::atomic<std::size_t> written_{0};
  std::atomic<std::size_t> read_{0};
};

}  // namespace kv::midi
