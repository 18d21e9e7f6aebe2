// The pedal's side of the codec: reading the host's write-data and erase
// messages back into addresses, sizes and data bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv::sim {

// Reads `count` 7-bit groups, least significant first. False when a byte has
// bit 7 set or the value does not fit 32 bits.
bool ReadSevenBitGroups(const std::uint8_t* in, int count, std::uint32_t& value);

// Reverses the 7-bit packing: groups of one header byte and up to seven data
// bytes whose bit 7 the header carries (0x40 for the first, down to 0x01).
// False when `packedLength` is not a whole number of groups for `length`
// bytes or a packed byte has bit 7 set.
bool UnpackSevenBit(const std::uint8_t* packed, std::size_t packedLength, std::size_t length,
                    std::vector<std::uint8_t>& out);

struct WriteData {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> data;
  std::uint32_t crc = 0;  // as carried in the message
};

enum class DecodeResult { kOk, kMalformed };

// `m` is a whole vendor message with command 0x02.
DecodeResult DecodeWriteData(const std::uint8_t* m, std::size_t length, WriteData& out);

struct EraseRequest {
  std::uint32_t address = 0;
  std::uint32_t size = 0;
};

// `m` is a whole vendor message with command 0x0A.
DecodeResult DecodeEraseRequest(const std::uint8_t* m, std::size_t length, EraseRequest& out);

}  // namespace kv::sim
