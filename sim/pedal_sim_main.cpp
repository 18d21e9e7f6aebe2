// kv-pedal-sim: the simulated pedal as a program of its own on a JACK
// server, for kv-update or the dialog in another process. Its ports carry
// the pedal's name, so the updater preselects them without options. On
// SIGTERM or SIGINT (or when the server goes away) it prints whether its
// flash holds the four firmware images and exits 0 only when it does.
#if defined(__linux__) && defined(KV_HAVE_JACK)

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/drivers/jack_midi_client_linux.h"
#include "midi/drivers/lent_buffer_input.h"
#include "sim/pedal_model.h"
#include "sim/scenario.h"
#include "sim/simulated_pedal.h"
#include "sim/transcript.h"

namespace {

constexpr int kExitFlashMatches = 0;
constexpr int kExitFlashDiffers = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoServer = 3;

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

const char* Usage() {
  return "Usage: kv-pedal-sim [OPTION]...\n"
         "A simulated KV Series pedal in firmware update mode on a JACK server. Its\n"
         "MIDI ports are named \"TARVO KV Series\", so kv-update and the updater's\n"
         "dialog preselect them. It answers the updater as the scenario options say;\n"
         "on SIGTERM or SIGINT (Ctrl+C), or when the server goes away, it checks its\n"
         "flash against the four firmware images and prints the result.\n"
         "\n"
         "  --help                        show this text and exit\n";
}

const char* ExitText() {
  return "\n"
         "The server is the one libjack finds (JACK_DEFAULT_SERVER); none is started.\n"
         "Exit status: 0 the flash holds the images; 1 it does not; 2 unknown option or\n"
         "malformed value; 3 no JACK server, or the transcript cannot be written.\n";
}

// The pedal's answers, sent in order, each no earlier than it is due (the
// scenario's reply delay), on a thread of their own.
class ReplySender {
 public:
  explicit ReplySender(kv::midi::JackMidiClient& client) : client_(client), thread_([this] { Run(); }) {}
  ~ReplySender() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  void Queue(const std::uint8_t* data, std::size_t length, std::uint32_t delayMs) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({Clock::now() + std::chrono::milliseconds(delayMs), Bytes(data, data + length)});
    }
    changed_.notify_all();
  }

 private:
  struct Reply {
    Clock::time_point due;
    Bytes bytes;
  };
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      const Clock::time_point due = queue_.front().due;
      if (changed_.wait_until(lock, due, [this] { return stopping_; })) return;
      Reply reply = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      // With nobody connected the answer is lost, as on a pulled cable.
      client_.Send(reply.bytes.data(), reply.bytes.size());
      lock.lock();
    }
  }

  kv::midi::JackMidiClient& client_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Reply> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

// The host's byte stream made into whole SysEx messages for the model, by
// the same parser the drivers use, with one large buffer lent to it.
class HostMessages {
 public:
  explicit HostMessages(kv::sim::PedalModel& model)
      : model_(model), buffer_(64 * 1024), input_(1, &HandBack, reinterpret_cast<std::uintptr_t>(this)) {
    header_.data = buffer_.data();
    header_.bufferLength = static_cast<std::uint32_t>(buffer_.size());
    input_.Prepare(&header_, kv::midi::kMidiHeaderSize);
    input_.Add(&header_, kv::midi::kMidiHeaderSize);
    input_.Start();
  }
  void Feed(const Bytes& event) { input_.Feed(event.data(), event.size()); }

 private:
  static void HandBack(kv::midi::MidiHandle, std::uint32_t message, std::uintptr_t instance,
                       std::uintptr_t param1, std::uintptr_t) {
    auto* self = reinterpret_cast<HostMessages*>(instance);
    auto* header = reinterpret_cast<kv::midi::MidiHeader*>(param1);
    if (message != kv::midi::kMimLongData || header->bytesRecorded == 0) return;
    self->model_.Receive(header->data, header->bytesRecorded);
    self->input_.Add(header, kv::midi::kMidiHeaderSize);
  }

  kv::sim::PedalModel& model_;
  Bytes buffer_;
  kv::midi::MidiHeader header_;
  kv::midi::LentBufferInput input_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace kv;
  const std::vector<const char*> args(argv + 1, argv + argc);
  sim::Scenario scenario;
  for (std::size_t i = 0; i < args.size();) {
    if (std::strcmp(args[i], "--help") == 0 || std::strcmp(args[i], "-h") == 0) {
      std::printf("%s\n%s%s", Usage(), sim::ScenarioOptionsHelp(), ExitText());
      return kExitFlashMatches;
    }
    std::string error;
    switch (sim::ParseScenarioOption(args, i, scenario, error)) {
      case sim::OptionResult::kConsumed:
        break;
      case sim::OptionResult::kError:
        std::fprintf(stderr, "kv-pedal-sim: %s\nTry 'kv-pedal-sim --help'.\n", error.c_str());
        return kExitUsage;
      case sim::OptionResult::kNotScenarioOption:
        std::fprintf(stderr, "kv-pedal-sim: unknown option '%s'\nTry 'kv-pedal-sim --help'.\n", args[i]);
        return kExitUsage;
    }
  }

  // Taken as events by the main thread; every thread made from here on
  // inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::unique_ptr<sim::TranscriptWriter> transcript;
  sim::PedalModel::Tap tap;
  if (!scenario.transcriptPath.empty()) {
    transcript = std::make_unique<sim::TranscriptWriter>(scenario.transcriptPath);
    if (!transcript->IsOpen()) {
      std::fprintf(stderr, "kv-pedal-sim: cannot write the transcript '%s'\n", scenario.transcriptPath.c_str());
      return kExitNoServer;
    }
    tap = [writer = transcript.get()](sim::Direction direction, const std::uint8_t* data, std::size_t length) {
      writer->Write(direction, data, length);
    };
  }

  auto client = midi::JackMidiClient::Open(
      midi::JackClientOptions{sim::kSimulatedPortName, "out", "in", sim::kSimulatedPortName});
  if (!client) {
    std::fprintf(stderr, "kv-pedal-sim: no JACK server to join\n");
    return kExitNoServer;
  }
  int finalStatus = kExitFlashDiffers;
  {
    ReplySender replies(*client);
    const std::uint32_t delayMs = scenario.replyDelayMs;
    sim::PedalModel model(
        scenario, [&replies, delayMs](const std::uint8_t* data, std::size_t length) { replies.Queue(data, length, delayMs); },
        std::move(tap));
    HostMessages host(model);
    std::thread receiver([&client, &host] {
      Bytes event;
      while (client->Receive(event)) host.Feed(event);
      if (!client->Alive()) {
        std::fprintf(stderr, "kv-pedal-sim: the JACK server has gone\n");
        kill(getpid(), SIGTERM);  // taken by the main thread's wait
      }
    });
    std::printf("kv-pedal-sim: ready, ports %s and %s\n", client->InPortName().c_str(),
                client->OutPortName().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    client->Cancel();
    receiver.join();
    const sim::VerifyResult verified = model.Verify(EmbeddedImages());
    std::printf("%s\n", verified.line.c_str());
    std::fflush(stdout);
    finalStatus = verified.ok ? kExitFlashMatches : kExitFlashDiffers;
  }
  return finalStatus;
}

#else  // no JACK in this build

#include <cstdio>

int main() {
  std::fprintf(stderr, "kv-pedal-sim: this build has no JACK support\n");
  return 3;
}

#endif
