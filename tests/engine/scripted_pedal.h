// A pedal that answers the host from a script, over the loopback driver, and
// the rig that runs the engine against it: both ports open, the dispatcher
// polled by a small thread, every observer call recorded, and the diagnostic
// log switched on in a temporary directory.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/update_engine.h"
#include "midi/drivers/loopback_driver.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"

namespace kv::scripted {

// What the host sent, by the pedal's reading of it.
enum class Kind { Identity, UpdateMode, Erase, Write, Finish, Other };

struct HostMessage {
  Kind kind = Kind::Other;
  std::uint8_t model = 0;     // byte 3 of a vendor message
  std::int32_t address = 0;   // erase and write
  std::int32_t size = 0;      // erase: region size; write: data length
  std::chrono::steady_clock::time_point at;
};

// One answer of the pedal to one host message.
struct Answer {
  enum class Type { Status, Identity, Drop, Close };
  Type type = Type::Status;
  std::uint8_t value = 0;  // the status code, or the model of an identity reply
};
inline Answer Status(std::uint8_t code) { return {Answer::Type::Status, code}; }
inline Answer Ack() { return Status(0); }
inline Answer IdentityReply(std::uint8_t model) { return {Answer::Type::Identity, model}; }
// No answer at all.
inline Answer Drop() { return {Answer::Type::Drop, 0}; }
// The dialog closes instead: status 255 is stored and the signal set.
inline Answer Close() { return {Answer::Type::Close, 0}; }
// `count` copies of `answer`.
std::vector<Answer> Times(int count, Answer answer);
std::vector<Answer> Then(std::vector<Answer> first, const std::vector<Answer>& second);

class ScriptedPedal {
 public:
  explicit ScriptedPedal(midi::LoopbackDriver& driver);
  ScriptedPedal(const ScriptedPedal&) = delete;
  ScriptedPedal& operator=(const ScriptedPedal&) = delete;

  // The answers to the next messages of `kind`, in order; once they are used
  // up, the default answer: an identity reply of 0x57, else status 0.
  void Script(Kind kind, const std::vector<Answer>& answers);
  void SetDefault(Kind kind, Answer answer);
  // Every answer is held back until the host's next message arrives, as
  // from a pedal that answers each message too late for its wait.
  void SetLagging(bool lagging);
  void SetSignal(ReplySignal* signal);

  std::vector<HostMessage> Messages() const;
  int Count(Kind kind) const;
  // What the write-data messages put into flash, by address (unpacked).
  std::vector<std::uint8_t> Flash(std::int32_t address, std::size_t length) const;

 private:
  void OnHostMessage(const std::uint8_t* data, std::size_t length);
  void Deliver(const Answer& answer, std::uint8_t model);

  midi::LoopbackDriver& driver_;
  mutable std::mutex mutex_;
  std::map<Kind, std::deque<Answer>> script_;
  std::map<Kind, Answer> defaults_;
  bool lagging_ = false;
  std::optional<std::pair<Answer, std::uint8_t>> owed_;
  ReplySignal* signal_ = nullptr;
  std::vector<HostMessage> messages_;
  std::map<std::int32_t, std::vector<std::uint8_t>> written_;  // chunk address -> last data
};

// Records every observer call, in order, as text ("status ...", "error 104").
class RecordingObserver final : public UpdateObserver {
 public:
  void SetStatusText(const char* text) override { Record(std::string("status ") + text); }
  void SetStepText(const char* text) override { Record(std::string("step ") + text); }
  void SetProgressRange(std::int32_t low, std::int32_t high) override;
  void SetProgressPos(std::int32_t pos) override { Record("pos " + std::to_string(pos)); }
  void ShowError(int textNumber) override;
  void RestoreControls() override { Record("restore"); }
  void EnableExecute(bool flag) override { Record(flag ? "execute 1" : "execute 0"); }

  std::vector<std::string> Calls() const;
  // Only the calls that begin with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const;
  std::vector<int> Errors() const;
  // The number of log lines present when each error box was shown.
  std::vector<std::size_t> LogLinesAtErrors() const;

 private:
  void Record(std::string call);
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<int> errors_;
  std::vector<std::size_t> logLinesAtErrors_;
};

// The texts of the lines in TEST_LOG.txt of the current directory, time
// stamps cut off.
std::vector<std::string> LogTexts();

// Runs in a fresh temporary directory holding an empty TEST_LOG.txt.
class LogDirectory {
 public:
  LogDirectory();
  ~LogDirectory();
  LogDirectory(const LogDirectory&) = delete;
  LogDirectory& operator=(const LogDirectory&) = delete;

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

// Short protocol times for tests: long enough that an answer never misses
// its wait, short enough that the time-outs cost little.
constexpr ProtocolTimes kTestTimes{300, 40, 300, 300, 200, 2};

struct RigOptions {
  bool openOut = true;
  ProtocolTimes times = kTestTimes;
  const ImageSource* images = nullptr;  // EmbeddedImages() when null
};

class PedalRig {
 public:
  explicit PedalRig(RigOptions options = {});
  ~PedalRig();
  PedalRig(const PedalRig&) = delete;
  PedalRig& operator=(const PedalRig&) = delete;

  LogDirectory logDirectory;
  midi::LoopbackDriver driver{"KV pedal"};
  ScriptedPedal pedal{driver};
  midi::CMidiOutPort out{driver};
  midi::CMidiInPort in{driver};
  RecordingObserver observer;
  CUpdateEngine engine;

 private:
  std::jthread poller_;
};

// The texts of log entries `entries`, spelled out here rather than taken from
// the log's own table, so a changed text fails the tests.
std::vector<std::string> LogLines(const std::vector<int>& entries);

}  // namespace kv::scripted
