#include "midi/midi_in_port.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "midi/device_name.h"

namespace kv::midi {

namespace {

// Allocation failures are results here, not exceptions.
std::unique_ptr<std::uint8_t[]> AllocateZeroedBytes(std::size_t count) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[count]());
}

std::unique_ptr<std::uint8_t[]> AllocateBytes(std::size_t count) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[count]);
}

std::unique_ptr<MidiHeader> AllocateHeader() {
  return std::unique_ptr<MidiHeader>(new (std::nothrow) MidiHeader());
}

std::unique_ptr<SysExEntry> AllocateEntry() {
  return std::unique_ptr<SysExEntry>(new (std::nothrow) SysExEntry());
}

}  // namespace

CMidiInPort::CMidiInPort(MidiDriver& driver) : driver_(driver) {}

CMidiInPort::~CMidiInPort() {
  Close();
  ReleaseStranded();
  while (GetFirstMessage()) {
    RemoveFirstMessage();
  }
}

std::uint32_t CMidiInPort::GetDeviceCount() { return driver_.InGetNumDevs(); }

void CMidiInPort::GetDeviceName(std::uint32_t index, char* buffer) {
  MidiCaps caps{};  // an empty name if the driver cannot describe the device
  driver_.InGetDevCaps(index, &caps, kMidiInCapsSize);
  CopyDeviceName(caps, buffer, kDeviceNameBound);
}

void CMidiInPort::SetDeviceIndex(std::uint32_t index) { deviceIndex = index; }

std::uint32_t CMidiInPort::DeviceIndex() const { return deviceIndex; }

bool CMidiInPort::IsStarted() const { return started.load() != 0; }

int CMidiInPort::Start() {
  if (started.load() != 0) {
    return 1;
  }
  auto newHeader = AllocateHeader();
  auto newBuffer = AllocateZeroedBytes(kInputBufferSize);
  if (!newHeader || !newBuffer) {
    return 0;
  }
  newHeader->data = newBuffer.get();
  newHeader->bufferLength = kInputBufferSize;

  MidiHandle opened = 0;
  if (driver_.InOpen(&opened, deviceIndex, &CMidiInPort::InputCallback,
                     reinterpret_cast<std::uintptr_t>(this), kCallbackFunction) != kMmNoError ||
      opened == 0) {
    return 0;
  }
  handle = opened;
  everOpened_ = true;
  header = std::move(newHeader);
  buffer_ = std::move(newBuffer);

  if (driver_.InReset(handle) != kMmNoError) {
    AbandonStart(false, false);
    return 0;
  }
  if (driver_.InPrepareHeader(handle, header.get(), kMidiHeaderSize) != kMmNoError) {
    AbandonStart(false, false);
    return 0;
  }
  if (driver_.InAddBuffer(handle, header.get(), kMidiHeaderSize) != kMmNoError) {
    AbandonStart(true, false);
    return 0;
  }
  if (driver_.InStart(handle) != kMmNoError) {
    AbandonStart(true, true);
    return 0;
  }
  started.store(1);
  return 1;
}

void CMidiInPort::AbandonStart(bool prepared, bool lent) {
  // Each step runs only if the one before it succeeded, as in Close: a device
  // that still holds the buffer must not be closed under it.
  MmResult result = kMmNoError;
  if (lent) {
    result = driver_.InReset(handle);
  }
  if (result == kMmNoError && prepared) {
    result = driver_.InUnprepareHeader(handle, header.get(), kMidiHeaderSize);
  }
  const bool handedBack = result == kMmNoError;
  if (handedBack) {
    result = driver_.InClose(handle);
  }
  FreeOrPark(handedBack);
  if (handedBack && result != kMmNoError) {
    stranded_.push_back(Stranded{handle, nullptr, nullptr});
  }
}

int CMidiInPort::Close() {
  if (!everOpened_) {
    return 0;
  }
  if (started.load() != 0) {
    MmResult result = driver_.InStop(handle);
    if (result == kMmNoError) {
      result = driver_.InReset(handle);
    }
    if (result == kMmNoError) {
      result = driver_.InUnprepareHeader(handle, header.get(), kMidiHeaderSize);
    }
    const bool handedBack = result == kMmNoError;
    if (handedBack) {
      result = driver_.InClose(handle);
    }
    FreeOrPark(handedBack);
    if (handedBack && result != kMmNoError) {
      // The buffer is home but the device stayed open: destruction tries again.
      stranded_.push_back(Stranded{handle, nullptr, nullptr});
    }
    started.store(0);
  }
  return 1;
}

void CMidiInPort::FreeOrPark(bool handedBack) {
  if (handedBack) {
    header.reset();
    buffer_.reset();
    return;
  }
  // The driver may still write into the buffer: keep it, with its device.
  stranded_.push_back(Stranded{handle, std::move(header), std::move(buffer_)});
}

void CMidiInPort::ReleaseStranded() {
  for (Stranded& s : stranded_) {
    MmResult result = kMmNoError;
    if (s.header) {
      result = driver_.InReset(s.device);
      if (result == kMmNoError) {
        result = driver_.InUnprepareHeader(s.device, s.header.get(), kMidiHeaderSize);
      }
      if (result != kMmNoError) {
        // Still with the driver: letting this memory go is the lesser harm
        // than freeing it under a driver that may write into it.
        static_cast<void>(s.header.release());
        static_cast<void>(s.buffer.release());
        continue;
      }
    }
    driver_.InClose(s.device);
  }
  stranded_.clear();
}

void CMidiInPort::InputCallback(MidiHandle handle, std::uint32_t message, std::uintptr_t instance,
                                std::uintptr_t param1, std::uintptr_t /*param2: time stamp*/) {
  if (message != kMimLongData || instance == 0) {
    return;  // short messages, open/close and error reports play no part
  }
  reinterpret_cast<CMidiInPort*>(instance)->OnLongData(handle, reinterpret_cast<MidiHeader*>(param1));
}

void CMidiInPort::OnLongData(MidiHandle device, MidiHeader* handedBack) {
  if (handedBack == nullptr) {
    return;
  }
  if ((handedBack->flags.load(std::memory_order_acquire) & kMidiHeaderDone) == 0 ||
      handedBack->bytesRecorded == 0) {
    return;  // nothing arrived: the buffer stays home until the next Start
  }
  // Never trust a count beyond the buffer the driver was lent.
  const std::uint32_t length =
      std::min({handedBack->bytesRecorded, handedBack->bufferLength, kInputBufferSize});
  auto entry = AllocateEntry();
  if (entry) {
    entry->data = AllocateBytes(length);
  }
  if (entry && entry->data) {
    std::memcpy(entry->data.get(), handedBack->data, length);
    entry->length = length;
    Append(std::move(entry));
  }
  // Out of memory loses this message only; the buffer goes back either way so
  // that later messages still arrive.
  driver_.InPrepareHeader(device, handedBack, kMidiHeaderSize);
  driver_.InAddBuffer(device, handedBack, kMidiHeaderSize);
}

void CMidiInPort::Append(std::unique_ptr<SysExEntry> entry) {
  SysExEntry* added = entry.get();
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (queueTail_ == nullptr) {
    queueHead = std::move(entry);
  } else {
    queueTail_->next = std::move(entry);
  }
  queueTail_ = added;
}

SysExView CMidiInPort::GetFirstMessage() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (!queueHead) {
    return {};
  }
  return SysExView{queueHead->data.get(), queueHead->length};
}

void CMidiInPort::RemoveFirstMessage() {
  std::unique_ptr<SysExEntry> removed;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (!queueHead) {
      return;
    }
    removed = std::move(queueHead);
    queueHead = std::move(removed->next);
    if (!queueHead) {
      queueTail_ = nullptr;
    }
  }
  // Freed outside the lock, so the appender never waits on it.
}

}  // namespace kv::midi
