// The simulated pedal behind the host's real ports and reply dispatcher:
// its own requests are answered by the host, its answers arrive no earlier
// than the scenario's delay, the transcript records both directions, and
// KV_MIDI=sim picks it as the programs' backend.
#include "sim/simulated_pedal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/sysex.h"
#include "engine/update_engine.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "sim/midi_backend.h"

namespace kv::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class QuietObserver final : public UpdateObserver {
 public:
  void SetStatusText(const char*) override {}
  void SetStepText(const char*) override {}
  void SetProgressRange(std::int32_t, std::int32_t) override {}
  void SetProgressPos(std::int32_t) override {}
  void ShowError(int) override {}
  void RestoreControls() override {}
  void EnableExecute(bool) override {}
};

// The host side of the dialogue on the pedal's loopback ports, with the
// dispatcher run by hand.
struct Host {
  explicit Host(SimulatedPedal& pedal) : out(pedal.Driver()), in(pedal.Driver()), engine(out, in, observer) {
    EXPECT_EQ(out.Open(0), 1);
    in.SetDeviceIndex(0);
    EXPECT_EQ(in.Start(), 1);
  }
  // Runs the dispatcher until `done` holds; false after 10 s.
  template <class Done>
  bool PollUntil(Done done) {
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > limit) return false;
      engine.PollReplies();
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  midi::CMidiOutPort out;
  midi::CMidiInPort in;
  QuietObserver observer;
  CUpdateEngine engine;
};

std::string TempPath(const char* name) { return ::testing::TempDir() + name; }

TEST(SimulatedPedal, OwnRequestsAreAnsweredByTheHostsDispatcherAndRecorded) {
  Scenario scenario;
  scenario.model = ModelId.load();  // the dispatcher follows ModelId
  scenario.transcriptPath = TempPath("pedal_requests.txt");
  std::string error;
  auto pedal = SimulatedPedal::Create(scenario, error);
  ASSERT_TRUE(pedal) << error;
  {
    Host host(*pedal);
    pedal->Model().SendIdentityRequest();
    pedal->Model().SendVendorCommand(kCmdFinish);
    pedal->Model().SendVendorCommand(kCmdErase);
    ASSERT_TRUE(host.PollUntil([&] { return pedal->Model().HostAnswers().size() == 3; }));
    const std::vector<Bytes> answers = pedal->Model().HostAnswers();
    EXPECT_EQ(answers[0].size(), 15u);
    EXPECT_EQ(Bytes(answers[0].begin(), answers[0].begin() + 6), (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52}));
    EXPECT_EQ(answers[1], (Bytes{0xF0, 0x52, 0x00, scenario.model, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(answers[2], (Bytes{0xF0, 0x52, 0x00, scenario.model, 0x00, 0x01, 0xF7}));
  }
  pedal.reset();  // closes the transcript

  std::ifstream file(scenario.transcriptPath);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "pedal F0 7E 7F 06 01 F7");
  EXPECT_EQ(lines[1].rfind("pedal F0 52 00 ", 0), 0u);
  EXPECT_EQ(lines[3].rfind("host F0 7E 00 06 02 52 ", 0), 0u);
  char model[3];
  std::snprintf(model, sizeof model, "%02X", scenario.model);
  EXPECT_EQ(lines[5], std::string("host F0 52 00 ") + model + " 00 01 F7");
}

TEST(SimulatedPedal, AnswersArriveNoEarlierThanTheReplyDelay) {
  Scenario scenario;
  scenario.replyDelayMs = 300;
  std::string error;
  auto pedal = SimulatedPedal::Create(scenario, error);
  ASSERT_TRUE(pedal) << error;
  Host host(*pedal);
  host.engine.Signal().Reset();
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(host.engine.SendSysEx(kIdentityRequest, kIdentityRequestLength), 0);
  EXPECT_EQ(pedal->Model().Counters().identityRequests, 1u);
  ASSERT_TRUE(host.PollUntil([&] { return host.engine.Signal().Wait(0); }));
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 300ms);
  EXPECT_EQ(host.engine.Signal().detectedModel.load(), 0x5F);
}

// Sets (or, with null, removes) an environment variable of this process.
void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");  // "" removes it
#else
  if (value != nullptr) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
#endif
}

TEST(SimulatedPedal, BackendFollowsKvMidi) {
  SetEnvironment("KV_MIDI", "sim");
  MidiBackend simulated = SelectMidiBackend();
  ASSERT_TRUE(simulated.driver);
  ASSERT_TRUE(simulated.pedal);
  EXPECT_EQ(simulated.pedal->Model().GetScenario(), Scenario{});
  midi::CMidiOutPort out(*simulated.driver);
  char name[40] = {};
  ASSERT_EQ(out.GetDeviceCount(), 1u);
  out.GetDeviceName(0, name);
  EXPECT_STREQ(name, kSimulatedPortName);

  SetEnvironment("KV_MIDI", "alsa");
  EXPECT_FALSE(SelectMidiBackend().pedal);
  SetEnvironment("KV_MIDI", nullptr);
  EXPECT_FALSE(SelectMidiBackend().pedal);
}

TEST(SimulatedPedal, UnwritableTranscriptIsRefused) {
  Scenario scenario;
  scenario.transcriptPath = "/nonexistent-dir/t.txt";
  std::string error;
  EXPECT_FALSE(SimulatedPedal::Create(scenario, error));
  EXPECT_EQ(error, "cannot write the transcript '/nonexistent-dir/t.txt'");
}

}  // namespace
}  // namespace kv::sim
