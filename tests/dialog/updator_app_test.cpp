// Start-up and instance numbering over a fake platform.
#include "ui/updator_app.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ui/message_texts.h"

namespace kv {
namespace {

class FakeClaim final : public InstanceClaim {};

struct FakePlatform final : AppPlatform {
  std::set<std::string> held;          // names other copies hold
  std::set<std::string> unclaimable;   // names whose claim cannot be made at all
  std::vector<std::string> calls;      // in order
  std::vector<std::string> claimed;    // names tried, in order
  std::string refusalText, refusalCaption;
  int dialogInstance = 0;

  void RegisterControls() override { calls.push_back("register"); }
  std::unique_ptr<InstanceClaim> ClaimInstance(const std::string& name) override {
    claimed.push_back(name);
    if (held.count(name) != 0 || unclaimable.count(name) != 0) {
      return nullptr;
    }
    return std::make_unique<FakeClaim>();
  }
  std::string ProgramFilePath() override { return "/opt/kv/bin/kv-updater.exe"; }
  void ShowRefusal(const char* text, const char* caption) override {
    calls.push_back("refusal");
    refusalText = text;
    refusalCaption = caption;
  }
  void RunDialog(int instanceNumber) override {
    calls.push_back("dialog");
    dialogInstance = instanceNumber;
  }
};

std::set<std::string> Names(std::initializer_list<int> numbers) {
  std::set<std::string> names;
  for (int n : numbers) {
    names.insert(InstanceName(n));
  }
  return names;
}

TEST(UpdatorApp, InstanceNamesAreTheWindowTitles) {
  EXPECT_EQ(InstanceName(1), "TARVO KV-12 v2.00 Updater");
  EXPECT_EQ(InstanceName(2), "TARVO KV-12 v2.00 Updater (2)");
  EXPECT_EQ(InstanceName(20), "TARVO KV-12 v2.00 Updater (20)");
}

TEST(UpdatorApp, TakesTheLowestFreeNumber) {
  struct Case {
    const char* what;
    std::set<std::string> held, unclaimable;
    int expected;
  };
  const Case cases[] = {
      {"first copy", {}, {}, 1},
      {"copies 1 and 2 running", Names({1, 2}), {}, 3},
      {"copy 1 ended, 2 and 3 running", Names({2, 3}), {}, 1},
      {"claim of 1 cannot be made", {}, Names({1}), 2},
      {"held and unclaimable mixed", Names({1, 3}), Names({2}), 4},
      {"only 20 free", Names({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}), {}, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform platform;
    platform.held = c.held;
    platform.unclaimable = c.unclaimable;
    CTx3UpdatorApp app(platform);
    EXPECT_EQ(app.GetInstanceNumber(), 0);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.GetInstanceNumber(), c.expected);
    EXPECT_EQ(platform.dialogInstance, c.expected);
    EXPECT_EQ(platform.calls, (std::vector<std::string>{"register", "dialog"}));
    // Tried from 1 upwards, stopping at the first one claimed.
    ASSERT_EQ(platform.claimed.size(), static_cast<std::size_t>(c.expected));
    for (int n = 1; n <= c.expected; ++n) {
      EXPECT_EQ(platform.claimed[n - 1], InstanceName(n));
    }
  }
}

TEST(UpdatorApp, TwentyFirstCopyIsRefusedWithoutADialog) {
  FakePlatform platform;
  for (int n = 1; n <= 20; ++n) {
    (n % 2 == 0 ? platform.held : platform.unclaimable).insert(InstanceName(n));
  }
  CTx3UpdatorApp app(platform);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.GetInstanceNumber(), 0);
  EXPECT_EQ(platform.claimed.size(), 20u);
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"register", "refusal"}));
  EXPECT_EQ(platform.refusalText, "It is forbidden to launch more than 20 instance of this application.");
  EXPECT_EQ(platform.refusalCaption, "kv-updater");
}

TEST(UpdatorApp, ProgramNameIsTheFileNameWithoutExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"/usr/bin/kv-updater", "kv-updater"},
      {"C:\\Tools\\KV\\Updater.exe", "Updater"},
      {"kv.updater.exe", "kv.updater"},
      {"/home/u/.hidden", ".hidden"},
      {"/dir.d/plain", "plain"},
  };
  for (const auto& [path, name] : cases) {
    EXPECT_EQ(ProgramNameFromPath(path), name) << path;
  }
}

}  // namespace
}  // namespace kv
