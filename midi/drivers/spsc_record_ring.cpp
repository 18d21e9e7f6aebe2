#include "midi/drivers/spsc_record_ring.h"

#include <algorithm>
#include <cstring>

namespace kv::midi {

namespace {
using RecordLength = std::uint32_t;
}

SpscRecordRing::SpscRecordRing(std::size_t capacityBytes)
    : capacity_(capacityBytes), bytes_(std::make_unique<std::uint8_t[]>(capacityBytes)) {}

bool SpscRecordRing::Write(const std::uint8_t* data, std::size_t length) {
  const std::size_t written = written_.load(std::memory_order_relaxed);
  const std::size_t free = capacity_ - (written - read_.load(std::memory_order_acquire));
  if (length > UINT32_MAX || sizeof(RecordLength) + length > free) return false;
  const RecordLength recordLength = static_cast<RecordLength>(length);
  CopyIn(written, &recordLength, sizeof recordLength);
  CopyIn(written + sizeof recordLength, data, length);
  written_.store(written + sizeof recordLength + length, std::memory_order_release);
  return true;
}

bool SpscRecordRing::Read(std::vector<std::uint8_t>& out) {
  const std::size_t read = read_.load(std::memory_order_relaxed);
  if (written_.load(std::memory_order_acquire) == read) return false;
  RecordLength length = 0;
  CopyOut(read, &length, sizeof length);
  out.resize(length);
  CopyOut(read + sizeof length, out.data(), length);
  read_.store(read + sizeof length + length, std::memory_order_release);
  return true;
}

void SpscRecordRing::CopyIn(std::size_t position, const void* from, std::size_t length) {
  if (length == 0) return;
  const auto* source = static_cast<const std::uint8_t*>(from);
  const std::size_t start = position % capacity_;
  const std::size_t first = std::min(length, capacity_ - start);
  std::memcpy(bytes_.get() + start, source, first);
  std::memcpy(bytes_.get(), source + first, length - first);
}

void SpscRecordRing::CopyOut(std::size_t position, void* to, std::size_t length) const {
  if (length == 0) return;
  auto* target = static_cast<std::uint8_t*>(to);
  const std::size_t start = position % capacity_;
  const std::size_t first = std::min(length, capacity_ - start);
  std::memcpy(target, bytes_.get() + start, first);
  std::memcpy(target + first, bytes_.get(), length - first);
}

}  // namespace kv::midi
