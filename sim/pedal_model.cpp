#include "sim/pedal_model.h"

#include <utility>

#include "engine/sysex.h"
#include "sim/message_decoding.h"

namespace kv::sim {

namespace {

constexpr std::uint8_t kStatusOk = 0;
constexpr std::uint8_t kStatusRejected = 1;
constexpr std::uint8_t kStatusFlashWrite = 3;
constexpr std::uint8_t kStatusCorrupted = 8;
constexpr std::uint8_t kStatusNotInUpdateMode = 11;

constexpr std::size_t kMinVendorLength = 6;  // F0 52 device model command F7

}  // namespace

PedalModel::PedalModel(Scenario scenario, Sink toHost, Tap tap)
    : scenario_(std::move(scenario)), toHost_(std::move(toHost)), tap_(std::move(tap)) {}

void PedalModel::Receive(const std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(mutex_);
  if (tap_) {
    tap_(Direction::kHost, data, length);
  }
  if (scenario_.silent) {
    return;
  }
  if (length < kMinVendorLength || data[0] != kSysExStart || data[length - 1] != kSysExEnd) {
    ++counters_.ignored;
    return;
  }
  if (data[1] == kVendorId) {
    HandleVendor(data, length);
  } else if (data[1] == kUniversalNonRealTime) {
    HandleUniversal(data, length);
  } else {
    ++counters_.ignored;
  }
}

void PedalModel::HandleUniversal(const std::uint8_t* m, std::size_t length) {
  if (m[3] != kGeneralInformation) {
    ++counters_.ignored;
    return;
  }
  if (m[4] == kIdentityRequestSubId && length == kIdentityRequestLength) {
    ++counters_.identityRequests;
    // Family code = model, member 0, software revision "0100".
    const std::uint8_t reply[] = {kSysExStart,     kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityReplySubId,
                                  kVendorId,       scenario_.model,       0x00, 0x00,                0x00,
                                  '0',             '1',                   '0',  '0',                 kSysExEnd};
    Reply(reply, sizeof reply);
  } else if (m[4] == kIdentityReplySubId) {
    hostAnswers_.emplace_back(m, m + length);
  } else {
    ++counters_.ignored;
  }
}

void PedalModel::HandleVendor(const std::uint8_t* m, std::size_t length) {
  if (m[3] != scenario_.model) {
    ++counters_.ignored;
    return;
  }
  switch (m[4]) {
    case kCmdStatus:
      hostAnswers_.emplace_back(m, m + length);
      return;  // never answered, or the two sides would ping-pong
    case kCmdUpdateMode:
      ++counters_.updateModeRequests;
      if (length != kModeRequestLength) {
        ReplyStatus(kStatusRejected);
        return;
      }
      StartRun();
      inUpdateMode_ = scenario_.updateModeStatus == kStatusOk;
      ReplyStatus(scenario_.updateModeStatus);
      return;
    case kCmdErase:
      HandleErase(m, length);
      return;
    case kCmdWriteData:
      HandleWrite(m, length);
      return;
    case kCmdFinish:
      ++counters_.finishRequests;
      inUpdateMode_ = false;
      if (!scenario_.noFinishReply) {
        ReplyStatus(kStatusOk);
      }
      return;
    default:
      ReplyStatus(kStatusRejected);
      return;
  }
}

void PedalModel::HandleErase(const std::uint8_t* m, std::size_t length) {
  ++counters_.eraseRequests;
  EraseRequest request;
  if (DecodeEraseRequest(m, length, request) != DecodeResult::kOk) {
    ReplyStatus(kStatusRejected);
    return;
  }
  if (!inUpdateMode_) {
    ReplyStatus(kStatusNotInUpdateMode);
    return;
  }
  const std::pair<std::uint32_t, std::uint32_t> region{request.address, request.size};
  if (lastErase_ != region) {
    eraseIndex_ = nextEraseIndex_++;
    lastErase_ = region;
  }
  std::uint8_t status = 0;
  switch (TakeFault(eraseFaults_, eraseIndex_, status)) {
    case FaultAction::kDrop:
      return;
    case FaultAction::kStatus:
      ReplyStatus(status);
      return;
    case FaultAction::kNone:
      break;
  }
  ReplyStatus(flash_.Erase(request.address, request.size) ? kStatusOk : kStatusFlashWrite);
}

void PedalModel::HandleWrite(const std::uint8_t* m, std::size_t length) {
  ++counters_.writeMessages;
  if (!inUpdateMode_) {
    ReplyStatus(kStatusNotInUpdateMode);
    return;
  }
  WriteData chunk;
  if (DecodeWriteData(m, length, chunk) != DecodeResult::kOk) {
    ReplyStatus(kStatusCorrupted);
    return;
  }
  if (lastWriteAddress_ != chunk.address) {
    chunkIndex_ = nextChunkIndex_++;
    lastWriteAddress_ = chunk.address;
  }
  std::uint8_t status = 0;
  switch (TakeFault(chunkFaults_, chunkIndex_, status)) {
    case FaultAction::kDrop:
      return;
    case FaultAction::kStatus:
      ReplyStatus(status);
      return;
    case FaultAction::kNone:
      break;
  }
  if (Crc32(chunk.data.data(), chunk.data.size()) != chunk.crc) {
    ReplyStatus(kStatusCorrupted);
    return;
  }
  if (flash_.Program(chunk.address, chunk.data.data(), chunk.data.size()) != ProgramResult::kOk) {
    ReplyStatus(kStatusFlashWrite);
    return;
  }
  ++counters_.chunksProgrammed;
  ReplyStatus(kStatusOk);
}

void PedalModel::StartRun() {
  chunkFaults_.clear();
  eraseFaults_.clear();
  for (const Fault& fault : scenario_.chunkFaults) {
    chunkFaults_[fault.index].push_back(fault);
  }
  for (const Fault& fault : scenario_.eraseFaults) {
    eraseFaults_[fault.index].push_back(fault);
  }
  nextChunkIndex_ = 0;
  chunkIndex_ = 0;
  lastWriteAddress_.reset();
  nextEraseIndex_ = 0;
  eraseIndex_ = 0;
  lastErase_.reset();
}

PedalModel::FaultAction PedalModel::TakeFault(FaultQueues& queues, std::uint32_t index, std::uint8_t& status) {
  const auto found = queues.find(index);
  if (found == queues.end() || found->second.empty()) {
    return FaultAction::kNone;
  }
  Fault& fault = found->second.front();
  const FaultAction action = fault.drop ? FaultAction::kDrop : FaultAction::kStatus;
  status = fault.status;
  if (fault.count != kForever && --fault.count == 0) {
    found->second.erase(found->second.begin());
  }
  return action;
}

void PedalModel::Reply(const std::uint8_t* data, std::size_t length) {
  if (tap_) {
    tap_(Direction::kPedal, data, length);
  }
  if (toHost_) {
    toHost_(data, length);
  }
}

void PedalModel::ReplyStatus(std::uint8_t code) {
  const std::uint8_t message[kStatusMessageLength] = {kSysExStart, kVendorId, 0x00, scenario_.model,
                                                      kCmdStatus,  code,      kSysExEnd};
  Reply(message, sizeof message);
}

void PedalModel::SendIdentityRequest() {
  const std::uint8_t request[kIdentityRequestLength] = {kSysExStart,         kUniversalNonRealTime, 0x7F,
                                                        kGeneralInformation, kIdentityRequestSubId, kSysExEnd};
  std::lock_guard lock(mutex_);
  Reply(request, sizeof request);
}

void PedalModel::SendVendorCommand(std::uint8_t command, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> message{kSysExStart, kVendorId, 0x00, scenario_.model, command};
  message.insert(message.end(), payload.begin(), payload.end());
  message.push_back(kSysExEnd);
  std::lock_guard lock(mutex_);
  Reply(message.data(), message.size());
}

void PedalModel::SendRaw(std::span<const std::uint8_t> message) {
  std::lock_guard lock(mutex_);
  Reply(message.data(), message.size());
}

std::vector<std::vector<std::uint8_t>> PedalModel::HostAnswers() const {
  std::lock_guard lock(mutex_);
  return hostAnswers_;
}

PedalCounters PedalModel::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

bool PedalModel::InUpdateMode() const {
  std::lock_guard lock(mutex_);
  return inUpdateMode_;
}

std::vector<std::uint8_t> PedalModel::ReadFlash(std::uint32_t address, std::uint32_t size) const {
  std::lock_guard lock(mutex_);
  if (static_cast<std::uint64_t>(address) + size > kFlashSize) {
    return {};
  }
  return std::vector<std::uint8_t>(flash_.Data() + address, flash_.Data() + address + size);
}

VerifyResult PedalModel::Verify(const ImageSource& images) const {
  std::lock_guard lock(mutex_);
  return VerifyFlash(flash_, images);
}

}  // namespace kv::sim
