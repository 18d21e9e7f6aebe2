#include "engine/sysex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t length, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(length);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

Bytes Pack(const Bytes& source) {
  Bytes out(PackedLength(source.size()) + 1, 0xEE);  // one guard byte
  const std::size_t n = PackSevenBit(out.data(), source.data(), source.size());
  EXPECT_EQ(out.back(), 0xEE) << "wrote past its packed length";
  out.resize(n);
  return out;
}

// Inverse of the packing, written from the layout: a header of high bits,
// mask 0x40 for the group's first byte, then up to seven low-7-bit bytes.
Bytes Unpack(const Bytes& packed) {
  Bytes out;
  for (std::size_t i = 0; i < packed.size();) {
    const std::uint8_t header = packed[i++];
    for (int j = 0; j < 7 && i < packed.size(); ++j) {
      out.push_back(static_cast<std::uint8_t>(packed[i++] | ((header & (0x40 >> j)) ? 0x80 : 0)));
    }
  }
  return out;
}

TEST(PackSevenBit, KnownVectors) {
  struct Case {
    Bytes source, packed;
  };
  const Case cases[] = {
      {{}, {}},
      {{0x80}, {0x40, 0x00}},
      {{0x81, 0x02, 0xFF, 0x00, 0x80, 0x7F, 0xC3, 0x10}, {0x55, 0x01, 0x02, 0x7F, 0x00, 0x00, 0x7F, 0x43, 0x00, 0x10}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F}},
      {{0x01, 0x02, 0x83}, {0x10, 0x01, 0x02, 0x03}},  // short group: no filler, low header bits 0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Pack(c.source), c.packed);
  }
}

TEST(PackSevenBit, RoundTripsEveryLengthUpToAFewGroupsAndTheLargeOnes) {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 64; ++n) lengths.push_back(n);
  lengths.insert(lengths.end(), {2047, 2048, 2049, 16383});
  for (std::size_t n : lengths) {
    const Bytes source = RandomBytes(n, static_cast<std::uint32_t>(n));
    const Bytes packed = Pack(source);
    ASSERT_EQ(packed.size(), n + (n + 6) / 7) << n;
    for (std::uint8_t b : packed) ASSERT_LT(b, 0x80) << n;
    ASSERT_EQ(Unpack(packed), source) << n;
  }
  EXPECT_EQ(PackedLength(2048), 2341u);
  EXPECT_EQ(PackedLength(16383), 18724u);
}

std::uint32_t BitwiseCrc(const Bytes& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
  }
  return crc;
}

TEST(Crc32, KnownValuesAndBitwiseReference) {
  EXPECT_EQ(Crc32(nullptr, 0), 0xFFFFFFFFu);
  const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc32(digits.data(), digits.size()), 0x340BC6D9u);  // complement of the common 0xCBF43926
  EXPECT_EQ(Crc32(digits.data(), 1), ~0x83DCEFB7u);              // one byte: its own table entry
  for (std::size_t n : {1u, 2u, 7u, 255u, 256u, 2048u, 16383u}) {
    const Bytes data = RandomBytes(n, 1000u + static_cast<std::uint32_t>(n));
    EXPECT_EQ(Crc32(data.data(), data.size()), BitwiseCrc(data)) << n;
  }
}

TEST(SevenBitGroups, LeastSignificantFirst) {
  std::uint8_t out[5];
  PutSevenBitGroups(out, 0xFFFFFFFFu);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x0F}));
  PutSevenBitGroups(out, 0x7FFFFFFFu);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x07}));
  PutSevenBitGroups(out, 0x3FD000u);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{0x00, 0x20, 0x7F, 0x01, 0x00}));
}

Bytes WriteData(std::uint8_t model, const Bytes& data, std::int32_t address) {
  Bytes out(kCompositionBufferSize, 0xEE);
  out.resize(ComposeWriteData(out.data(), model, data.data(), address, data.size()));
  return out;
}

TEST(Compose, WriteDataMessages) {
  EXPECT_EQ(WriteData(0x57, {'a', 'b', 'c'}, 0x3FD000),
            (Bytes{0xF0, 0x52, 0x00, 0x57, 0x02, 0x00, 0x20, 0x7F, 0x01, 0x00, 0x03,
                   0x00, 0x00, 0x61, 0x62, 0x63, 0x3D, 0x7C, 0x6E, 0x56, 0x0C, 0xF7}));
  EXPECT_EQ(WriteData(0x57, {0x81, 0x02, 0xFF, 0x00, 0x80, 0x7F, 0xC3, 0x10}, 0x40000),
            (Bytes{0xF0, 0x52, 0x00, 0x57, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x08, 0x00, 0x55, 0x01,
                   0x02, 0x7F, 0x00, 0x00, 0x7F, 0x43, 0x00, 0x10, 0x08, 0x25, 0x0C, 0x4C, 0x03, 0xF7}));
  EXPECT_EQ(WriteData(0x5F, {}, 0),
            (Bytes{0xF0, 0x52, 0x00, 0x5F, 0x02, 0, 0, 0, 0, 0, 0x00, 0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x0F, 0xF7}));

  // The largest chunks: length groups, packed data, CRC of the unpacked bytes.
  for (std::size_t n : {2048u, 16383u}) {
    const Bytes data = RandomBytes(n, 7);
    const Bytes message = WriteData(0x57, data, 0x7FFFFFFF);
    ASSERT_EQ(message.size(), WriteDataMessageLength(n)) << n;
    EXPECT_EQ(message.size(), n == 2048 ? 2359u : 18742u);
    EXPECT_EQ(Bytes(message.begin() + 5, message.begin() + 12),
              (Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x07, static_cast<std::uint8_t>(n & 0x7F),
                     static_cast<std::uint8_t>(n >> 7)}));
    EXPECT_EQ(Bytes(message.begin() + 12, message.end() - 6), Pack(data));
    std::uint8_t crc[5];
    PutSevenBitGroups(crc, Crc32(data.data(), n));
    EXPECT_EQ(Bytes(message.end() - 6, message.end() - 1), Bytes(crc, crc + 5));
    EXPECT_EQ(message.back(), 0xF7);
  }
}

TEST(Compose, EraseStatusAndModeRequests) {
  std::uint8_t out[32];
  auto got = [&out](std::size_t n) { return Bytes(out, out + n); };
  EXPECT_EQ(got(ComposeEraseRequest(out, 0x57, 0xEF000, 0x1000)),
            (Bytes{0xF0, 0x52, 0x00, 0x57, 0x0A, 0x00, 0x60, 0x3B, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xF7}));
  EXPECT_EQ(got(ComposeEraseRequest(out, 0x57, 0xF0000, 0x2C7000)),
            (Bytes{0xF0, 0x52, 0x00, 0x57, 0x0A, 0x00, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x60, 0x31, 0x01, 0x00, 0xF7}));
  EXPECT_EQ(got(ComposeStatus(out, 0x5F, 1)), (Bytes{0xF0, 0x52, 0x00, 0x5F, 0x00, 0x01, 0xF7}));
  EXPECT_EQ(got(ComposeStatus(out, 0x57, 0)), (Bytes{0xF0, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7}));
  EXPECT_EQ(got(ComposeModeRequest(out, 0x57, kCmdUpdateMode)), (Bytes{0xF0, 0x52, 0x00, 0x57, 0x01, 0xF7}));
  EXPECT_EQ(got(ComposeModeRequest(out, 0x5F, kCmdFinish)), (Bytes{0xF0, 0x52, 0x00, 0x5F, 0x04, 0xF7}));
}

// What a message cannot carry is refused with nothing written.
TEST(Compose, RefusesWhatTheMessageCannotCarry) {
  Bytes out(kCompositionBufferSize, 0xEE);
  const Bytes big(kMaxChunkLength + 1, 0x11);
  EXPECT_EQ(ComposeWriteData(out.data(), 0x57, big.data(), 0, big.size()), 0u);
  EXPECT_EQ(ComposeWriteData(out.data(), 0x57, big.data(), -1, 16), 0u);
  EXPECT_EQ(ComposeWriteData(out.data(), 0x57, nullptr, 0, 16), 0u);
  EXPECT_EQ(ComposeEraseRequest(out.data(), 0x57, -0x1000, 0x1000), 0u);
  EXPECT_EQ(ComposeEraseRequest(out.data(), 0x57, 0, -1), 0u);
  EXPECT_EQ(ComposeModeRequest(out.data(), 0x57, kCmdErase), 0u);
  EXPECT_EQ(out, Bytes(kCompositionBufferSize, 0xEE));
}

TEST(StoredMessages, IdentityRequestAndHostIdentityReply) {
  EXPECT_EQ(Bytes(kIdentityRequest, kIdentityRequest + kIdentityRequestLength),
            (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
  EXPECT_EQ(ModelId.load(), 0x57);

  std::uint8_t reply[kHostIdentityReplyLength];
  StoreHostIdentityReply(reply);
  const Bytes beforeAnyModel{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00,
                             0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
  EXPECT_EQ(Bytes(reply, reply + 15), beforeAnyModel);

  SetIdentityModel(0x5F);
  ModelId.store(0x12);  // a later, rejected identification changes ModelId only
  StoreHostIdentityReply(reply);
  Bytes accepted = beforeAnyModel;
  accepted[6] = 0x5F;
  EXPECT_EQ(Bytes(reply, reply + 15), accepted);
  EXPECT_EQ(GetIdentityModel(), 0x5F);
  ModelId.store(kInitialModelId);
}

}  // namespace
}  // namespace kv
