// Without a JACK server or a sound card the device lists are empty, and
// finding that out prints nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "midi/drivers/platform_driver.h"

namespace kv::midi {
namespace {

// Sends this process's standard output and error to a file while it lives.
class CapturedOutput {
 public:
  CapturedOutput() : file_(std::tmpfile()) {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = dup(STDOUT_FILENO);
    savedErr_ = dup(STDERR_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
    dup2(fileno(file_), STDERR_FILENO);
  }
  ~CapturedOutput() {
    Restore();
    std::fclose(file_);
  }
  std::string Text() {
    Restore();
    std::string text;
    std::rewind(file_);
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) text.push_back(static_cast<char>(c));
    return text;
  }

 private:
  void Restore() {
    if (savedOut_ < 0) return;
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut_, STDOUT_FILENO);
    dup2(savedErr_, STDERR_FILENO);
    close(savedOut_);
    close(savedErr_);
    savedOut_ = savedErr_ = -1;
  }

  std::FILE* file_;
  int savedOut_ = -1;
  int savedErr_ = -1;
};

TEST(QuietProbeTest, NoServerNoCardsEmptyListsAndNothingPrinted) {
  // A server name nobody runs, so a JACK server elsewhere on the machine
  // does not change the answer.
  const std::string absent = "kv-absent-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", absent.c_str(), 1);
  unsetenv("JACK_NO_START_SERVER");  // the driver must not start one by itself

  CapturedOutput captured;
  std::uint32_t outs = 1;
  std::uint32_t ins = 1;
  MmResult opened = kMmNoError;
  {
    std::unique_ptr<MidiDriver> driver = CreatePlatformMidiDriver();
    outs = driver->OutGetNumDevs();
    ins = driver->InGetNumDevs();
    MidiHandle handle = 0;
    opened = driver->OutOpen(&handle, 0);
    MidiCaps caps;
    driver->InGetDevCaps(0, &caps, kMidiInCapsSize);
  }
  const std::string printed = captured.Text();
  if (access("/dev/snd", F_OK) != 0) {
    EXPECT_EQ(outs, 0u);
    EXPECT_EQ(ins, 0u);
    EXPECT_EQ(opened, kMmBadDeviceId);
  }
  EXPECT_EQ(printed, "");
}

}  // namespace
}  // namespace kv::midi
