// What the pedal sends: one MIDI input device, one lent 8,192-byte buffer,
// and a first-in, first-out queue of the buffers the driver handed back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

constexpr std::uint32_t kInputBufferSize = 8192;

// One handed-back buffer: normally one whole SysEx message, a piece of one
// when the message was longer than the buffer.
struct SysExEntry {
  std::unique_ptr<std::uint8_t[]> data;
  std::uint32_t length = 0;  // 1 to kInputBufferSize
  std::unique_ptr<SysExEntry> next;
};

// The oldest entry as GetFirstMessage shows it; data is null when the queue is empty.
struct SysExView {
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  explicit operator bool() const { return data != nullptr; }
};

class CMidiInPort {
 public:
  explicit CMidiInPort(MidiDriver& driver);
  ~CMidiInPort();
  CMidiInPort(const CMidiInPort&) = delete;
  CMidiInPort& operator=(const CMidiInPort&) = delete;

  std::uint32_t GetDeviceCount();
  // At most 40 characters; an empty name when the driver cannot describe it.
  void GetDeviceName(std::uint32_t index, char* buffer);

  int Start();  // 1 started or already started, 0 failed
  int Close();  // 0 if the port never opened a device, else 1; the queue stays

  // One appender (the driver's callback thread) and one remover (the
  // dispatcher) may use the queue at the same time.
  SysExView GetFirstMessage() const;  // valid until that entry is removed
  void RemoveFirstMessage();

  void SetDeviceIndex(std::uint32_t index);
  std::uint32_t DeviceIndex() const;
  bool IsStarted() const;

  static void InputCallback(MidiHandle handle, std::uint32_t message, std::uintptr_t instance,
                            std::uintptr_t param1, std::uintptr_t param2);

 private:
  // A receive buffer the driver may still hold, with the device it is lent to.
  struct Stranded {
    MidiHandle device = 0;
    std::unique_ptr<MidiHeader> header;
    std::unique_ptr<std::uint8_t[]> buffer;
  };

  void OnLongData(MidiHandle device, MidiHeader* header);
  void Append(std::unique_ptr<SysExEntry> entry);
  // Gives up the open device and the receive buffer after a failed Start.
  void AbandonStart(bool prepared, bool lent);
  void FreeOrPark(bool handedBack);
  void ReleaseStranded();

  MidiDriver& driver_;
  MidiHandle handle = 0;
  std::unique_ptr<MidiHeader> header;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint32_t deviceIndex = 0;
  std::atomic<std::uint32_t> started{0};
  bool everOpened_ = false;
  // Buffers the driver did not hand back (a failed stop, reset or unprepare):
  // never freed under it. Destruction asks once more and, if the driver still
  // holds one, lets that memory go rather than free it.
  std::vector<Stranded> stranded_;

  mutable std::mutex queueMutex_;
  std::unique_ptr<SysExEntry> queueHead;
  SysExEntry* queueTail_ = nullptr;
};

}  // namespace kv::midi
