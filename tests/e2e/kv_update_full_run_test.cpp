// kv-update --simulate, start to finish at production times: the program
// reports completion and a verified flash, and its transcript, read here with
// a decoder of its own (bitwise CRC, own unpacking), shows a well-formed
// dialogue whose writes rebuild exactly the firmware files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.h"

namespace kv::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Message {
  bool fromHost = false;
  Bytes bytes;
};

// "host F0 7E ..." -> Message; false for anything that is not exactly that
// shape (upper-case pairs, single blanks).
bool ParseLine(const std::string& line, Message& message) {
  std::size_t at = 0;
  if (line.rfind("host ", 0) == 0) {
    message.fromHost = true;
    at = 5;
  } else if (line.rfind("pedal ", 0) == 0) {
    message.fromHost = false;
    at = 6;
  } else {
    return false;
  }
  message.bytes.clear();
  auto hex = [](char c) { return (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1; };
  while (at < line.size()) {
    if (at + 2 > line.size() || hex(line[at]) < 0 || hex(line[at + 1]) < 0) {
      return false;
    }
    message.bytes.push_back(static_cast<std::uint8_t>(hex(line[at]) * 16 + hex(line[at + 1])));
    at += 2;
    if (at < line.size() && (line[at] != ' ' || at + 1 == line.size())) {
      return false;
    }
    at += at < line.size() ? 1 : 0;
  }
  return true;
}

// The reflected CRC-32 without the final inversion, one bit at a time.
std::uint32_t BitwiseCrc(const Bytes& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

std::uint64_t Groups(const Bytes& m, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int k = 0; k < count; ++k) value |= static_cast<std::uint64_t>(m[at + k]) << (7 * k);
  return value;
}

Bytes Unpack(const Bytes& m, std::size_t at, std::size_t length) {
  Bytes out;
  while (out.size() < length) {
    const std::uint8_t header = m[at++];
    for (int j = 0; j < 7 && out.size() < length; ++j) {
      out.push_back(static_cast<std::uint8_t>(m[at++] | ((header >> (6 - j)) & 1) << 7));
    }
  }
  return out;
}

Bytes Status(std::uint8_t code) { return {0xF0, 0x52, 0x00, 0x5F, 0x00, code, 0xF7}; }

TEST(KvUpdateFullRun, CompletesVerifiesAndLeavesADecodableTranscript) {
  TempDir dir;
  WriteFile(dir.File("TEST_LOG.txt"), "");
  RunRequest request;
  request.args = {"--simulate", "--transcript", dir.File("transcript.txt")};
  request.workDir = dir.Path();
  request.limit = std::chrono::seconds(120);
  const RunResult run = RunProgram(KV_UPDATE_PATH, request);

  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("Version update completed.\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("flash verified: 4 images, 3907584 bytes match\n"), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(dir.File("TEST_LOG.txt")), "") << "a clean run logs nothing";
  // Plain output (not a terminal): a handful of lines, not one per chunk.
  EXPECT_LT(std::count(run.out.begin(), run.out.end(), '\n'), 80) << run.out;
  std::cout << "full run took " << run.elapsed.count() << " ms\n";

  std::istringstream lines(ReadFile(dir.File("transcript.txt")));
  std::vector<Message> messages;
  std::string line;
  while (std::getline(lines, line)) {
    Message m;
    ASSERT_TRUE(ParseLine(line, m)) << "line " << messages.size() + 1 << ": " << line.substr(0, 80);
    ASSERT_GE(m.bytes.size(), 6u);
    ASSERT_EQ(m.bytes.front(), 0xF0);
    ASSERT_EQ(m.bytes.back(), 0xF7);
    for (std::size_t k = 1; k + 1 < m.bytes.size(); ++k) ASSERT_LT(m.bytes[k], 0x80) << line.substr(0, 80);
    messages.push_back(std::move(m));
  }

  // Identification and update mode, then pairs of host request and status 0.
  ASSERT_GE(messages.size(), 4u);
  EXPECT_EQ(messages[0].bytes, (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
  EXPECT_FALSE(messages[1].fromHost);
  EXPECT_EQ(messages[1].bytes[6], 0x5F);
  EXPECT_EQ(messages[2].bytes, (Bytes{0xF0, 0x52, 0x00, 0x5F, 0x01, 0xF7}));
  EXPECT_EQ(messages[3].bytes, Status(0));

  std::vector<int> flash(0x400000, -1);  // -1: old content, never erased
  int erases = 0;
  int writes = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> eraseOrder;
  for (std::size_t i = 4; i < messages.size(); i += 2) {
    const Bytes& m = messages[i].bytes;
    ASSERT_TRUE(messages[i].fromHost) << i;
    ASSERT_EQ(Bytes(m.begin(), m.begin() + 4), (Bytes{0xF0, 0x52, 0x00, 0x5F})) << i;
    ASSERT_LT(i + 1, messages.size()) << "unanswered host message " << i;
    ASSERT_EQ(messages[i + 1].bytes, Status(0)) << i;
    if (m[4] == 0x0A) {
      ASSERT_EQ(m.size(), 16u);
      const std::uint64_t address = Groups(m, 5, 5);
      const std::uint64_t size = Groups(m, 10, 5);
      ASSERT_LE(address + size, flash.size());
      std::fill(flash.begin() + address, flash.begin() + address + size, 0xFF);
      eraseOrder.emplace_back(address, size);
      ++erases;
    } else if (m[4] == 0x02) {
      const std::uint64_t address = Groups(m, 5, 5);
      const std::size_t length = static_cast<std::size_t>(Groups(m, 10, 2));
      ASSERT_EQ(length, 2048u);
      ASSERT_EQ(m.size(), 2359u);
      const Bytes data = Unpack(m, 12, length);
      ASSERT_EQ(Groups(m, 12 + 2341, 5), BitwiseCrc(data)) << "chunk at " << address;
      for (std::size_t k = 0; k < length; ++k) {
        ASSERT_EQ(flash[address + k], 0xFF) << "written without an erase at " << address + k;
        flash[address + k] = data[k];
      }
      ++writes;
    } else {
      ASSERT_EQ(m, (Bytes{0xF0, 0x52, 0x00, 0x5F, 0x04, 0xF7})) << "only the finish request may end it";
      EXPECT_EQ(i + 2, messages.size());
    }
  }
  EXPECT_EQ(erases, 5);
  EXPECT_EQ(writes, 1908);
  EXPECT_EQ(eraseOrder, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                            {0xEF000, 0x1000}, {0x0, 0x40000}, {0x3FD000, 0x3000}, {0xF0000, 0x2C7000}, {0x40000, 0xB0000}}));

  const std::pair<const char*, std::uint32_t> images[] = {
      {"136.bin", 0x0}, {"129.bin", 0x40000}, {"137.bin", 0xF0000}, {"133.bin", 0x3FD000}};
  for (const auto& [file, address] : images) {
    const std::string image = ReadFile(std::string(KV_FIRMWARE_DIR) + "/" + file);
    ASSERT_FALSE(image.empty()) << file;
    for (std::size_t k = 0; k < image.size(); ++k) {
      ASSERT_EQ(flash[address + k], static_cast<std::uint8_t>(image[k])) << file << " offset " << k;
    }
  }
}

}  // namespace
}  // namespace kv::e2e
