#include "sim/message_decoding.h"

namespace kv::sim {

namespace {

constexpr std::size_t kWriteDataOverhead = 18;  // header 12, CRC 5, end 1
constexpr std::size_t kEraseRequestLength = 16;

}  // namespace

bool ReadSevenBitGroups(const std::uint8_t* in, int count, std::uint32_t& value) {
  std::uint64_t result = 0;
  for (int k = 0; k < count; ++k) {
    if (in[k] & 0x80) {
      return false;
    }
    result |= static_cast<std::uint64_t>(in[k]) << (7 * k);
  }
  if (result > 0xFFFFFFFFu) {
    return false;
  }
  value = static_cast<std::uint32_t>(result);
  return true;
}

bool UnpackSevenBit(const std::uint8_t* packed, std::size_t packedLength, std::size_t length,
                    std::vector<std::uint8_t>& out) {
  if (packedLength != length + (length + 6) / 7) {
    return false;
  }
  out.resize(length);
  std::size_t read = 0;
  for (std::size_t start = 0; start < length; start += 7) {
    const std::size_t n = length - start < 7 ? length - start : 7;
    const std::uint8_t header = packed[read++];
    if (header & 0x80) {
      return false;
    }
    for (std::size_t j = 0; j < n; ++j) {
      const std::uint8_t low = packed[read++];
      if (low & 0x80) {
        return false;
      }
      const bool high = (header & (0x40 >> j)) != 0;
      out[start + j] = static_cast<std::uint8_t>(low | (high ? 0x80 : 0x00));
    }
  }
  return true;
}

DecodeResult DecodeWriteData(const std::uint8_t* m, std::size_t length, WriteData& out) {
  if (length < kWriteDataOverhead || m[length - 1] != 0xF7) {
    return DecodeResult::kMalformed;
  }
  std::uint32_t dataLength = 0;
  if (!ReadSevenBitGroups(m + 5, 5, out.address) || !ReadSevenBitGroups(m + 10, 2, dataLength)) {
    return DecodeResult::kMalformed;
  }
  const std::size_t packedLength = length - kWriteDataOverhead;
  if (!UnpackSevenBit(m + 12, packedLength, dataLength, out.data) ||
      !ReadSevenBitGroups(m + 12 + packedLength, 5, out.crc)) {
    return DecodeResult::kMalformed;
  }
  return DecodeResult::kOk;
}

DecodeResult DecodeEraseRequest(const std::uint8_t* m, std::size_t length, EraseRequest& out) {
  if (length != kEraseRequestLength || m[15] != 0xF7 || !ReadSevenBitGroups(m + 5, 5, out.address) ||
      !ReadSevenBitGroups(m + 10, 5, out.size)) {
    return DecodeResult::kMalformed;
  }
  return DecodeResult::kOk;
}

}  // namespace kv::sim
