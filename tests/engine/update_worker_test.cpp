// Whole update runs of the worker against a scripted pedal, with short
// protocol times: every way a run ends, and one successful run checked
// against the images byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "engine/firmware_images.h"
#include "engine/flash_plan.h"
#include "engine/sysex.h"
#include "engine/update_engine.h"
#include "tests/engine/scripted_pedal.h"

namespace kv {
namespace {

using namespace kv::scripted;

const std::vector<std::string> kCompleted = {"status Version update completed.", "restore", "execute 0"};

struct RunCase {
  const char* name;
  bool openOut;
  std::vector<Answer> identity, mode, erase, finish;
  // Expected:
  std::vector<int> logEntries;
  std::vector<int> errors;
  bool restored;
  bool completed;
  std::uint8_t modelAfter;
  int identitySends, modeSends, eraseSends, finishSends;
  std::vector<std::string> calls;  // every observer call, when the run ends early; empty: not checked
};

const std::vector<std::string> kModeWait = {"step 0/9", "status Erasing Flash memory.", "status "};

std::vector<std::string> Plus(std::vector<std::string> calls, const std::vector<std::string>& more) {
  calls.insert(calls.end(), more.begin(), more.end());
  return calls;
}

TEST(UpdateWorker, EveryWayARunEnds) {
  const RunCase cases[] = {
      {"identity request not sent", false, {}, {}, {}, {},
       {0, 0}, {113, 102}, true, false, 0x57, 0, 0, 0, 0,
       {"step 0/9", "error 113", "error 102", "restore"}},
      {"no identity reply", true, {Drop()}, {}, {}, {},
       {0}, {102}, true, false, 0x57, 1, 0, 0, 0,
       {"step 0/9", "error 102", "restore"}},
      {"identity wait ends with status 255", true, {Status(255)}, {}, {}, {},
       {}, {}, false, false, 0x57, 1, 0, 0, 0, {"step 0/9"}},
      {"dialog closed during the identity wait", true, {Close()}, {}, {}, {},
       {}, {}, false, false, 0x57, 1, 0, 0, 0, {"step 0/9"}},
      {"identity answered with an error status", true, {Status(3)}, {}, {}, {},
       {1}, {105}, true, false, 0x57, 1, 0, 0, 0,
       {"step 0/9", "error 105", "restore"}},
      {"model not accepted", true, {IdentityReply(0x58)}, {}, {}, {},
       {1}, {105}, true, false, 0x58, 1, 0, 0, 0,
       {"step 0/9", "error 105", "restore"}},
      {"not in update mode", true, {}, {Status(11)}, {}, {},
       {2}, {106}, true, false, 0x57, 1, 1, 0, 0, Plus(kModeWait, {"error 106", "restore"})},
      {"update mode refused", true, {}, {Status(1)}, {}, {},
       {}, {107}, true, false, 0x57, 1, 1, 0, 0, Plus(kModeWait, {"error 107", "restore"})},
      {"update-mode wait ends with status 255", true, {}, {Status(255)}, {}, {},
       {}, {}, false, false, 0x57, 1, 1, 0, 0, kModeWait},
      {"dialog closed during the update-mode wait", true, {IdentityReply(0x5F)}, {Close()}, {}, {},
       {}, {}, false, false, 0x5F, 1, 1, 0, 0, kModeWait},
      {"a plan step fails", true, {}, {}, {Drop()}, {},
       {3}, {104}, true, false, 0x57, 1, 1, 1, 0, {}},
      {"a plan step is aborted", true, {}, {}, {Status(255)}, {},
       {}, {}, false, false, 0x57, 1, 1, 1, 0, {}},
      {"finish not answered", true, {}, {}, {}, {Drop()},
       {}, {107}, true, false, 0x57, 1, 1, 5, 1, {}},
      {"finish answered with an error status", true, {IdentityReply(0x5F)}, {}, {}, {Status(1)},
       {}, {}, true, true, 0x5F, 1, 1, 5, 1, {}},
      // Whatever wakes the finish wait counts as completion, the dialog's closing included.
      {"dialog closed during the finish wait", true, {}, {}, {}, {Close()},
       {}, {}, true, true, 0x57, 1, 1, 5, 1, {}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    PedalRig rig({.openOut = c.openOut});
    rig.pedal.Script(Kind::Identity, c.identity);
    rig.pedal.Script(Kind::UpdateMode, c.mode);
    rig.pedal.Script(Kind::Erase, c.erase);
    rig.pedal.Script(Kind::Finish, c.finish);
    const std::uint8_t identityModelBefore = GetIdentityModel();

    EXPECT_EQ(UpdateWorker(rig.engine), 0);

    EXPECT_EQ(LogTexts(), LogLines(c.logEntries));
    EXPECT_EQ(rig.observer.Errors(), c.errors);
    const std::vector<std::string> calls = rig.observer.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "step 0/9");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "restore"), c.restored ? 1 : 0);
    if (!c.errors.empty()) {
      // Log entry, box, and only then the controls, as the last call.
      const std::vector<std::size_t> logLines = rig.observer.LogLinesAtErrors();
      ASSERT_FALSE(logLines.empty());
      EXPECT_EQ(logLines.back(), c.logEntries.size());
      EXPECT_EQ(calls.back(), "restore");
    }
    if (c.completed) {
      ASSERT_GE(calls.size(), kCompleted.size());
      EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()), kCompleted);
      EXPECT_EQ(rig.observer.Calls("step ").size(), 10u);
    } else {
      EXPECT_EQ(std::count(calls.begin(), calls.end(), "execute 0"), 0);
    }
    if (!c.calls.empty()) {
      EXPECT_EQ(calls, c.calls);
    }
    EXPECT_EQ(ModelId.load(), c.modelAfter);
    EXPECT_EQ(GetIdentityModel(), c.modeSends > 0 ? c.modelAfter : identityModelBefore);
    EXPECT_EQ(rig.pedal.Count(Kind::Identity), c.identitySends);
    EXPECT_EQ(rig.pedal.Count(Kind::UpdateMode), c.modeSends);
    EXPECT_EQ(rig.pedal.Count(Kind::Erase), c.eraseSends);
    EXPECT_EQ(rig.pedal.Count(Kind::Finish), c.finishSends);
  }
}

TEST(UpdateWorker, ASuccessfulRunWritesEveryImageWithTheReportedModel) {
  PedalRig rig;
  rig.pedal.Script(Kind::Identity, {IdentityReply(0x5F)});

  EXPECT_EQ(UpdateWorker(rig.engine), 0);

  EXPECT_TRUE(rig.observer.Errors().empty());
  EXPECT_TRUE(LogTexts().empty());
  const std::vector<std::string> calls = rig.observer.Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
            (std::vector<std::string>{"step 0/9", "status Erasing Flash memory.", "status ", "step 1/9"}));
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()), kCompleted);
  EXPECT_EQ(rig.observer.Calls("step "),
            (std::vector<std::string>{"step 0/9", "step 1/9", "step 2/9", "step 3/9", "step 4/9", "step 5/9",
                                      "step 6/9", "step 7/9", "step 8/9", "step 9/9"}));
  const std::vector<std::string> positions = rig.observer.Calls("pos ");
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), "pos 720896");

  // Every vendor message carried the reported model, in the expected order.
  const std::vector<HostMessage> messages = rig.pedal.Messages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages.front().kind, Kind::Identity);
  EXPECT_EQ(messages[1].kind, Kind::UpdateMode);
  EXPECT_EQ(messages.back().kind, Kind::Finish);
  for (std::size_t i = 1; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i].model, 0x5F) << i;
  }
  EXPECT_EQ(rig.pedal.Count(Kind::Erase), 5);
  EXPECT_EQ(rig.pedal.Count(Kind::Write), 1908);
  EXPECT_EQ(ModelId.load(), 0x5F);
  EXPECT_EQ(GetIdentityModel(), 0x5F);
  // The plan starts no sooner than the pause after the acceptance.
  EXPECT_GE(messages[2].at - messages[1].at, std::chrono::milliseconds(kTestTimes.modePauseMs));

  for (const FlashStep& row : FlashPlan) {
    if (row.operation != kOperationWrite) {
      continue;
    }
    SCOPED_TRACE(row.resourceId);
    const ImageBytes image = EmbeddedImages().Find(row.resourceId);
    ASSERT_NE(image.data, nullptr);
    EXPECT_TRUE(rig.pedal.Flash(row.address, image.size) ==
                std::vector<std::uint8_t>(image.data, image.data + image.size));
  }
}

}  // namespace
}  // namespace kv
