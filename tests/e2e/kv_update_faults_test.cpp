// kv-update against a misbehaving simulated pedal, at production times:
// what the operator sees, the exit status and the diagnostic log. Faults
// that cost a 30 s wait are covered by the engine's own tests instead.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "program_run.h"

namespace kv::e2e {
namespace {

std::vector<std::string> LogTexts(const std::string& log) {
  // "YYYY/MM/DD hh:mm:ss     text" -> text
  std::vector<std::string> texts;
  std::size_t start = 0;
  while (start < log.size()) {
    const std::size_t end = log.find('\n', start);
    const std::string line = log.substr(start, end - start);
    texts.push_back(line.size() > 24 ? line.substr(24) : "malformed: " + line);
    start = end == std::string::npos ? log.size() : end + 1;
  }
  return texts;
}

struct FaultCase {
  const char* name;
  std::vector<std::string> options;
  int exitCode;
  std::string stderrText;             // all of standard error
  std::vector<std::string> logTexts;  // TEST_LOG.txt, in order
  bool verified;                      // "flash verified" printed
};

class KvUpdateFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(KvUpdateFaults, ExitStatusErrorTextAndLog) {
  const FaultCase& c = GetParam();
  TempDir dir;
  WriteFile(dir.File("TEST_LOG.txt"), "");
  RunRequest request;
  request.args = {"--simulate"};
  request.args.insert(request.args.end(), c.options.begin(), c.options.end());
  request.workDir = dir.Path();
  request.limit = std::chrono::seconds(120);
  const RunResult run = RunProgram(KV_UPDATE_PATH, request);

  EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
  EXPECT_EQ(run.err, c.stderrText);
  EXPECT_EQ(LogTexts(ReadFile(dir.File("TEST_LOG.txt"))), c.logTexts);
  EXPECT_EQ(run.out.find("flash verified: 4 images, 3907584 bytes match\n") != std::string::npos, c.verified)
      << run.out;
}

const std::string kCrc = "(CRC)Transfer error occurred.";
const std::string kFlashWrite = "(Flash Write)Transfer error occurred.";

INSTANTIATE_TEST_SUITE_P(
    Scenarios, KvUpdateFaults,
    ::testing::Values(
        FaultCase{"IllegalModel", {"--sim-model", "0x58"}, 1, "Error: Illegal device connected.\n",
                  {"Illegal device connected."}, false},
        FaultCase{"NotInUpdateMode", {"--sim-update-mode-status", "11"}, 1,
                  "Error: Please use the firmware update mode.\n", {"Please use the firmware update mode."}, false},
        FaultCase{"UpdateModeRefused", {"--sim-update-mode-status", "1"}, 1, "Error: Transfer error occurred.\n", {},
                  false},
        FaultCase{"EraseRefusedSevenTimes", {"--sim-erase-status", "0:5:7"}, 1, "Error: Transfer error occurred.\n",
                  {"(Erase)Time Out Error."}, false},
        FaultCase{"ChunkFlashErrorSevenTimes", {"--sim-chunk-status", "5:3:7"}, 1,
                  "Error: Transfer error occurred.\n",
                  {kFlashWrite, kFlashWrite, kFlashWrite, kFlashWrite, kFlashWrite, kFlashWrite, kFlashWrite}, false},
        // Recovered faults: three CRC errors (logged each time) and one lost
        // answer (1 s, not logged) still end in a verified flash.
        FaultCase{"RecoveredChunkFaults",
                  {"--sim-chunk-status", "5:8:3", "--sim-drop-chunk", "1000:1", "--sim-erase-status", "3:8:6"}, 0, "",
                  {kCrc, kCrc, kCrc}, true},
        // A pedal that acknowledges a chunk it never wrote: the run completes,
        // the flash check catches it.
        FaultCase{"AcknowledgedButNotWritten", {"--sim-chunk-status", "0:0:1"}, 4, "", {}, false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(KvUpdateFaults, FlashMismatchNamesTheFirstWrongByte) {
  TempDir dir;
  RunRequest request;
  request.args = {"--simulate", "--sim-chunk-status", "129:0:1"};  // chunk 129: image 133 at 0x3FD800
  request.workDir = dir.Path();
  request.limit = std::chrono::seconds(120);
  const RunResult run = RunProgram(KV_UPDATE_PATH, request);
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_NE(run.out.find("Version update completed.\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("flash mismatch: image 133 at 0x3FD800 (offset 2048)"), std::string::npos) << run.out;
  EXPECT_FALSE(FileExists(dir.File("TEST_LOG.txt"))) << "the log is never created";
}

// Interrupted runs end at once, without an error box's text, with 128 + the
// signal's number: while waiting for a pedal that never answers, and in the
// middle of the transfer.
TEST(KvUpdateFaults, InterruptionAbandonsTheRunPromptly) {
  struct Case {
    std::vector<std::string> args;
    int signal;
  };
  const Case cases[] = {{{"--simulate", "--sim-silent"}, SIGTERM}, {{"--simulate"}, SIGINT}};
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir.File("TEST_LOG.txt"), "");
    RunRequest request;
    request.args = c.args;
    request.workDir = dir.Path();
    request.sendSignal = c.signal;
    request.signalAfter = std::chrono::milliseconds(1500);
    request.limit = std::chrono::seconds(20);
    const RunResult run = RunProgram(KV_UPDATE_PATH, request);
    EXPECT_EQ(run.exitCode, 128 + c.signal) << run.out << run.err;
    EXPECT_EQ(run.err, "kv-update: interrupted; the update was abandoned\n");
    EXPECT_EQ(run.out.find("Version update completed."), std::string::npos);
    EXPECT_LT(run.elapsed, std::chrono::seconds(10));
    EXPECT_EQ(ReadFile(dir.File("TEST_LOG.txt")), "");
  }
}

}  // namespace
}  // namespace kv::e2e
