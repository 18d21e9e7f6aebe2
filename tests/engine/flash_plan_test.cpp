// The flash plan, its erase and write steps, and the embedded images, against
// a scripted pedal with short protocol times.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/firmware_images.h"
#include "engine/flash_plan.h"
#include "engine/update_engine.h"
#include "tests/engine/scripted_pedal.h"

namespace kv {
namespace {

using namespace kv::scripted;

// Images held in exactly-sized heap blocks, so reading past one is caught.
class TestImages final : public ImageSource {
 public:
  void Add(std::int32_t id, std::size_t size) {
    std::vector<std::uint8_t>& bytes = images_[id];
    bytes.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<std::uint8_t>(i * 37 + 11 + id);
    }
  }
  ImageBytes Find(std::int32_t id) const override {
    auto found = images_.find(id);
    if (found == images_.end()) {
      return {};
    }
    return {found->second.data(), found->second.size()};
  }

 private:
  std::map<std::int32_t, std::vector<std::uint8_t>> images_;
};

constexpr std::int32_t kThreeChunkImage = 1;  // 6,144 bytes
constexpr std::int32_t kOddImage = 3;         // 5,000 bytes

TestImages SmallImages() {
  TestImages images;
  images.Add(kThreeChunkImage, 3 * 2048);
  images.Add(kOddImage, 5000);
  return images;
}

std::vector<std::int32_t> WriteAddresses(const ScriptedPedal& pedal) {
  std::vector<std::int32_t> addresses;
  for (const HostMessage& m : pedal.Messages()) {
    if (m.kind == Kind::Write) {
      addresses.push_back(m.address);
    }
  }
  return addresses;
}

int Occurrences(const std::vector<std::string>& calls, const std::string& call) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

// What every failing or aborted step must leave behind: the boxes in order,
// each after all of its log lines, and the controls restored exactly once,
// as the last call, only when a box was shown.
void ExpectReported(const RecordingObserver& observer, const std::vector<int>& errors, bool restored) {
  EXPECT_EQ(observer.Errors(), errors);
  const std::vector<std::string> calls = observer.Calls();
  EXPECT_EQ(Occurrences(calls, "restore"), restored ? 1 : 0);
  if (restored) {
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "restore");
    ASSERT_FALSE(observer.LogLinesAtErrors().empty());
    EXPECT_EQ(observer.LogLinesAtErrors().back(), LogTexts().size());
  }
}

TEST(FlashPlan, RowsAndImagesFitTogether) {
  const FlashStep expected[] = {
      {1, 0xEF000, 0x1000, 0},       {1, 0x0, 0x40000, 0},           {2, 0x0, 0x40000, 136},
      {1, 0x3FD000, 0x3000, 0},      {2, 0x3FD000, 0x3000, 133},     {1, 0xF0000, 0x2C7000, 0},
      {2, 0xF0000, 0x2C7000, 137},   {1, 0x40000, 0xB0000, 0},       {2, 0x40000, 0xB0000, 129},
  };
  ASSERT_EQ(std::size(FlashPlan), std::size(expected));
  std::int64_t written = 0;
  std::set<std::int32_t> imagesUsed;
  for (int i = 0; i < kFlashPlanSteps; ++i) {
    SCOPED_TRACE(i + 1);
    const FlashStep& row = FlashPlan[i];
    EXPECT_EQ(row.operation, expected[i].operation);
    EXPECT_EQ(row.address, expected[i].address);
    EXPECT_EQ(row.size, expected[i].size);
    EXPECT_EQ(row.resourceId, expected[i].resourceId);
    EXPECT_LE(static_cast<std::int64_t>(row.address) + row.size, 0x400000);
    if (row.operation == kOperationWrite) {
      // Each write follows the erase of exactly its region and fills it with its whole image.
      ASSERT_GT(i, 0);
      EXPECT_EQ(FlashPlan[i - 1].operation, kOperationErase);
      EXPECT_EQ(FlashPlan[i - 1].address, row.address);
      EXPECT_EQ(FlashPlan[i - 1].size, row.size);
      EXPECT_EQ(EmbeddedImages().Find(row.resourceId).size, static_cast<std::size_t>(row.size));
      EXPECT_EQ(row.size % kChunkSize, 0);
      written += row.size;
      imagesUsed.insert(row.resourceId);
    }
  }
  EXPECT_EQ(written, 3907584);
  EXPECT_EQ(written / kChunkSize, 1908);
  EXPECT_EQ(imagesUsed, (std::set<std::int32_t>{129, 133, 136, 137}));
}

TEST(FlashPlan, EmbeddedImagesAreTheFilesByteForByte) {
  const std::filesystem::path dir =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "resources" / "firmware";
  const std::pair<std::int32_t, std::size_t> sizes[] = {{129, 720896}, {133, 12288}, {136, 262144}, {137, 2912256}};
  for (const auto& [id, size] : sizes) {
    SCOPED_TRACE(id);
    const ImageBytes image = EmbeddedImages().Find(id);
    ASSERT_NE(image.data, nullptr);
    ASSERT_EQ(image.size, size);
    std::ifstream file(dir / (std::to_string(id) + ".bin"), std::ios::binary);
    std::vector<char> bytes(size + 1);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_EQ(file.gcount(), static_cast<std::streamsize>(size));
    EXPECT_EQ(std::memcmp(bytes.data(), image.data, size), 0);
    bool seen[256] = {};
    for (std::size_t i = 0; i < image.size; ++i) {
      seen[image.data[i]] = true;
    }
    EXPECT_EQ(std::count(std::begin(seen), std::end(seen), true), 256);
  }
  for (std::int32_t id : {0, -1, 128, 130, 134, 135, 138, 0x10000 + 129}) {
    const ImageBytes none = EmbeddedImages().Find(id);
    EXPECT_EQ(none.data, nullptr) << id;
    EXPECT_EQ(none.size, 0u) << id;
  }
}

TEST(FlashPlan, ProductionTimesArePinned) {
  EXPECT_EQ(kProductionTimes.identityWaitMs, 30000u);
  EXPECT_EQ(kProductionTimes.modePauseMs, 500u);
  EXPECT_EQ(kProductionTimes.finishWaitMs, 30000u);
  EXPECT_EQ(kProductionTimes.eraseWaitMs, 30000u);
  EXPECT_EQ(kProductionTimes.chunkWaitMs, 1000u);
  EXPECT_EQ(kProductionTimes.repeatPauseMs, 100u);
}

struct StepCase {
  const char* name;
  std::vector<Answer> answers;
  int result;
  int sends;
  std::vector<int> logEntries;
  std::vector<int> errors;
  bool restored;
};

TEST(EraseRegion, EveryWayAnEraseEnds) {
  const StepCase cases[] = {
      {"answered at once", {Ack()}, 0, 1, {}, {}, false},
      {"six refusals then erased", Then(Times(6, Status(1)), {Ack()}), 0, 7, {}, {}, false},
      {"seven refusals", Times(7, Status(9)), -1, 7, {3}, {107}, true},
      {"checksum and flash codes are plain refusals here",
       {Status(8), Status(3), Status(8), Status(3), Status(8), Status(3), Status(8)}, -1, 7, {3}, {107}, true},
      {"never answered", {Drop()}, -1, 1, {3}, {104}, true},
      {"a time-out after a refusal is not repeated", {Status(2), Drop()}, -1, 2, {3}, {104}, true},
      {"status 255", {Status(255)}, -1, 1, {}, {}, false},
      {"status 255 after refusals", {Status(1), Status(1), Status(255)}, -1, 3, {}, {}, false},
      {"dialog closed", {Close()}, -1, 1, {}, {}, false},
  };
  const FlashStep plan[] = {{kOperationErase, 0xEF000, 0x1000, 0}};
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    PedalRig rig;
    rig.pedal.Script(Kind::Erase, c.answers);
    EXPECT_EQ(rig.engine.RunFlashPlan(plan), c.result);
    EXPECT_EQ(rig.pedal.Count(Kind::Erase), c.sends);
    EXPECT_EQ(LogTexts(), LogLines(c.logEntries));
    ExpectReported(rig.observer, c.errors, c.restored);
    const std::vector<std::string> calls = rig.observer.Calls();
    // Progress and status are shown for every request; the end only when erased.
    EXPECT_EQ(Occurrences(calls, "range 0 10"), 1);
    EXPECT_EQ(Occurrences(calls, "pos 1"), c.sends);
    EXPECT_EQ(Occurrences(calls, "status Erasing Flash memory."), c.sends);
    EXPECT_EQ(Occurrences(calls, "pos 10"), c.result == 0 ? 1 : 0);
    for (const HostMessage& m : rig.pedal.Messages()) {
      EXPECT_EQ(m.address, 0xEF000);
      EXPECT_EQ(m.size, 0x1000);
    }
  }
}

TEST(WriteImage, EveryWayAWriteEnds) {
  // Three chunks; the answers are those of the chunk messages in order.
  const StepCase cases[] = {
      {"all acknowledged", {}, 0, 3, {}, {}, false},
      {"checksum errors are logged each time", Then(Times(3, Status(8)), {Ack()}), 0, 6, {4, 4, 4}, {}, false},
      {"the counter restarts after each acknowledgement",
       Then(Then(Times(6, Status(1)), {Ack()}), Then(Times(6, Status(2)), {Ack()})), 0, 15, {}, {}, false},
      {"seven time-outs", Times(7, Drop()), -1, 7, {6}, {103}, true},
      {"time-outs and checksum errors share the counter", Then(Times(3, Drop()), Times(4, Status(8))), -1, 7,
       {4, 4, 4, 4}, {107}, true},
      {"flash write errors then a time-out", Then(Times(6, Status(3)), {Drop()}), -1, 7, {5, 5, 5, 5, 5, 5, 6},
       {103}, true},
      {"seven other error statuses", Times(7, Status(1)), -1, 7, {}, {107}, true},
      {"after six time-outs and an acknowledgement, seven more",
       Then(Then(Times(6, Drop()), {Ack()}), Times(7, Status(9))), -1, 14, {}, {107}, true},
      {"status 255 on the second chunk", {Ack(), Status(255)}, -1, 2, {}, {}, false},
      {"status 255 after a time-out", {Drop(), Status(255)}, -1, 2, {}, {}, false},
      {"dialog closed", {Close()}, -1, 1, {}, {}, false},
  };
  const TestImages images = SmallImages();
  const FlashStep plan[] = {{kOperationWrite, 0x1000, 3 * 2048, kThreeChunkImage}};
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    PedalRig rig({.images = &images});
    rig.pedal.Script(Kind::Write, c.answers);
    EXPECT_EQ(rig.engine.RunFlashPlan(plan), c.result);
    EXPECT_EQ(rig.pedal.Count(Kind::Write), c.sends);
    EXPECT_EQ(LogTexts(), LogLines(c.logEntries));
    ExpectReported(rig.observer, c.errors, c.restored);
    EXPECT_EQ(rig.engine.imageSize, 3 * 2048);
    EXPECT_EQ(rig.engine.imageData, images.Find(kThreeChunkImage).data);
    if (c.result == 0) {
      const ImageBytes image = images.Find(kThreeChunkImage);
      EXPECT_TRUE(rig.pedal.Flash(0x1000, image.size) ==
                  std::vector<std::uint8_t>(image.data, image.data + image.size));
    }
  }
}

TEST(WriteImage, RepeatsTheSameChunkAndMovesOnOnlyWhenAcknowledged) {
  const TestImages images = SmallImages();
  PedalRig rig({.images = &images});
  rig.pedal.Script(Kind::Write, {Status(1), Ack(), Drop(), Ack(), Status(8), Ack()});
  const FlashStep plan[] = {{kOperationWrite, 0x1000, 3 * 2048, kThreeChunkImage}};
  EXPECT_EQ(rig.engine.RunFlashPlan(plan), 0);
  EXPECT_EQ(WriteAddresses(rig.pedal), (std::vector<std::int32_t>{0x1000, 0x1000, 0x1800, 0x1800, 0x2000, 0x2000}));
  // The transmit text follows every send; the position only acknowledgements.
  EXPECT_EQ(rig.observer.Calls("status "),
            (std::vector<std::string>{"status Data transmit  0 / 6144 ", "status Data transmit  0 / 6144 ",
                                      "status Data transmit  2048 / 6144 ", "status Data transmit  2048 / 6144 ",
                                      "status Data transmit  4096 / 6144 ", "status Data transmit  4096 / 6144 "}));
  EXPECT_EQ(rig.observer.Calls("pos "), (std::vector<std::string>{"pos 2048", "pos 4096", "pos 6144"}));
}

TEST(FlashPlan, EraseAndWriteOfTheSmallImageReportExactly) {
  PedalRig rig;
  const FlashStep plan[] = {FlashPlan[3], FlashPlan[4]};
  EXPECT_EQ(rig.engine.RunFlashPlan(plan), 0);
  std::vector<std::string> expected = {"step 1/2", "range 0 10", "pos 1", "status Erasing Flash memory.", "pos 10",
                                       "step 2/2", "range 0 12288"};  // the position is not reset
  for (int offset = 0; offset < 12288; offset += 2048) {
    expected.push_back("status Data transmit  " + std::to_string(offset) + " / 12288 ");
    expected.push_back("pos " + std::to_string(offset + 2048));
  }
  EXPECT_EQ(rig.observer.Calls(), expected);
  EXPECT_EQ(WriteAddresses(rig.pedal),
            (std::vector<std::int32_t>{0x3FD000, 0x3FD800, 0x3FE000, 0x3FE800, 0x3FF000, 0x3FF800}));
  for (const HostMessage& m : rig.pedal.Messages()) {
    if (m.kind == Kind::Write) {
      EXPECT_EQ(m.size, 2048);
    }
  }
  const ImageBytes image = EmbeddedImages().Find(133);
  EXPECT_TRUE(rig.pedal.Flash(0x3FD000, image.size) == std::vector<std::uint8_t>(image.data, image.data + image.size));
  EXPECT_TRUE(LogTexts().empty());
}

TEST(FlashPlan, StopsAtTheFailingStepAndKeepsItsNumber) {
  PedalRig rig;
  rig.pedal.Script(Kind::Erase, {Ack(), Ack(), Drop()});
  EXPECT_EQ(rig.engine.RunFlashPlan(), -1);
  EXPECT_EQ(rig.observer.Calls("step "), (std::vector<std::string>{"step 1/9", "step 2/9", "step 3/9", "step 4/9"}));
  EXPECT_EQ(rig.pedal.Count(Kind::Erase), 3);
  EXPECT_EQ(rig.pedal.Count(Kind::Write), 0x40000 / 2048);
  const std::vector<HostMessage> messages = rig.pedal.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().kind, Kind::Erase);
  EXPECT_EQ(messages.back().address, 0x3FD000);
  EXPECT_EQ(LogTexts(), LogLines({3}));
  ExpectReported(rig.observer, {104}, true);
}

TEST(FlashPlan, OtherOperationsOnlyShowTheirStepAndSizeZeroWritesTheWholeImage) {
  const TestImages images = SmallImages();
  PedalRig rig({.images = &images});
  const FlashStep plan[] = {{0, 0x5000, 0x1000, 0}, {7, 0x5000, 0x1000, 129}, {kOperationWrite, 0x2000, 0, kThreeChunkImage}};
  EXPECT_EQ(rig.engine.RunFlashPlan(plan), 0);
  const std::vector<std::string> calls = rig.observer.Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
            (std::vector<std::string>{"step 1/3", "step 2/3", "step 3/3", "range 0 6144"}));
  EXPECT_EQ(rig.pedal.Count(Kind::Erase), 0);
  EXPECT_EQ(WriteAddresses(rig.pedal), (std::vector<std::int32_t>{0x2000, 0x2800, 0x3000}));
  EXPECT_EQ(rig.engine.imageSize, 6144);
}

// A row that the image cannot fill in whole chunks is refused before
// anything is sent, and reported so that the run ends visibly.
TEST(WriteImage, RefusesRowsItCannotWriteSafely) {
  const struct {
    const char* name;
    FlashStep row;
  } cases[] = {
      {"missing image", {kOperationWrite, 0x0, 2048, 99}},
      {"image shorter than the row", {kOperationWrite, 0x0, 4 * 2048, kThreeChunkImage}},
      {"size not a multiple of the chunk", {kOperationWrite, 0x0, 3000, kThreeChunkImage}},
      {"size 0 and an image not a multiple of the chunk", {kOperationWrite, 0x0, 0, kOddImage}},
      {"negative size", {kOperationWrite, 0x0, -2048, kThreeChunkImage}},
      {"negative address", {kOperationWrite, -2048, 2048, kThreeChunkImage}},
      {"region past the largest address", {kOperationWrite, 0x7FFFF800, 4096, kThreeChunkImage}},
  };
  const TestImages images = SmallImages();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PedalRig rig({.images = &images});
    const FlashStep plan[] = {c.row, {kOperationErase, 0x0, 0x1000, 0}};
    EXPECT_EQ(rig.engine.RunFlashPlan(plan), -1);
    EXPECT_TRUE(rig.pedal.Messages().empty());
    EXPECT_TRUE(LogTexts().empty());
    ExpectReported(rig.observer, {107}, true);
    EXPECT_EQ(rig.observer.Calls("step "), (std::vector<std::string>{"step 1/2"}));
  }
}

// Answers carry nothing that ties them to a request: an answer that comes
// after its wait has timed out satisfies the next wait, and everything
// after it shifts by one.
TEST(FlashPlan, ALateAnswerSatisfiesTheNextWait) {
  const TestImages images = SmallImages();
  PedalRig rig({.images = &images});
  rig.pedal.SetLagging(true);  // each answer arrives with the host's next message
  rig.pedal.Script(Kind::Erase, {Status(5)});
  const FlashStep plan[] = {{kOperationWrite, 0x1000, 3 * 2048, kThreeChunkImage}, {kOperationErase, 0x0, 0x1000, 0}};
  EXPECT_EQ(rig.engine.RunFlashPlan(plan), 0);
  // Only the first chunk timed out: its late answer was taken for the
  // repeat's, the repeat's for the second chunk's, and so on; the last
  // chunk's answer satisfied the erase, whose own refusal never arrived.
  EXPECT_EQ(WriteAddresses(rig.pedal), (std::vector<std::int32_t>{0x1000, 0x1000, 0x1800, 0x2000}));
  EXPECT_EQ(rig.pedal.Count(Kind::Erase), 1);
  EXPECT_TRUE(rig.observer.Errors().empty());
  EXPECT_TRUE(LogTexts().empty());
}

}  // namespace
}  // namespace kv
