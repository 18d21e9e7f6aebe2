// The engine's sending operations over the recording driver: each sends the
// composed message whole, with the ModelId of the moment, and passes the
// port's result on as 0 / -1.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/sysex.h"
#include "tests/engine/recording_rig.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using midi::RecordingDriver;
using testing_rig::Rig;

TEST(EngineSend, EachOperationSendsItsMessageWithTheCurrentModel) {
  Rig<> rig;
  const Bytes abc{'a', 'b', 'c'};
  EXPECT_EQ(rig.engine.SendWriteChunk(abc.data(), 0x3FD000, abc.size()), 0);
  EXPECT_EQ(rig.engine.SendEraseRequest(0xEF000, 0x1000), 0);
  ModelId.store(0x5F);
  EXPECT_EQ(rig.engine.SendStatus(1), 0);
  EXPECT_EQ(rig.engine.SendModeRequest(kCmdUpdateMode), 0);
  EXPECT_EQ(rig.engine.SendModeRequest(kCmdFinish), 0);
  EXPECT_EQ(rig.engine.SendSysEx(kIdentityRequest, kIdentityRequestLength), 0);
  EXPECT_EQ(rig.driver.SentMessages(),
            (std::vector<Bytes>{
                {0xF0, 0x52, 0x00, 0x57, 0x02, 0x00, 0x20, 0x7F, 0x01, 0x00, 0x03,
                 0x00, 0x00, 0x61, 0x62, 0x63, 0x3D, 0x7C, 0x6E, 0x56, 0x0C, 0xF7},
                {0xF0, 0x52, 0x00, 0x57, 0x0A, 0x00, 0x60, 0x3B, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xF7},
                {0xF0, 0x52, 0x00, 0x5F, 0x00, 0x01, 0xF7},
                {0xF0, 0x52, 0x00, 0x5F, 0x01, 0xF7},
                {0xF0, 0x52, 0x00, 0x5F, 0x04, 0xF7},
                {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7},
            }));
}

// The largest chunk fits the composition buffer and goes out in one send.
TEST(EngineSend, LargestChunkIsOneMessage) {
  Rig<> rig;
  const Bytes chunk(kMaxChunkLength, 0xA5);
  EXPECT_EQ(rig.engine.SendWriteChunk(chunk.data(), 0, chunk.size()), 0);
  ASSERT_EQ(rig.driver.SentMessages().size(), 1u);
  EXPECT_EQ(rig.driver.SentMessages()[0].size(), 18742u);
}

TEST(EngineSend, PortFailureIsMinusOne) {
  struct Case {
    const char* what;
    void (*arrange)(Rig<>&);
  };
  const Case cases[] = {
      {"port closed", [](Rig<>& r) { r.out.Close(); }},
      {"prepare refused", [](Rig<>& r) { r.driver.Fail(RecordingDriver::Op::OutPrepareHeader); }},
      {"send refused", [](Rig<>& r) { r.driver.Fail(RecordingDriver::Op::OutLongMsg); }},
  };
  const Bytes chunk(2048, 0x11);
  for (const Case& c : cases) {
    Rig<> rig;
    c.arrange(rig);
    EXPECT_EQ(rig.engine.SendSysEx(kIdentityRequest, kIdentityRequestLength), -1) << c.what;
    EXPECT_EQ(rig.engine.SendWriteChunk(chunk.data(), 0, chunk.size()), -1) << c.what;
    EXPECT_EQ(rig.engine.SendEraseRequest(0, 0x1000), -1) << c.what;
    EXPECT_EQ(rig.engine.SendStatus(0), -1) << c.what;
    EXPECT_EQ(rig.engine.SendModeRequest(kCmdFinish), -1) << c.what;
    EXPECT_TRUE(rig.driver.SentMessages().empty()) << c.what;
  }
}

// Arguments no message can carry are refused before anything reaches the port.
TEST(EngineSend, RefusedArgumentsSendNothing) {
  Rig<> rig;
  const Bytes tooLong(kMaxChunkLength + 1, 0x22);
  rig.driver.ClearCalls();
  EXPECT_EQ(rig.engine.SendWriteChunk(tooLong.data(), 0, tooLong.size()), -1);
  EXPECT_EQ(rig.engine.SendWriteChunk(tooLong.data(), -2048, 2048), -1);
  EXPECT_EQ(rig.engine.SendEraseRequest(-1, 0x1000), -1);
  EXPECT_EQ(rig.engine.SendEraseRequest(0, -0x1000), -1);
  EXPECT_EQ(rig.engine.SendModeRequest(kCmdWriteData), -1);
  EXPECT_EQ(rig.engine.SendSysEx(nullptr, 6), -1);
  EXPECT_EQ(rig.engine.SendSysEx(kIdentityRequest, 0), -1);
  EXPECT_EQ(rig.driver.TotalCalls(), 0);
}

}  // namespace
}  // namespace kv
