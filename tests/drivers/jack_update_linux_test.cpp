// The programs together: a JACK server, kv-pedal-sim and kv-update as three
// processes. kv-update finds the simulated pedal by its name, updates it
// over JACK, and the pedal's flash then holds the images. A pedal that goes
// away in the middle makes the update fail instead of hanging.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/drivers/child_process.h"
#include "tests/drivers/jack_server.h"

#if defined(KV_HAVE_JACK) && defined(KV_UPDATE_PROGRAM) && defined(KV_PEDAL_SIM_PROGRAM)

namespace kv::test {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits (bounded) until the file holds `text`.
bool AwaitText(const std::filesystem::path& path, const std::string& text, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class JackUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kv-jack-update-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::string error;
    ASSERT_TRUE(server_.Start(error)) << error;
    ASSERT_TRUE(pedal_.Start({KV_PEDAL_SIM_PROGRAM, "--transcript", (dir_ / "transcript.txt").string()},
                             (dir_ / "pedal.log").string()));
    ASSERT_TRUE(AwaitText(dir_ / "pedal.log", "ready", std::chrono::seconds(10))) << ReadFile(dir_ / "pedal.log");
  }
  void TearDown() override {
    update_.Stop();
    pedal_.Stop();
    server_.Stop();
    if (!HasFailure()) std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  JackServer server_;
  ChildProcess pedal_;
  ChildProcess update_;
};

TEST_F(JackUpdateTest, FullUpdateOverJackLeavesTheImagesInTheFlash) {
  // No options: the ports are preselected by the pedal's name.
  ASSERT_TRUE(update_.Start({KV_UPDATE_PROGRAM}, (dir_ / "update.log").string(), dir_.string()));
  EXPECT_EQ(update_.Wait(std::chrono::minutes(5)), 0) << ReadFile(dir_ / "update.log");
  EXPECT_NE(ReadFile(dir_ / "update.log").find("Version update completed."), std::string::npos);

  EXPECT_EQ(pedal_.Stop(), 0) << ReadFile(dir_ / "pedal.log");
  EXPECT_NE(ReadFile(dir_ / "pedal.log").find("flash verified"), std::string::npos) << ReadFile(dir_ / "pedal.log");
  // The dialogue went through the pedal: it starts with the identity request.
  EXPECT_EQ(ReadFile(dir_ / "transcript.txt").rfind("host F0 7E 00 06 01 F7\n", 0), 0u);
}

TEST_F(JackUpdateTest, APedalThatGoesAwayFailsTheUpdateWithoutHanging) {
  ASSERT_TRUE(update_.Start({KV_UPDATE_PROGRAM}, (dir_ / "update.log").string(), dir_.string()));
  ASSERT_TRUE(AwaitText(dir_ / "update.log", "Step 3/9", std::chrono::minutes(2))) << ReadFile(dir_ / "update.log");
  EXPECT_EQ(pedal_.Stop(), 1);  // its flash is half written
  EXPECT_EQ(update_.Wait(std::chrono::minutes(2)), 1) << ReadFile(dir_ / "update.log");
  EXPECT_EQ(ReadFile(dir_ / "update.log").find("Version update completed."), std::string::npos);
}

TEST(PedalSimOptionsTest, TakesTheScenarioOptionsAndRefusesOthersBeforeJoiningAServer) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* printed;
  };
  const Case cases[] = {
      {{"--help"}, 0, "--sim-drop-chunk"},
      {{"--bogus"}, 2, "unknown option '--bogus'"},
      {{"--sim-model", "0x100"}, 2, "--sim-model"},
      {{"--sim-chunk-status", "5:8"}, 2, "--sim-chunk-status"},
  };
  char pattern[] = "/tmp/kv-pedal-sim-options-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path log = std::filesystem::path(pattern) / "out.log";
  for (const Case& c : cases) {
    std::vector<std::string> args{KV_PEDAL_SIM_PROGRAM};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(args, log.string()));
    EXPECT_EQ(sim.Wait(std::chrono::seconds(30)), c.exitCode) << c.args[0];
    EXPECT_NE(ReadFile(log).find(c.printed), std::string::npos) << ReadFile(log);
  }
  std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace kv::test

#endif
