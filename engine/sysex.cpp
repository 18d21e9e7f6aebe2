#include "engine/sysex.h"

#include <array>

namespace kv {

std::atomic<std::uint8_t> ModelId{kInitialModelId};

namespace {

// The host's identity reply carries this in byte 6. Written by the worker,
// read by the dispatcher on the timer thread; never reset.
std::atomic<std::uint8_t> identityModel{0x00};

// Reflected CRC-32 tables, polynomial 0xEDB88320, built at compile time.
// Row 0 is the usual byte table; row k advances a byte through k more zero
// bytes, so that eight bytes are folded in per step. Byte at a time, the CRC
// of a chunk cost more than packing it; eight at a time it costs a fraction.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
  CrcTables tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) {
      c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    tables[0][i] = c;
  }
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFFu];
    }
  }
  return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();
constexpr const std::array<std::uint32_t, 256>& kCrcTable = kCrcTables[0];
static_assert(kCrcTable[1] == 0x77073096u && kCrcTable[255] == 0x2D02EF8Du);

// Four bytes as a little-endian number, whatever the machine's byte order.
constexpr std::uint32_t LoadLittle32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Bytes 0 to 4 of a vendor message the host sends.
std::uint8_t* PutVendorHeader(std::uint8_t* out, std::uint8_t model, std::uint8_t command) {
  out[0] = kSysExStart;
  out[1] = kVendorId;
  out[2] = 0x00;
  out[3] = model;
  out[4] = command;
  return out + 5;
}

}  // namespace

const std::uint8_t kIdentityRequest[kIdentityRequestLength] = {
    kSysExStart, kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityRequestSubId, kSysExEnd};

void SetIdentityModel(std::uint8_t model) { identityModel.store(model); }

std::uint8_t GetIdentityModel() { return identityModel.load(); }

void StoreHostIdentityReply(std::uint8_t (&out)[kHostIdentityReplyLength]) {
  const std::uint8_t reply[kHostIdentityReplyLength] = {
      kSysExStart, kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityReplySubId,
      kVendorId,   GetIdentityModel(),    0x00, 0x00,                0x00,
      '1',         '0',                   '0',  '0',                 kSysExEnd};
  for (std::size_t i = 0; i < kHostIdentityReplyLength; ++i) {
    out[i] = reply[i];
  }
}

std::size_t PackSevenBit(std::uint8_t* destination, const std::uint8_t* source, std::size_t length) {
  std::size_t written = 0;
  for (std::size_t start = 0; start < length; start += 7) {
    const std::size_t n = (length - start < 7) ? length - start : 7;
    std::uint8_t* header = destination + written++;
    std::uint8_t bits = 0x00;
    for (std::size_t j = 0; j < n; ++j) {
      const std::uint8_t byte = source[start + j];
      if (byte & 0x80) {
        bits |= static_cast<std::uint8_t>(0x40 >> j);
      }
      destination[written++] = byte & 0x7F;
    }
    *header = bits;
  }
  return written;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  const auto& t = kCrcTables;
  for (; length >= 8; length -= 8, data += 8) {
    const std::uint32_t low = crc ^ LoadLittle32(data);
    const std::uint32_t high = LoadLittle32(data + 4);
    crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^ t[4][low >> 24] ^
          t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^ t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
  }
  for (; length > 0; --length, ++data) {
    crc = (crc >> 8) ^ kCrcTable[(crc ^ *data) & 0xFFu];
  }
  return crc;  // no final inversion: the pedal expects the register itself
}

void PutSevenBitGroups(std::uint8_t* out, std::uint32_t value) {
  for (int k = 0; k < 5; ++k) {
    out[k] = static_cast<std::uint8_t>((value >> (7 * k)) & 0x7F);
  }
}

// The composers refuse what the message cannot carry: a length the two
// length groups cannot hold, or a negative address or size (its sign bit
// would be lost in the five groups and the pedal would get another number).
// A refusal writes nothing and returns 0, which no message has as length.

std::size_t ComposeWriteData(std::uint8_t* out, std::uint8_t model, const std::uint8_t* data,
                             std::int32_t address, std::size_t length) {
  if (length > kMaxChunkLength || address < 0 || (data == nullptr && length != 0)) {
    return 0;
  }
  std::uint8_t* p = PutVendorHeader(out, model, kCmdWriteData);
  PutSevenBitGroups(p, static_cast<std::uint32_t>(address));
  p += 5;
  *p++ = static_cast<std::uint8_t>(length & 0x7F);
  *p++ = static_cast<std::uint8_t>((length >> 7) & 0x7F);
  p += PackSevenBit(p, data, length);
  PutSevenBitGroups(p, Crc32(data, length));
  p += 5;
  *p++ = kSysExEnd;
  return static_cast<std::size_t>(p - out);
}

std::size_t ComposeEraseRequest(std::uint8_t* out, std::uint8_t model, std::int32_t address, std::int32_t size) {
  if (address < 0 || size < 0) {
    return 0;
  }
  std::uint8_t* p = PutVendorHeader(out, model, kCmdErase);
  PutSevenBitGroups(p, static_cast<std::uint32_t>(address));
  PutSevenBitGroups(p + 5, static_cast<std::uint32_t>(size));
  p[10] = kSysExEnd;
  return kEraseRequestLength;
}

std::size_t ComposeStatus(std::uint8_t* out, std::uint8_t model, std::uint8_t code) {
  std::uint8_t* p = PutVendorHeader(out, model, kCmdStatus);
  p[0] = code;
  p[1] = kSysExEnd;
  return kStatusMessageLength;
}

std::size_t ComposeModeRequest(std::uint8_t* out, std::uint8_t model, std::uint8_t command) {
  if (command != kCmdUpdateMode && command != kCmdFinish) {
    return 0;
  }
  std::uint8_t* p = PutVendorHeader(out, model, command);
  p[0] = kSysExEnd;
  return kModeRequestLength;
}

}  // namespace kv
