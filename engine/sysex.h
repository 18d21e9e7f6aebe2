// The SysEx message set spoken with the pedal: layouts, 7-bit packing, CRC,
// the model byte every vendor message carries and the host's stored messages.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kv {

// The model byte of every vendor message the host composes, and the model
// the dispatcher follows. 0x57 at program start; written only by the worker.
extern std::atomic<std::uint8_t> ModelId;
constexpr std::uint8_t kInitialModelId = 0x57;

// Byte 6 of the host's own identity reply; 0x00 until a model is accepted.
void SetIdentityModel(std::uint8_t model);
std::uint8_t GetIdentityModel();

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kVendorId = 0x52;
constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
constexpr std::uint8_t kGeneralInformation = 0x06;
constexpr std::uint8_t kIdentityRequestSubId = 0x01;
constexpr std::uint8_t kIdentityReplySubId = 0x02;

// Vendor command codes (byte 4).
constexpr std::uint8_t kCmdStatus = 0x00;
constexpr std::uint8_t kCmdUpdateMode = 0x01;
constexpr std::uint8_t kCmdWriteData = 0x02;
constexpr std::uint8_t kCmdFinish = 0x04;
constexpr std::uint8_t kCmdErase = 0x0A;

constexpr std::size_t kCompositionBufferSize = 65536;
constexpr std::size_t kMaxChunkLength = 16383;
constexpr std::size_t kIdentityRequestLength = 6;
constexpr std::size_t kHostIdentityReplyLength = 15;
constexpr std::size_t kStatusMessageLength = 7;
constexpr std::size_t kEraseRequestLength = 16;
constexpr std::size_t kModeRequestLength = 6;  // update-mode and finish requests

// The identity request, constant.
extern const std::uint8_t kIdentityRequest[kIdentityRequestLength];
// Copies the host's identity reply, with the current identity model byte, into `out`.
void StoreHostIdentityReply(std::uint8_t (&out)[kHostIdentityReplyLength]);

// Packed length of `length` data bytes: length + ceil(length / 7).
constexpr std::size_t PackedLength(std::size_t length) { return length + (length + 6) / 7; }
// Length of a write-data message for `length` data bytes.
constexpr std::size_t WriteDataMessageLength(std::size_t length) { return PackedLength(length) + 18; }

std::size_t PackSevenBit(std::uint8_t* destination, const std::uint8_t* source, std::size_t length);
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);

// Writes the five 7-bit groups of `value`, least significant first.
void PutSevenBitGroups(std::uint8_t* out, std::uint32_t value);

// Composers that write a whole message into `out` and return its length.
// They allocate nothing; `out` must have room for the message. They return 0
// and write nothing for what the message cannot carry: a chunk longer than
// kMaxChunkLength, a negative address or size, a mode command other than
// kCmdUpdateMode and kCmdFinish.
std::size_t ComposeWriteData(std::uint8_t* out, std::uint8_t model, const std::uint8_t* data,
                             std::int32_t address, std::size_t length);
std::size_t ComposeEraseRequest(std::uint8_t* out, std::uint8_t model, std::int32_t address, std::int32_t size);
std::size_t ComposeStatus(std::uint8_t* out, std::uint8_t model, std::uint8_t code);
std::size_t ComposeModeRequest(std::uint8_t* out, std::uint8_t model, std::uint8_t command);

}  // namespace kv
