#include "tests/engine/scripted_pedal.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <random>
#include <string>

#include "engine/sysex.h"

namespace kv::scripted {
namespace {

std::int32_t SevenBitGroups(const std::uint8_t* bytes, int count) {
  std::uint32_t value = 0;
  for (int k = 0; k < count; ++k) {
    value |= static_cast<std::uint32_t>(bytes[k] & 0x7F) << (7 * k);
  }
  return static_cast<std::int32_t>(value);
}

// Reverses the 7-bit packing: a header byte carries bit 7 of up to seven
// following bytes, 0x40 for the first.
std::vector<std::uint8_t> Unpack(const std::uint8_t* packed, std::size_t packedLength, std::size_t length) {
  std::vector<std::uint8_t> out;
  out.reserve(length);
  std::size_t i = 0;
  while (i < packedLength && out.size() < length) {
    const std::uint8_t header = packed[i++];
    for (int j = 0; j < 7 && i < packedLength && out.size() < length; ++j) {
      const bool high = (header >> (6 - j)) & 1;
      out.push_back(static_cast<std::uint8_t>((packed[i++] & 0x7F) | (high ? 0x80 : 0)));
    }
  }
  return out;
}

Kind Classify(const std::uint8_t* m, std::size_t length) {
  if (length < 6 || m[0] != kSysExStart) {
    return Kind::Other;
  }
  if (m[1] == kUniversalNonRealTime) {
    return m[3] == kGeneralInformation && m[4] == kIdentityRequestSubId ? Kind::Identity : Kind::Other;
  }
  if (m[1] != kVendorId) {
    return Kind::Other;
  }
  switch (m[4]) {
    case kCmdUpdateMode: return Kind::UpdateMode;
    case kCmdErase: return Kind::Erase;
    case kCmdWriteData: return Kind::Write;
    case kCmdFinish: return Kind::Finish;
    default: return Kind::Other;
  }
}

std::size_t CountLines(const char* path) {
  std::ifstream in(path);
  if (!in) {
    return 0;
  }
  return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

}  // namespace

std::vector<Answer> Times(int count, Answer answer) { return std::vector<Answer>(static_cast<std::size_t>(count), answer); }

std::vector<Answer> Then(std::vector<Answer> first, const std::vector<Answer>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// --- ScriptedPedal ---

ScriptedPedal::ScriptedPedal(midi::LoopbackDriver& driver) : driver_(driver) {
  driver_.SetDeviceHandler(
      [this](std::uint32_t, const std::uint8_t* data, std::size_t length) { OnHostMessage(data, length); });
}

void ScriptedPedal::Script(Kind kind, const std::vector<Answer>& answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_[kind].insert(script_[kind].end(), answers.begin(), answers.end());
}

void ScriptedPedal::SetDefault(Kind kind, Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaults_[kind] = answer;
}

void ScriptedPedal::SetLagging(bool lagging) {
  std::lock_guard<std::mutex> lock(mutex_);
  lagging_ = lagging;
}

void ScriptedPedal::SetSignal(ReplySignal* signal) {
  std::lock_guard<std::mutex> lock(mutex_);
  signal_ = signal;
}

std::vector<HostMessage> ScriptedPedal::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

int ScriptedPedal::Count(Kind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(
      std::count_if(messages_.begin(), messages_.end(), [kind](const HostMessage& m) { return m.kind == kind; }));
}

std::vector<std::uint8_t> ScriptedPedal::Flash(std::int32_t address, std::size_t length) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint8_t> flash(length, 0xFF);
  const std::int64_t end = static_cast<std::int64_t>(address) + static_cast<std::int64_t>(length);
  for (auto it = written_.lower_bound(address); it != written_.end() && it->first < end; ++it) {
    const std::size_t offset = static_cast<std::size_t>(it->first - address);
    const std::size_t count = std::min(it->second.size(), length - offset);
    std::copy_n(it->second.begin(), count, flash.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return flash;
}

void ScriptedPedal::OnHostMessage(const std::uint8_t* data, std::size_t length) {
  const Kind kind = Classify(data, length);
  if (kind == Kind::Other) {
    return;  // the dispatcher's own answers; this pedal never asks for them
  }
  std::lock_guard<std::mutex> lock(mutex_);
  HostMessage message;
  message.kind = kind;
  message.at = std::chrono::steady_clock::now();
  if (kind != Kind::Identity) {
    message.model = data[3];
  }
  if (kind == Kind::Erase && length >= 16) {
    message.address = SevenBitGroups(data + 5, 5);
    message.size = SevenBitGroups(data + 10, 5);
  }
  if (kind == Kind::Write && length >= 18) {
    message.address = SevenBitGroups(data + 5, 5);
    message.size = SevenBitGroups(data + 10, 2);
    written_[message.address] =
        Unpack(data + 12, length - 18, static_cast<std::size_t>(message.size));
  }
  messages_.push_back(message);

  if (owed_) {
    Deliver(owed_->first, owed_->second);
    owed_.reset();
  }
  Answer answer = kind == Kind::Identity ? IdentityReply(kInitialModelId) : Ack();
  if (auto found = defaults_.find(kind); found != defaults_.end()) {
    answer = found->second;
  }
  if (auto& queue = script_[kind]; !queue.empty()) {
    answer = queue.front();
    queue.pop_front();
  }
  // A status answer to the identity request carries the model the host
  // currently follows, or the dispatcher would not take it.
  const std::uint8_t model = kind == Kind::Identity ? ModelId.load() : message.model;
  const bool deliverable = answer.type == Answer::Type::Status || answer.type == Answer::Type::Identity;
  if (lagging_ && deliverable) {
    owed_.emplace(answer, model);
  } else {
    Deliver(answer, model);
  }
}

void ScriptedPedal::Deliver(const Answer& answer, std::uint8_t model) {
  switch (answer.type) {
    case Answer::Type::Status:
      driver_.SendToHost(0, {kSysExStart, kVendorId, 0x00, model, kCmdStatus, answer.value, kSysExEnd});
      return;
    case Answer::Type::Identity:
      driver_.SendToHost(0, {kSysExStart, kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityReplySubId,
                             kVendorId, answer.value, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, kSysExEnd});
      return;
    case Answer::Type::Close:
      if (signal_ != nullptr) {
        signal_->status.store(kStatusAbort);
        signal_->Set();
      }
      return;
    case Answer::Type::Drop:
      return;
  }
}

// --- RecordingObserver ---

void RecordingObserver::SetProgressRange(std::int32_t low, std::int32_t high) {
  Record("range " + std::to_string(low) + " " + std::to_string(high));
}

void RecordingObserver::ShowError(int textNumber) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("error " + std::to_string(textNumber));
  errors_.push_back(textNumber);
  logLinesAtErrors_.push_back(CountLines("TEST_LOG.txt"));
}

void RecordingObserver::Record(std::string call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(std::move(call));
}

std::vector<std::string> RecordingObserver::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> RecordingObserver::Calls(const std::string& prefix) const {
  std::vector<std::string> kept;
  for (const std::string& call : Calls()) {
    if (call.rfind(prefix, 0) == 0) {
      kept.push_back(call);
    }
  }
  return kept;
}

std::vector<int> RecordingObserver::Errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

std::vector<std::size_t> RecordingObserver::LogLinesAtErrors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return logLinesAtErrors_;
}

// --- the log ---

std::vector<std::string> LogTexts() {
  // "YYYY/MM/DD hh:mm:ss" and five blanks come before the text.
  constexpr std::size_t kStampLength = 19 + 5;
  std::vector<std::string> texts;
  std::ifstream in("TEST_LOG.txt");
  for (std::string line; std::getline(in, line);) {
    texts.push_back(line.size() > kStampLength ? line.substr(kStampLength) : "(short line) " + line);
  }
  return texts;
}

LogDirectory::LogDirectory() : previous_(std::filesystem::current_path()) {
  // A fresh directory of our own (create_directory is false for one that exists).
  std::random_device random;
  std::error_code error;
  for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
    const auto candidate = std::filesystem::temp_directory_path() / ("kv-engine-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate, error)) {
      dir_ = candidate;
    }
  }
  if (dir_.empty()) {
    ADD_FAILURE() << "no temporary directory";
    return;
  }
  std::ofstream(dir_ / "TEST_LOG.txt").flush();
  std::filesystem::current_path(dir_);
}

LogDirectory::~LogDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  if (!dir_.empty()) {
    std::filesystem::remove_all(dir_, ignored);
  }
}

// --- PedalRig ---

PedalRig::PedalRig(RigOptions options)
    : engine(out, in, observer, options.times, options.images != nullptr ? *options.images : EmbeddedImages()) {
  pedal.SetSignal(&engine.Signal());
  if (options.openOut) {
    EXPECT_EQ(out.Open(0), 1);
  }
  in.SetDeviceIndex(0);
  EXPECT_EQ(in.Start(), 1);
  // The dispatcher, polled more often than the production 1 ms tick so that
  // whole updates run quickly; it still runs one call at a time.
  poller_ = std::jthread([this](std::stop_token stop) {
    while (!stop.stop_requested()) {
      engine.PollReplies();
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });
}

PedalRig::~PedalRig() {
  poller_.request_stop();
  if (poller_.joinable()) {
    poller_.join();
  }
  ModelId.store(kInitialModelId);
}

std::vector<std::string> LogLines(const std::vector<int>& entries) {
  static const char* const kLogText[] = {
      "Midi out error.",
      "Illegal device connected.",
      "Please use the firmware update mode.",
      "(Erase)Time Out Error.",
      "(CRC)Transfer error occurred.",
      "(Flash Write)Transfer error occurred.",
      "(Write)Time Out Error.",
  };
  std::vector<std::string> texts;
  for (int entry : entries) {
    texts.push_back(kLogText[entry]);
  }
  return texts;
}

}  // namespace kv::scripted
