// The scenario options as every host of the simulator parses them.
#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv::sim {
namespace {

// Parses all of `args` as scenario options; returns the first error, or "".
std::string ParseAll(std::vector<const char*> args, Scenario& scenario) {
  std::string error;
  std::size_t i = 0;
  while (i < args.size()) {
    switch (ParseScenarioOption(args, i, scenario, error)) {
      case OptionResult::kConsumed:
        break;
      case OptionResult::kNotScenarioOption:
        return std::string("not a scenario option: ") + args[i];
      case OptionResult::kError:
        return error.empty() ? "empty error" : error;
    }
  }
  return "";
}

TEST(ScenarioOptions, ValidOptionsFillTheScenario) {
  Scenario s;
  ASSERT_EQ(ParseAll({"--sim-model", "0x58", "--sim-update-mode-status=11", "--sim-silent",
                      "--sim-chunk-status", "5:8:3", "--sim-drop-chunk", "1907:2", "--sim-chunk-status", "0x5:3:1",
                      "--sim-erase-status", "4:7:6", "--sim-drop-erase", "0", "--sim-no-finish-reply",
                      "--sim-reply-delay-ms", "250", "--transcript", "out.txt"},
                     s),
            "");
  Scenario expected;
  expected.model = 0x58;
  expected.updateModeStatus = 11;
  expected.silent = true;
  expected.chunkFaults = {{5, false, 8, 3}, {1907, true, 0, 2}, {5, false, 3, 1}};
  expected.eraseFaults = {{4, false, 7, 6}, {0, true, 0, kForever}};
  expected.noFinishReply = true;
  expected.replyDelayMs = 250;
  expected.transcriptPath = "out.txt";
  EXPECT_EQ(s, expected);

  Scenario defaults;
  EXPECT_EQ(defaults.model, 0x5F);
  EXPECT_EQ(ParseAll({"--sim-model", "95"}, defaults), "");
  EXPECT_EQ(defaults.model, 0x5F);
}

TEST(ScenarioOptions, MalformedValuesAreRefusedWithAMessageNamingTheOption) {
  struct Case {
    std::vector<const char*> args;
    const char* messagePart;
  };
  const Case cases[] = {
      {{"--sim-model"}, "--sim-model needs a value"},
      {{"--sim-model", "0x80"}, "--sim-model: BYTE must be a number from 0 to 127, got '0x80'"},
      {{"--sim-model", "5F"}, "got '5F'"},
      {{"--sim-model", "0x"}, "got '0x'"},
      {{"--sim-model", "-1"}, "got '-1'"},
      {{"--sim-model", ""}, "got ''"},
      {{"--sim-update-mode-status", "256"}, "--sim-update-mode-status: N must be"},
      {{"--sim-chunk-status", "5:8"}, "--sim-chunk-status needs INDEX:STATUS:COUNT, got '5:8'"},
      {{"--sim-chunk-status", "5:8:3:1"}, "needs INDEX:STATUS:COUNT"},
      {{"--sim-chunk-status", "1908:8:1"}, "INDEX must be a number from 0 to 1907, got '1908'"},
      {{"--sim-chunk-status", "5:8:0"}, "COUNT must be a number from 1 to"},
      {{"--sim-chunk-status", "5: 8:1"}, "got ' 8'"},
      {{"--sim-drop-chunk", "5"}, "--sim-drop-chunk needs INDEX:COUNT"},
      {{"--sim-drop-chunk", "5:99999999999999999999"}, "COUNT must be"},
      {{"--sim-erase-status", "5:1:1"}, "INDEX must be a number from 0 to 4"},
      {{"--sim-drop-erase", "0:1"}, "--sim-drop-erase needs INDEX"},
      {{"--sim-reply-delay-ms", "60001"}, "N must be a number from 0 to 60000"},
      {{"--sim-silent=1"}, "--sim-silent takes no value"},
      {{"--transcript", ""}, "--transcript needs a file name"},
  };
  for (const Case& c : cases) {
    Scenario s;
    const std::string error = ParseAll(c.args, s);
    EXPECT_NE(error.find(c.messagePart), std::string::npos) << c.args[0] << " gave: " << error;
  }
}

TEST(ScenarioOptions, OtherArgumentsAreLeftToTheProgram) {
  for (const char* arg : {"--simulate", "--sim-models", "--sim", "-h", "file"}) {
    std::vector<const char*> args{arg, "1"};
    std::size_t i = 0;
    Scenario s;
    std::string error;
    EXPECT_EQ(ParseScenarioOption(args, i, s, error), OptionResult::kNotScenarioOption) << arg;
    EXPECT_EQ(i, 0u);
  }
}

}  // namespace
}  // namespace kv::sim
