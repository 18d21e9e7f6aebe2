#include "midi/drivers/recording_driver.h"

#include <algorithm>
#include <cstring>

namespace kv::midi {

const char* RecordingDriver::Name(Op op) {
  switch (op) {
    case Op::OutGetNumDevs: return "OutGetNumDevs";
    case Op::OutGetDevCaps: return "OutGetDevCaps";
    case Op::OutOpen: return "OutOpen";
    case Op::OutClose: return "OutClose";
    case Op::OutPrepareHeader: return "OutPrepareHeader";
    case Op::OutLongMsg: return "OutLongMsg";
    case Op::OutUnprepareHeader: return "OutUnprepareHeader";
    case Op::InGetNumDevs: return "InGetNumDevs";
    case Op::InGetDevCaps: return "InGetDevCaps";
    case Op::InOpen: return "InOpen";
    case Op::InReset: return "InReset";
    case Op::InPrepareHeader: return "InPrepareHeader";
    case Op::InAddBuffer: return "InAddBuffer";
    case Op::InStart: return "InStart";
    case Op::InStop: return "InStop";
    case Op::InUnprepareHeader: return "InUnprepareHeader";
    case Op::InClose: return "InClose";
    case Op::Sleep: return "Sleep";
  }
  return "?";
}

RecordingDriver::RecordingDriver(std::vector<std::string> outNames, std::vector<std::string> inNames)
    : outNames_(std::move(outNames)), inNames_(std::move(inNames)) {}

std::optional<MmResult> RecordingDriver::Enter(Op op) {
  calls_.push_back(op);
  auto found = failures_.find(op);
  if (found == failures_.end()) {
    return std::nullopt;
  }
  return found->second;
}

void RecordingDriver::Fail(Op op, MmResult result) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[op] = result;
}

void RecordingDriver::ClearFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.clear();
}

void RecordingDriver::SetCompletion(Completion completion, int sleeps) {
  std::lock_guard<std::mutex> lock(mutex_);
  completion_ = completion;
  completionSleeps_ = sleeps;
}

void RecordingDriver::SetBytesOnStop(std::vector<std::uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  bytesOnStop_ = std::move(bytes);
  handBackOnStop_ = true;
}

// --- output ---

std::uint32_t RecordingDriver::OutGetNumDevs() {
  std::lock_guard<std::mutex> lock(mutex_);
  Enter(Op::OutGetNumDevs);
  return static_cast<std::uint32_t>(outNames_.size());
}

MmResult RecordingDriver::Caps(const std::vector<std::string>& names, std::uint32_t device, MidiCaps* caps,
                               std::uint32_t size, std::uint32_t expectedSize) {
  if (caps == nullptr || size != expectedSize) {
    return kMmInvalidParam;
  }
  if (device >= names.size()) {
    return kMmBadDeviceId;
  }
  const std::string& name = names[device];
  const std::size_t length = std::min(name.size(), sizeof caps->productName);
  std::memcpy(caps->productName, name.data(), length);
  if (length < sizeof caps->productName) {
    caps->productName[length] = '\0';
  }
  return kMmNoError;
}

MmResult RecordingDriver::OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::OutGetDevCaps)) return *failure;
  return Caps(outNames_, device, caps, capsSize, kMidiOutCapsSize);
}

MmResult RecordingDriver::OutOpen(MidiHandle* handle, std::uint32_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  lastOutDevice_ = device;
  if (auto failure = Enter(Op::OutOpen)) return *failure;
  if (handle == nullptr) return kMmInvalidParam;
  if (device >= outNames_.size()) return kMmBadDeviceId;
  *handle = nextHandle_++;
  outOpen_.insert(*handle);
  return kMmNoError;
}

MmResult RecordingDriver::OutClose(MidiHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::OutClose)) return *failure;
  if (outOpen_.count(handle) == 0) return kMmInvalidHandle;
  for (const Pending& p : pending_) {
    if (p.handle == handle) return kMidiStillPlaying;
  }
  outOpen_.erase(handle);
  return kMmNoError;
}

MmResult RecordingDriver::OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (header != nullptr) {
    lastOutPrepared_ = SeenHeader{header->data, header->bufferLength, header->flags.load()};
  }
  if (auto failure = Enter(Op::OutPrepareHeader)) return *failure;
  if (outOpen_.count(handle) == 0) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  header->flags.fetch_or(kMidiHeaderPrepared);
  outPrepared_.insert(header);
  return kMmNoError;
}

MmResult RecordingDriver::OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::OutLongMsg)) return *failure;
  if (outOpen_.count(handle) == 0) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  if (outPrepared_.count(header) == 0) return kMidiUnprepared;
  sent_.emplace_back(header->data, header->data + header->bufferLength);
  header->flags.fetch_and(~kMidiHeaderDone);
  if (completion_ == Completion::Immediately ||
      (completion_ == Completion::AfterSleeps && completionSleeps_ == 0)) {
    header->flags.fetch_or(kMidiHeaderDone);
    return kMmNoError;
  }
  header->flags.fetch_or(kMidiHeaderInQueue);
  pending_.push_back(Pending{handle, header, completionSleeps_});
  maxPending_ = std::max(maxPending_, static_cast<int>(pending_.size()));
  pendingChanged_.notify_all();
  return kMmNoError;
}

MmResult RecordingDriver::OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::OutUnprepareHeader)) return *failure;
  if (outOpen_.count(handle) == 0) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  for (const Pending& p : pending_) {
    if (p.header == header) return kMidiStillPlaying;
  }
  header->flags.fetch_and(~kMidiHeaderPrepared);
  outPrepared_.erase(header);
  return kMmNoError;
}

void RecordingDriver::Sleep(std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  Enter(Op::Sleep);
  sleepArgs_.push_back(milliseconds);
  if (completion_ != Completion::AfterSleeps) {
    return;
  }
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (--it->sleepsLeft <= 0) {
      it->header->flags.fetch_and(~kMidiHeaderInQueue);
      it->header->flags.fetch_or(kMidiHeaderDone, std::memory_order_release);
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  pendingChanged_.notify_all();
}

bool RecordingDriver::WaitForPendingOutput(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return pendingChanged_.wait_for(lock, limit, [this] { return !pending_.empty(); });
}

bool RecordingDriver::CompletePendingOutput() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.empty()) {
    return false;
  }
  MidiHeader* header = pending_.front().header;
  pending_.pop_front();
  header->flags.fetch_and(~kMidiHeaderInQueue);
  header->flags.fetch_or(kMidiHeaderDone, std::memory_order_release);
  pendingChanged_.notify_all();
  return true;
}

// --- input ---

std::uint32_t RecordingDriver::InGetNumDevs() {
  std::lock_guard<std::mutex> lock(mutex_);
  Enter(Op::InGetNumDevs);
  return static_cast<std::uint32_t>(inNames_.size());
}

MmResult RecordingDriver::InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::InGetDevCaps)) return *failure;
  return Caps(inNames_, device, caps, capsSize, kMidiInCapsSize);
}

MmResult RecordingDriver::InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                                 std::uintptr_t instance, std::uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  lastInDevice_ = device;
  lastInFlags_ = flags;
  lastInInstance_ = instance;
  if (auto failure = Enter(Op::InOpen)) return *failure;
  if (handle == nullptr || callback == nullptr || flags != kCallbackFunction) return kMmInvalidParam;
  if (device >= inNames_.size()) return kMmBadDeviceId;
  *handle = nextHandle_++;
  inOpen_[*handle] = InDevice{callback, instance, {}};
  lastInHandle_ = *handle;
  return kMmNoError;
}

MidiHeader* RecordingDriver::TakeLent(InDevice& device) {
  if (device.lent.empty()) {
    return nullptr;
  }
  MidiHeader* header = device.lent.front();
  device.lent.pop_front();
  header->flags.fetch_and(~kMidiHeaderInQueue);
  return header;
}

void RecordingDriver::Deliver(MidiHandle handle, std::uint32_t message, std::uintptr_t param1) {
  MidiInCallback callback = nullptr;
  std::uintptr_t instance = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = inOpen_.find(handle);
    if (found == inOpen_.end()) return;
    callback = found->second.callback;
    instance = found->second.instance;
  }
  callback(handle, message, instance, param1, 0);
}

MmResult RecordingDriver::InReset(MidiHandle handle) {
  std::vector<MidiHeader*> handedBack;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto failure = Enter(Op::InReset)) return *failure;
    auto found = inOpen_.find(handle);
    if (found == inOpen_.end()) return kMmInvalidHandle;
    while (MidiHeader* header = TakeLent(found->second)) {
      header->bytesRecorded = 0;
      header->flags.fetch_or(kMidiHeaderDone);
      handedBack.push_back(header);
    }
  }
  for (MidiHeader* header : handedBack) {
    Deliver(handle, kMimLongData, reinterpret_cast<std::uintptr_t>(header));
  }
  return kMmNoError;
}

MmResult RecordingDriver::InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::InPrepareHeader)) return *failure;
  if (inOpen_.count(handle) == 0) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize || header->data == nullptr) return kMmInvalidParam;
  header->flags.fetch_or(kMidiHeaderPrepared);
  inPrepared_.insert(header);
  return kMmNoError;
}

MmResult RecordingDriver::InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::InAddBuffer)) return *failure;
  auto found = inOpen_.find(handle);
  if (found == inOpen_.end()) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  if (inPrepared_.count(header) == 0) return kMidiUnprepared;
  if (std::find(found->second.lent.begin(), found->second.lent.end(), header) != found->second.lent.end()) {
    return kMidiStillPlaying;
  }
  header->flags.fetch_and(~kMidiHeaderDone);
  header->flags.fetch_or(kMidiHeaderInQueue);
  header->bytesRecorded = 0;
  found->second.lent.push_back(header);
  return kMmNoError;
}

MmResult RecordingDriver::InStart(MidiHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::InStart)) return *failure;
  return inOpen_.count(handle) != 0 ? kMmNoError : kMmInvalidHandle;
}

MmResult RecordingDriver::InStop(MidiHandle handle) {
  MidiHeader* partly = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto failure = Enter(Op::InStop)) return *failure;
    auto found = inOpen_.find(handle);
    if (found == inOpen_.end()) return kMmInvalidHandle;
    if (handBackOnStop_ && !bytesOnStop_.empty() && !found->second.lent.empty()) {
      partly = TakeLent(found->second);
      const std::size_t n = std::min<std::size_t>(bytesOnStop_.size(), partly->bufferLength);
      std::memcpy(partly->data, bytesOnStop_.data(), n);
      partly->bytesRecorded = static_cast<std::uint32_t>(n);
      partly->flags.fetch_or(kMidiHeaderDone);
      handBackOnStop_ = false;
    }
  }
  if (partly != nullptr) {
    Deliver(handle, kMimLongData, reinterpret_cast<std::uintptr_t>(partly));
  }
  return kMmNoError;
}

MmResult RecordingDriver::InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::InUnprepareHeader)) return *failure;
  auto found = inOpen_.find(handle);
  if (found == inOpen_.end()) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  const auto& lent = found->second.lent;
  if (std::find(lent.begin(), lent.end(), header) != lent.end()) return kMidiStillPlaying;
  header->flags.fetch_and(~kMidiHeaderPrepared);
  inPrepared_.erase(header);
  return kMmNoError;
}

MmResult RecordingDriver::InClose(MidiHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto failure = Enter(Op::InClose)) return *failure;
  auto found = inOpen_.find(handle);
  if (found == inOpen_.end()) return kMmInvalidHandle;
  if (!found->second.lent.empty()) return kMidiStillPlaying;
  inOpen_.erase(found);
  return kMmNoError;
}

bool RecordingDriver::HandBack(const std::vector<std::uint8_t>& bytes, std::optional<std::uint32_t> recorded,
                               bool done) {
  MidiHandle handle = 0;
  MidiHeader* header = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = inOpen_.find(lastInHandle_);
    if (found == inOpen_.end()) return false;
    handle = found->first;
    header = TakeLent(found->second);
    if (header == nullptr) return false;
    const std::size_t n = std::min<std::size_t>(bytes.size(), header->bufferLength);
    if (n > 0) std::memcpy(header->data, bytes.data(), n);
    header->bytesRecorded = recorded ? *recorded : static_cast<std::uint32_t>(n);
    if (done) header->flags.fetch_or(kMidiHeaderDone, std::memory_order_release);
  }
  Deliver(handle, kMimLongData, reinterpret_cast<std::uintptr_t>(header));
  return true;
}

bool RecordingDriver::Report(std::uint32_t message, std::uintptr_t param1, std::uintptr_t /*param2*/) {
  MidiHandle handle = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (inOpen_.count(lastInHandle_) == 0) return false;
    handle = lastInHandle_;
  }
  Deliver(handle, message, param1);
  return true;
}

// --- observing ---

int RecordingDriver::Count(Op op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count(calls_.begin(), calls_.end(), op));
}

int RecordingDriver::TotalCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(calls_.size());
}

std::vector<RecordingDriver::Op> RecordingDriver::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

void RecordingDriver::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
  sleepArgs_.clear();
}

std::vector<std::vector<std::uint8_t>> RecordingDriver::SentMessages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

std::vector<std::uint32_t> RecordingDriver::SleepArguments() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleepArgs_;
}

MidiHeader* RecordingDriver::LentHeader() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, device] : inOpen_) {
    if (!device.lent.empty()) return device.lent.front();
  }
  return nullptr;
}

int RecordingDriver::OpenOutDevices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(outOpen_.size());
}

int RecordingDriver::OpenInDevices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(inOpen_.size());
}

int RecordingDriver::PreparedOutHeaders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(outPrepared_.size());
}

int RecordingDriver::PreparedInHeaders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(inPrepared_.size());
}

}  // namespace kv::midi
