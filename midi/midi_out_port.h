// The host's only path to the pedal: one MIDI output device, whole SysEx
// messages handed to the driver, each send returning once the driver is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

class CMidiOutPort {
 public:
  explicit CMidiOutPort(MidiDriver& driver);
  ~CMidiOutPort();
  CMidiOutPort(const CMidiOutPort&) = delete;
  CMidiOutPort& operator=(const CMidiOutPort&) = delete;

  std::uint32_t GetDeviceCount();
  // Writes at most 40 characters, terminator included, into `buffer`; an
  // empty name when the driver cannot describe the device.
  void GetDeviceName(std::uint32_t index, char* buffer);

  int Open(std::uint32_t deviceIndex);  // 1 opened or already open on it, 0 failed
  int Close();                          // 1 if a device was open, else 0
  // Blocks until the driver marks the message done. 1 sent, 0 not sent.
  // Safe from several threads at once: the messages go out one after the
  // other, each whole. The bytes must stay valid until it returns.
  int SendLong(const std::uint8_t* data, std::size_t length);

  bool IsOpen() const;
  std::uint32_t DeviceIndex() const;

 private:
  int CloseLocked();

  MidiDriver& driver_;
  // `handle` and `deviceIndex` change on the UI thread while senders on other
  // threads read them; sendMutex_ keeps two senders' messages apart. Close
  // never takes sendMutex_, so it does not wait for a send in progress.
  mutable std::mutex stateMutex_;
  MidiHandle handle = 0;
  std::uint32_t deviceIndex = 0;
  // The device a send is using, and a close the driver refused because that
  // send was still in progress: the sender closes it once its message is done.
  MidiHandle sendingOn_ = 0;
  MidiHandle closeOwed_ = 0;
  std::mutex sendMutex_;
};

}  // namespace kv::midi
