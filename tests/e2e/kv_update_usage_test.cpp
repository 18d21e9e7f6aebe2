// kv-update's command line: refusals before any MIDI traffic, the
// informational options and the choice of ports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_run.h"

namespace kv::e2e {
namespace {

RunResult RunKvUpdate(const std::vector<std::string>& args, const TempDir& dir,
              std::vector<std::pair<std::string, std::string>> env = {}) {
  RunRequest request;
  request.args = args;
  request.env = std::move(env);
  request.workDir = dir.Path();
  request.limit = std::chrono::seconds(30);
  return RunProgram(KV_UPDATE_PATH, request);
}

TEST(KvUpdateUsage, MalformedCommandLinesAreRefusedBeforeAnythingIsSent) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {{"--bogus"}, 2, "kv-update: unknown option '--bogus'\n"},
      {{"--simulate", "--sim-chunk-status", "5:8"}, 2,
       "kv-update: --sim-chunk-status needs INDEX:STATUS:COUNT, got '5:8'\n"},
      {{"--simulate", "--sim-model", "0x80"}, 2,
       "kv-update: --sim-model: BYTE must be a number from 0 to 127, got '0x80'\n"},
      {{"--simulate", "--sim-drop-erase"}, 2, "kv-update: --sim-drop-erase needs a value\n"},
      {{"--sim-model", "0x58"}, 2, "kv-update: the --sim-* options and --transcript need --simulate\n"},
      {{"--simulate", "--out"}, 2, "kv-update: --out needs a value\n"},
      {{"--simulate", "--transcript", "/nonexistent-dir/t.txt"}, 2,
       "kv-update: cannot write the transcript '/nonexistent-dir/t.txt'\n"},
      {{"--simulate", "--out", "Some Other Port"}, 3, "kv-update: no MIDI OUT port 'Some Other Port' (see --list)\n"},
      {{"--simulate", "--in", "1"}, 3, "kv-update: no MIDI IN port '1' (see --list)\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir.File("TEST_LOG.txt"), "");
    // A transcript asked for first shows that no message went either way.
    std::vector<std::string> args = {"--transcript", dir.File("t.txt")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = RunKvUpdate(args, dir);
    const std::string what = c.args.back();
    EXPECT_EQ(run.exitCode, c.exitCode) << what;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), c.message) << what;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_EQ(ReadFile(dir.File("TEST_LOG.txt")), "") << what;
    EXPECT_EQ(ReadFile(dir.File("t.txt")), "") << "nothing sent: " << what;
  }
}

TEST(KvUpdateUsage, HelpVersionAndPortList) {
  TempDir dir;
  const RunResult help = RunKvUpdate({"--help"}, dir);
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"--in", "--out", "--list", "--simulate", "--version", "--sim-model",
                             "--sim-update-mode-status", "--sim-silent", "--sim-chunk-status", "--sim-drop-chunk",
                             "--sim-erase-status", "--sim-drop-erase", "--sim-no-finish-reply", "--sim-reply-delay-ms",
                             "--transcript", "KV_MIDI", "Exit status", "130"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }

  const RunResult version = RunKvUpdate({"--version"}, dir);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "kv-update 2.0.2.0\n");

  const std::string simulatedList =
      "MIDI IN\n  0  TARVO KV Series  (preselected)\nMIDI OUT\n  0  TARVO KV Series  (preselected)\n";
  const RunResult list = RunKvUpdate({"--simulate", "--list"}, dir);
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_EQ(list.out, simulatedList);
  const RunResult fromEnvironment = RunKvUpdate({"--list"}, dir, {{"KV_MIDI", "sim"}});
  EXPECT_EQ(fromEnvironment.exitCode, 0);
  EXPECT_EQ(fromEnvironment.out, simulatedList);
}

}  // namespace
}  // namespace kv::e2e
