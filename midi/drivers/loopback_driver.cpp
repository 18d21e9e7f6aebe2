#include "midi/drivers/loopback_driver.h"

#include <algorithm>
#include <cstring>

namespace kv::midi {

LoopbackDriver::LoopbackDriver(std::vector<std::string> outNames, std::vector<std::string> inNames)
    : outNames_(std::move(outNames)), inNames_(std::move(inNames)) {}

LoopbackDriver::~LoopbackDriver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (delivery_.joinable()) {
    delivery_.join();
  }
}

void LoopbackDriver::SetDeviceHandler(DeviceHandler handler) {
  auto shared = std::make_shared<const DeviceHandler>(std::move(handler));
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(shared);
}

void LoopbackDriver::Unplug() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unplugged_ = true;
    queue_.clear();
  }
  changed_.notify_all();
}

MmResult LoopbackDriver::FillCaps(const std::vector<std::string>& names, std::uint32_t device, MidiCaps* caps,
                                  std::uint32_t size, std::uint32_t expected) {
  if (caps == nullptr || size != expected) {
    return kMmInvalidParam;
  }
  if (device >= names.size()) {
    return kMmBadDeviceId;
  }
  const std::size_t length = std::min(names[device].size(), sizeof caps->productName - 1);
  std::memcpy(caps->productName, names[device].data(), length);
  caps->productName[length] = '\0';
  return kMmNoError;
}

void LoopbackDriver::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// --- output ---

std::uint32_t LoopbackDriver::OutGetNumDevs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return unplugged_ ? 0 : static_cast<std::uint32_t>(outNames_.size());
}

MmResult LoopbackDriver::OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (unplugged_) return kMmBadDeviceId;
  return FillCaps(outNames_, device, caps, capsSize, kMidiOutCapsSize);
}

MmResult LoopbackDriver::OutOpen(MidiHandle* handle, std::uint32_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handle == nullptr) return kMmInvalidParam;
  // The all-ones number (a mapper on some platforms) names no device here.
  if (unplugged_ || device >= outNames_.size()) return kMmBadDeviceId;
  *handle = nextHandle_++;
  outs_[*handle] = device;
  return kMmNoError;
}

MmResult LoopbackDriver::OutClose(MidiHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return outs_.erase(handle) == 1 ? kMmNoError : kMmInvalidHandle;
}

MmResult LoopbackDriver::OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (outs_.count(handle) == 0) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize || (header->data == nullptr && header->bufferLength != 0)) {
    return kMmInvalidParam;
  }
  header->flags.fetch_or(kMidiHeaderPrepared);
  return kMmNoError;
}

MmResult LoopbackDriver::OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::uint32_t device = 0;
  std::shared_ptr<const DeviceHandler> handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = outs_.find(handle);
    if (found == outs_.end()) return kMmInvalidHandle;
    if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
    if ((header->flags.load() & kMidiHeaderPrepared) == 0) return kMidiUnprepared;
    if (unplugged_) return kMmNoDriver;
    device = found->second;
    handler = handler_;
    header->flags.fetch_and(~kMidiHeaderDone);
    header->flags.fetch_or(kMidiHeaderInQueue);
  }
  if (handler && *handler) {
    (*handler)(device, header->data, header->bufferLength);
  }
  // Delivered: done before OutLongMsg returns, so a sender's first test of
  // the flag finds it set and never sleeps.
  header->flags.fetch_and(~kMidiHeaderInQueue);
  header->flags.fetch_or(kMidiHeaderDone, std::memory_order_release);
  return kMmNoError;
}

MmResult LoopbackDriver::OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (outs_.count(handle) == 0) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  if ((header->flags.load() & kMidiHeaderInQueue) != 0) return kMidiStillPlaying;
  header->flags.fetch_and(~kMidiHeaderPrepared);
  return kMmNoError;
}

// --- input ---

std::uint32_t LoopbackDriver::InGetNumDevs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return unplugged_ ? 0 : static_cast<std::uint32_t>(inNames_.size());
}

MmResult LoopbackDriver::InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (unplugged_) return kMmBadDeviceId;
  return FillCaps(inNames_, device, caps, capsSize, kMidiInCapsSize);
}

MmResult LoopbackDriver::InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                                std::uintptr_t instance, std::uint32_t flags) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (handle == nullptr || callback == nullptr || flags != kCallbackFunction) return kMmInvalidParam;
  if (unplugged_ || device >= inNames_.size()) return kMmBadDeviceId;
  WaitForCallbacks(lock);
  for (const auto& [open, port] : ins_) {
    if (port.device == device) return kMmAllocated;  // an input device has one owner
  }
  const MidiHandle opened = nextHandle_++;
  InPort& port = ins_[opened];
  port.device = device;
  port.callback = callback;
  port.instance = instance;
  *handle = opened;
  RunCallbacks(lock, port, {Call{opened, kMimOpen, 0, 0}});
  return kMmNoError;
}

MmResult LoopbackDriver::InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ins_.count(handle) == 0) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize || header->data == nullptr || header->bufferLength == 0) {
    return kMmInvalidParam;
  }
  header->flags.fetch_or(kMidiHeaderPrepared);
  return kMmNoError;
}

MmResult LoopbackDriver::InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = ins_.find(handle);
  if (found == ins_.end()) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  const std::uint32_t flags = header->flags.load();
  if ((flags & kMidiHeaderPrepared) == 0) return kMidiUnprepared;
  if ((flags & kMidiHeaderInQueue) != 0) return kMidiStillPlaying;
  header->bytesRecorded = 0;
  header->flags.fetch_and(~kMidiHeaderDone);
  header->flags.fetch_or(kMidiHeaderInQueue);
  found->second.lent.push_back(header);
  return kMmNoError;
}

MmResult LoopbackDriver::InStart(MidiHandle handle) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = ins_.find(handle);
    if (found == ins_.end()) return kMmInvalidHandle;
    found->second.started = true;
    found->second.startTime = Clock::now();
  }
  changed_.notify_all();
  return kMmNoError;
}

MmResult LoopbackDriver::InStop(MidiHandle handle) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto found = ins_.find(handle);
  if (found == ins_.end()) return kMmInvalidHandle;
  // A piece goes into the buffer whole, within one delivery, so once any
  // delivery in progress has finished no buffer is partly filled.
  WaitForCallbacks(lock);
  found->second.started = false;
  return kMmNoError;
}

MmResult LoopbackDriver::InReset(MidiHandle handle) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto found = ins_.find(handle);
  if (found == ins_.end()) return kMmInvalidHandle;
  WaitForCallbacks(lock);
  InPort& port = found->second;
  port.started = false;
  std::vector<Call> calls;
  while (!port.lent.empty()) {
    MidiHeader* header = port.lent.front();
    port.lent.pop_front();
    header->bytesRecorded = 0;
    header->flags.fetch_and(~kMidiHeaderInQueue);
    header->flags.fetch_or(kMidiHeaderDone, std::memory_order_release);
    calls.push_back(Call{handle, kMimLongData, reinterpret_cast<std::uintptr_t>(header), 0});
  }
  RunCallbacks(lock, port, calls);
  return kMmNoError;
}

MmResult LoopbackDriver::InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ins_.count(handle) == 0) return kMmInvalidHandle;
  if (header == nullptr || headerSize != kMidiHeaderSize) return kMmInvalidParam;
  if ((header->flags.load() & kMidiHeaderInQueue) != 0) return kMidiStillPlaying;
  header->flags.fetch_and(~kMidiHeaderPrepared);
  return kMmNoError;
}

MmResult LoopbackDriver::InClose(MidiHandle handle) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto found = ins_.find(handle);
  if (found == ins_.end()) return kMmInvalidHandle;
  WaitForCallbacks(lock);
  if (!found->second.lent.empty()) return kMidiStillPlaying;  // reset first
  const InPort closing = found->second;
  RunCallbacks(lock, closing, {Call{handle, kMimClose, 0, 0}});
  ins_.erase(handle);
  return kMmNoError;
}

// --- device to host ---

void LoopbackDriver::SendToHost(std::uint32_t inDevice, const std::uint8_t* data, std::size_t length,
                                std::uint32_t delayMs) {
  if (data == nullptr || length == 0) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_ || stopping_) {
      return;
    }
    Queued queued;
    queued.inDevice = inDevice;
    queued.bytes.assign(data, data + length);
    queued.due = std::max(Clock::now() + std::chrono::milliseconds(delayMs), lastDue_);
    lastDue_ = queued.due;
    queue_.push_back(std::move(queued));
    if (!delivery_.joinable()) {
      delivery_ = std::thread([this] { DeliveryLoop(); });
    }
  }
  changed_.notify_all();
}

bool LoopbackDriver::WaitIdle(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return queue_.empty() && callbacksRunning_ == 0; });
}

void LoopbackDriver::DeliveryLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (queue_.empty()) {
      changed_.wait(lock);
      continue;
    }
    const Clock::time_point due = queue_.front().due;
    if (Clock::now() < due) {
      changed_.wait_until(lock, due);
      continue;
    }
    if (callbacksRunning_ != 0) {  // a reset on another thread is handing back
      changed_.wait(lock);
      continue;
    }
    DeliverFront(lock);
    changed_.notify_all();
  }
}

LoopbackDriver::InPort* LoopbackDriver::FindStartedInput(std::uint32_t device, MidiHandle* handle) {
  for (auto& [open, port] : ins_) {
    if (port.device == device && port.started) {
      *handle = open;
      return &port;
    }
  }
  return nullptr;
}

bool LoopbackDriver::DeliverFront(std::unique_lock<std::mutex>& lock) {
  Queued& front = queue_.front();
  MidiHandle handle = 0;
  InPort* port = FindStartedInput(front.inDevice, &handle);
  if (port == nullptr) {
    queue_.pop_front();  // nobody listens: lost, as on a real port
    return false;
  }
  const std::uint32_t stamp = static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - port->startTime).count());
  const std::uint8_t status = front.bytes[front.offset];
  if (front.offset == 0 && status >= 0x80 && status != 0xF0 && status != 0xF7) {
    // Not SysEx: reported as a short message, never through the buffer.
    std::uintptr_t packed = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(3, front.bytes.size()); ++i) {
      packed |= static_cast<std::uintptr_t>(front.bytes[i]) << (8 * i);
    }
    queue_.pop_front();
    RunCallbacks(lock, *port, {Call{handle, kMimData, packed, stamp}});
    return true;
  }
  if (port->lent.empty()) {
    queue_.pop_front();  // no buffer to go to: lost, as on a real port
    return false;
  }
  MidiHeader* header = port->lent.front();
  port->lent.pop_front();
  const std::size_t piece = std::min<std::size_t>(front.bytes.size() - front.offset, header->bufferLength);
  std::memcpy(header->data, front.bytes.data() + front.offset, piece);
  header->bytesRecorded = static_cast<std::uint32_t>(piece);
  header->flags.fetch_and(~kMidiHeaderInQueue);
  header->flags.fetch_or(kMidiHeaderDone, std::memory_order_release);
  front.offset += piece;
  if (front.offset == front.bytes.size()) {
    queue_.pop_front();
  }
  RunCallbacks(lock, *port, {Call{handle, kMimLongData, reinterpret_cast<std::uintptr_t>(header), stamp}});
  return true;
}

void LoopbackDriver::WaitForCallbacks(std::unique_lock<std::mutex>& lock) {
  if (callbacksRunning_ != 0 && callbackThread_ == std::this_thread::get_id()) {
    return;  // called from inside a callback: waiting would never end
  }
  changed_.wait(lock, [this] { return callbacksRunning_ == 0; });
}

void LoopbackDriver::RunCallbacks(std::unique_lock<std::mutex>& lock, const InPort& port,
                                  const std::vector<Call>& calls) {
  // Callers have waited for earlier callbacks, with the lock held since.
  if (calls.empty()) {
    return;
  }
  const MidiInCallback callback = port.callback;
  const std::uintptr_t instance = port.instance;
  ++callbacksRunning_;
  callbackThread_ = std::this_thread::get_id();
  lock.unlock();
  for (const Call& call : calls) {
    callback(call.handle, call.message, instance, call.param1, call.param2);
  }
  lock.lock();
  if (--callbacksRunning_ == 0) {
    callbackThread_ = std::thread::id();
  }
  changed_.notify_all();
}

}  // namespace kv::midi
