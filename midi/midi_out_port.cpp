#include "midi/midi_out_port.h"

#include <limits>

#include "midi/device_name.h"
#include "midi/timing.h"

namespace kv::midi {

CMidiOutPort::CMidiOutPort(MidiDriver& driver) : driver_(driver) {}

CMidiOutPort::~CMidiOutPort() {
  Close();
  // A sender still inside SendLong uses this object until its message is
  // done; the driver promises that it will be.
  std::lock_guard<std::mutex> waitForSender(sendMutex_);
}

std::uint32_t CMidiOutPort::GetDeviceCount() { return driver_.OutGetNumDevs(); }

void CMidiOutPort::GetDeviceName(std::uint32_t index, char* buffer) {
  // Zeroed first: a device that vanished since it was counted leaves the
  // record as it was, and then the name is empty.
  MidiCaps caps{};
  driver_.OutGetDevCaps(index, &caps, kMidiOutCapsSize);
  CopyDeviceName(caps, buffer, kDeviceNameBound);
}

int CMidiOutPort::Open(std::uint32_t requested) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (handle != 0 && deviceIndex == requested) {
    return 1;
  }
  if (handle != 0) {
    CloseLocked();
  }
  deviceIndex = requested;
  MidiHandle opened = 0;
  if (driver_.OutOpen(&opened, requested) != kMmNoError || opened == 0) {
    return 0;
  }
  handle = opened;
  return 1;
}

int CMidiOutPort::Close() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return CloseLocked();
}

int CMidiOutPort::CloseLocked() {
  if (handle == 0) {
    return 0;
  }
  const MidiHandle closing = handle;
  handle = 0;
  if (driver_.OutClose(closing) != kMmNoError && sendingOn_ == closing) {
    // Refused because a message is still going out: the sender closes the
    // device once its message is done, so the device is not left open.
    closeOwed_ = closing;
  }
  return 1;
}

int CMidiOutPort::SendLong(const std::uint8_t* data, std::size_t length) {
  if (length > std::numeric_limits<std::uint32_t>::max()) {
    return 0;  // one header cannot describe it; never send a cut message
  }
  std::lock_guard<std::mutex> oneSendAtATime(sendMutex_);
  MidiHandle device = 0;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    device = handle;
    if (device == 0) {
      return 0;
    }
    sendingOn_ = device;
  }

  MidiHeader header;
  header.data = const_cast<std::uint8_t*>(data);  // the driver only reads it
  header.bufferLength = static_cast<std::uint32_t>(length);
  header.flags.store(0, std::memory_order_relaxed);

  int sent = 0;
  if (driver_.OutPrepareHeader(device, &header, kMidiHeaderSize) == kMmNoError) {
    if (driver_.OutLongMsg(device, &header, kMidiHeaderSize) == kMmNoError) {
      while ((header.flags.load(std::memory_order_acquire) & kMidiHeaderDone) == 0) {
        driver_.Sleep(kDoneFlagSleepMs);
      }
      sent = 1;
    }
    driver_.OutUnprepareHeader(device, &header, kMidiHeaderSize);
  }

  bool closeNow = false;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    sendingOn_ = 0;
    if (closeOwed_ == device) {
      closeOwed_ = 0;
      closeNow = true;
    }
  }
  if (closeNow) {
    driver_.OutClose(device);
  }
  return sent;
}

bool CMidiOutPort::IsOpen() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return handle != 0;
}

std::uint32_t CMidiOutPort::DeviceIndex() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return deviceIndex;
}

}  // namespace kv::midi
