// The pedal model against the host's own composers: what it answers, what
// its flash holds afterwards, and how scenario faults are counted.
#include "sim/pedal_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/firmware_images.h"
#include "engine/flash_plan.h"
#include "engine/sysex.h"

namespace kv::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Status(std::uint8_t model, std::uint8_t code) { return {0xF0, 0x52, 0x00, model, 0x00, code, 0xF7}; }

class PedalFixture : public ::testing::Test {
 protected:
  void Make(Scenario scenario = {}) {
    model_ = std::make_unique<PedalModel>(std::move(scenario),
                                          [this](const std::uint8_t* d, std::size_t n) { replies_.emplace_back(d, d + n); });
  }

  // Sends one host message and returns what the pedal answered to it.
  std::vector<Bytes> Send(const Bytes& message) {
    replies_.clear();
    model_->Receive(message.data(), message.size());
    return replies_;
  }
  Bytes Mode(std::uint8_t command, std::uint8_t model = 0x5F) {
    Bytes m(kModeRequestLength);
    m.resize(ComposeModeRequest(m.data(), model, command));
    return m;
  }
  Bytes Erase(std::int32_t address, std::int32_t size, std::uint8_t model = 0x5F) {
    Bytes m(kEraseRequestLength);
    m.resize(ComposeEraseRequest(m.data(), model, address, size));
    return m;
  }
  Bytes Write(std::int32_t address, const Bytes& data, std::uint8_t model = 0x5F) {
    Bytes m(WriteDataMessageLength(data.size()));
    m.resize(ComposeWriteData(m.data(), model, data.data(), address, data.size()));
    return m;
  }
  // Enters update mode and erases [address, address + size).
  void Prepare(std::int32_t address, std::int32_t size) {
    ASSERT_EQ(Send(Mode(kCmdUpdateMode)), std::vector<Bytes>{Status(0x5F, 0)});
    ASSERT_EQ(Send(Erase(address, size)), std::vector<Bytes>{Status(0x5F, 0)});
  }

  std::unique_ptr<PedalModel> model_;
  std::vector<Bytes> replies_;
};

Bytes Pattern(std::size_t length, std::uint8_t seed) {
  Bytes data(length);
  for (std::size_t k = 0; k < length; ++k) {
    data[k] = static_cast<std::uint8_t>(seed + k * 37);
  }
  return data;
}

TEST_F(PedalFixture, IdentityReplyCarriesTheConfiguredModelAndForeignVendorMessagesAreIgnored) {
  for (std::uint8_t model : {0x5F, 0x57, 0x58}) {
    Scenario scenario;
    scenario.model = model;
    Make(scenario);
    const std::vector<Bytes> replies = Send({0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7});
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].size(), 15u);
    EXPECT_EQ(Bytes(replies[0].begin(), replies[0].begin() + 5), (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02}));
    EXPECT_EQ(replies[0][6], model);
    EXPECT_EQ(replies[0].back(), 0xF7);
    const std::uint8_t other = model == 0x57 ? 0x5F : 0x57;
    EXPECT_TRUE(Send(Mode(kCmdUpdateMode, other)).empty());
    EXPECT_TRUE(Send(Erase(0, 0x1000, other)).empty());
  }
  EXPECT_TRUE(Send({0xF0, 0x7E, 0x00, 0x07, 0x01, 0xF7}).empty());  // not General Information
  EXPECT_TRUE(Send({0xF0, 0x41, 0x00, 0x58, 0x01, 0xF7}).empty());  // another maker
}

TEST_F(PedalFixture, UpdateModeAnswerDecidesWhetherFlashCommandsAreTaken) {
  Scenario refusing;
  refusing.updateModeStatus = 11;
  Make(refusing);
  EXPECT_EQ(Send(Mode(kCmdUpdateMode)), std::vector<Bytes>{Status(0x5F, 11)});
  EXPECT_EQ(Send(Erase(0, 0x1000)), std::vector<Bytes>{Status(0x5F, 11)});
  EXPECT_EQ(Send(Write(0, Pattern(16, 1))), std::vector<Bytes>{Status(0x5F, 11)});
  EXPECT_EQ(model_->ReadFlash(0, 1)[0], FlashMemory::OldContent(0));

  Make();
  EXPECT_EQ(Send(Erase(0, 0x1000)), std::vector<Bytes>{Status(0x5F, 11)});  // not yet in update mode
  EXPECT_EQ(Send(Mode(kCmdUpdateMode)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_TRUE(model_->InUpdateMode());
  EXPECT_EQ(Send(Mode(kCmdFinish)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_FALSE(model_->InUpdateMode());
  EXPECT_EQ(Send({0xF0, 0x52, 0x00, 0x5F, 0x0B, 0xF7}), std::vector<Bytes>{Status(0x5F, 1)});  // unknown command
}

TEST_F(PedalFixture, EraseSetsExactlyTheRegionToFF) {
  Make();
  Prepare(0x1000, 0x800);
  const Bytes around = model_->ReadFlash(0x0FFF, 0x802);
  EXPECT_EQ(around.front(), FlashMemory::OldContent(0x0FFF));
  EXPECT_EQ(around.back(), FlashMemory::OldContent(0x1800));
  EXPECT_EQ(Bytes(around.begin() + 1, around.end() - 1), Bytes(0x800, 0xFF));
  EXPECT_EQ(Send(Erase(0x3FF000, 0x2000)), std::vector<Bytes>{Status(0x5F, 3)});  // beyond the part
  EXPECT_EQ(model_->ReadFlash(0x3FF000, 1)[0], FlashMemory::OldContent(0x3FF000));
}

TEST_F(PedalFixture, WriteProgramsErasedFlashAndAcknowledges) {
  Make();
  Prepare(0x40000, 0x1000);
  const Bytes data = Pattern(2048, 0x80);
  EXPECT_EQ(Send(Write(0x40800, data)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_EQ(model_->ReadFlash(0x40800, 2048), data);
  EXPECT_EQ(model_->Counters().chunksProgrammed, 1u);
}

TEST_F(PedalFixture, WriteThatNeedsABitSetFailsWithStatus3AndKeepsWhatTheCellsCouldTake) {
  Make();
  ASSERT_EQ(Send(Mode(kCmdUpdateMode)), std::vector<Bytes>{Status(0x5F, 0)});
  const Bytes data = Pattern(64, 0x11);
  EXPECT_EQ(Send(Write(0x2000, data)), std::vector<Bytes>{Status(0x5F, 3)});  // never erased
  const Bytes flash = model_->ReadFlash(0x2000, 64);
  for (std::uint32_t k = 0; k < 64; ++k) {
    ASSERT_EQ(flash[k], FlashMemory::OldContent(0x2000 + k) & data[k]) << k;
  }
  // Rewriting programmed flash with other data fails the same way; the same
  // data again is harmless.
  ASSERT_EQ(Send(Erase(0x2000, 64)), std::vector<Bytes>{Status(0x5F, 0)});
  ASSERT_EQ(Send(Write(0x2000, data)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_EQ(Send(Write(0x2000, data)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_EQ(Send(Write(0x2000, Pattern(64, 0x12))), std::vector<Bytes>{Status(0x5F, 3)});
  EXPECT_EQ(Send(Write(0x3FFFF8, Pattern(16, 1))), std::vector<Bytes>{Status(0x5F, 3)});  // beyond the part
}

TEST_F(PedalFixture, CorruptedWriteDataIsAnsweredWithStatus8AndNotProgrammed) {
  Make();
  Prepare(0, 0x1000);
  const Bytes good = Write(0, Pattern(2048, 0x80));
  struct Case {
    const char* what;
    std::size_t position;  // byte changed, counted from the end when `fromEnd`
    bool fromEnd;
    std::uint8_t value;
  };
  const Case cases[] = {
      {"data byte changed (CRC mismatch)", 100, false, 0x01},
      {"CRC group changed", 3, true, 0x00},
      {"packed byte with bit 7 set", 13, false, 0x81},
      {"length field not matching the message", 10, false, 0x01},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    const std::size_t at = c.fromEnd ? bad.size() - 1 - c.position : c.position;
    bad[at] = bad[at] == c.value ? static_cast<std::uint8_t>(c.value ^ 0x02) : c.value;
    EXPECT_EQ(Send(bad), std::vector<Bytes>{Status(0x5F, 8)}) << c.what;
  }
  Bytes shortened = good;
  shortened.erase(shortened.begin() + 20);
  EXPECT_EQ(Send(shortened), std::vector<Bytes>{Status(0x5F, 8)}) << "one packed byte missing";
  EXPECT_EQ(model_->ReadFlash(0, 2048), Bytes(2048, 0xFF));
  EXPECT_EQ(Send(good), std::vector<Bytes>{Status(0x5F, 0)});
}

TEST_F(PedalFixture, ChunkFaultsCountDistinctChunksAndApplyInOrder) {
  Scenario scenario;
  scenario.chunkFaults = {{1, false, 8, 2}, {1, true, 0, 1}, {1, false, 3, 1}, {2, true, 0, 1}};
  Make(scenario);
  Prepare(0, 0x4000);
  const Bytes chunk0 = Write(0x0000, Pattern(2048, 1));
  const Bytes chunk1 = Write(0x0800, Pattern(2048, 2));
  const Bytes chunk2 = Write(0x1000, Pattern(2048, 3));
  EXPECT_EQ(Send(chunk0), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_EQ(Send(chunk1), std::vector<Bytes>{Status(0x5F, 8)});
  EXPECT_EQ(Send(chunk1), std::vector<Bytes>{Status(0x5F, 8)});
  EXPECT_TRUE(Send(chunk1).empty());
  EXPECT_EQ(Send(chunk1), std::vector<Bytes>{Status(0x5F, 3)});
  EXPECT_EQ(model_->ReadFlash(0x0800, 1)[0], 0xFF) << "an injected answer writes nothing";
  EXPECT_EQ(Send(chunk1), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_TRUE(Send(chunk2).empty());
  EXPECT_EQ(Send(chunk2), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_EQ(model_->ReadFlash(0x0800, 2048), Pattern(2048, 2));

  // The next update run meets the same faults again.
  ASSERT_EQ(Send(Mode(kCmdUpdateMode)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_EQ(Send(chunk0), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_EQ(Send(chunk1), std::vector<Bytes>{Status(0x5F, 8)});
}

TEST_F(PedalFixture, EraseFaultsCountDistinctRequests) {
  Scenario scenario;
  scenario.eraseFaults = {{0, false, 5, 2}, {1, true, 0, kForever}};
  Make(scenario);
  ASSERT_EQ(Send(Mode(kCmdUpdateMode)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_EQ(Send(Erase(0xEF000, 0x1000)), std::vector<Bytes>{Status(0x5F, 5)});
  EXPECT_EQ(Send(Erase(0xEF000, 0x1000)), std::vector<Bytes>{Status(0x5F, 5)});
  EXPECT_EQ(model_->ReadFlash(0xEF000, 1)[0], FlashMemory::OldContent(0xEF000));
  EXPECT_EQ(Send(Erase(0xEF000, 0x1000)), std::vector<Bytes>{Status(0x5F, 0)});
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(Send(Erase(0, 0x40000)).empty());
  }
  EXPECT_EQ(Send(Erase(0x3FD000, 0x3000)), std::vector<Bytes>{Status(0x5F, 0)});
}

TEST_F(PedalFixture, SilentPedalAndMissingFinishReply) {
  Scenario silent;
  silent.silent = true;
  Make(silent);
  EXPECT_TRUE(Send({0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}).empty());
  EXPECT_TRUE(Send(Mode(kCmdUpdateMode)).empty());

  Scenario noFinish;
  noFinish.noFinishReply = true;
  Make(noFinish);
  EXPECT_EQ(Send(Mode(kCmdUpdateMode)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_TRUE(Send(Mode(kCmdFinish)).empty());
  EXPECT_EQ(model_->Counters().finishRequests, 1u);
}

TEST_F(PedalFixture, OwnRequestsAndTheHostsAnswersAreSeenInOrderByTheTap) {
  std::vector<std::pair<Direction, Bytes>> seen;
  model_ = std::make_unique<PedalModel>(
      Scenario{}, [this](const std::uint8_t* d, std::size_t n) { replies_.emplace_back(d, d + n); },
      [&seen](Direction dir, const std::uint8_t* d, std::size_t n) { seen.emplace_back(dir, Bytes(d, d + n)); });
  model_->SendIdentityRequest();
  const std::uint8_t payload[] = {0x12};
  model_->SendVendorCommand(0x05, payload);
  const Bytes hostIdentity = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00,
                              0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
  EXPECT_TRUE(Send(hostIdentity).empty());
  EXPECT_TRUE(Send(Status(0x5F, 0)).empty());
  EXPECT_EQ(model_->HostAnswers(), (std::vector<Bytes>{hostIdentity, Status(0x5F, 0)}));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], std::make_pair(Direction::kPedal, Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
  EXPECT_EQ(seen[1], std::make_pair(Direction::kPedal, Bytes{0xF0, 0x52, 0x00, 0x5F, 0x05, 0x12, 0xF7}));
  EXPECT_EQ(seen[2].first, Direction::kHost);
  EXPECT_EQ(seen[3].first, Direction::kHost);
}

// The whole plan, driven straight into the model, leaves the images in place;
// one wrong byte or a stray write is named in the report.
TEST_F(PedalFixture, VerifyAfterTheWholePlan) {
  Make();
  ASSERT_EQ(Send(Mode(kCmdUpdateMode)), std::vector<Bytes>{Status(0x5F, 0)});
  EXPECT_FALSE(model_->Verify(EmbeddedImages()).ok);
  for (const FlashStep& step : FlashPlan) {
    if (step.operation == kOperationErase) {
      ASSERT_EQ(Send(Erase(step.address, step.size)), std::vector<Bytes>{Status(0x5F, 0)});
      continue;
    }
    const ImageBytes image = EmbeddedImages().Find(step.resourceId);
    for (std::int32_t offset = 0; offset < step.size; offset += kChunkSize) {
      const Bytes chunk(image.data + offset, image.data + offset + kChunkSize);
      ASSERT_EQ(Send(Write(step.address + offset, chunk)), std::vector<Bytes>{Status(0x5F, 0)});
    }
  }
  const VerifyResult good = model_->Verify(EmbeddedImages());
  EXPECT_TRUE(good.ok);
  EXPECT_EQ(good.line, "flash verified: 4 images, 3907584 bytes match");

  // Erase and rewrite one chunk of image 137 with a changed byte.
  const ImageBytes image137 = EmbeddedImages().Find(137);
  Bytes chunk(image137.data + 0x1000, image137.data + 0x1800);
  chunk[5] ^= 0x01;
  ASSERT_EQ(Send(Erase(0xF1000, 0x800)), std::vector<Bytes>{Status(0x5F, 0)});
  ASSERT_EQ(Send(Write(0xF1000, chunk)), std::vector<Bytes>{Status(0x5F, 0)});
  const VerifyResult bad = model_->Verify(EmbeddedImages());
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.line.rfind("flash mismatch: image 137 at 0x0F1005 (offset 4101)", 0), 0u) << bad.line;

  FlashMemory reference;
  for (const ImageRegion& region : kImageRegions) {
    const ImageBytes image = EmbeddedImages().Find(region.resourceId);
    reference.Erase(region.address, region.size);
    reference.Program(region.address, image.data, image.size);
  }
  EXPECT_TRUE(VerifyFlash(reference, EmbeddedImages()).ok);
  reference.Erase(0x3C0000, 0x10);
  EXPECT_EQ(VerifyFlash(reference, EmbeddedImages()).line,
            "flash mismatch: 0x3C0000 lies outside every image but was changed to 0xFF");
}

}  // namespace
}  // namespace kv::sim
