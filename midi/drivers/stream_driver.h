// The part of a driver that is the same for every byte-stream MIDI service:
// the device lists with their names, the handles, the header rules and the
// lent input buffers. A service adds only how it lists its ports and how it
// opens one for output (a stream that sends a whole message) or for input (a
// stream that feeds a LentBufferInput from a thread of its own).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/drivers/device_names.h"
#include "midi/drivers/handle_table.h"
#include "midi/drivers/lent_buffer_input.h"
#include "midi/drivers/midi_driver.h"

namespace kv::midi {

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Returns once every byte has left: kMmNoError, else the failure.
  virtual MmResult Send(const std::uint8_t* data, std::size_t length) = 0;
  // Ends a Send in progress (it fails) and releases the service's device.
  virtual void Close() = 0;
};

class InputStream {
 public:
  virtual ~InputStream() = default;
  virtual LentBufferInput& Input() = 0;
  // Ends the reader; once it returns, the stream feeds its input no more.
  virtual void Close() = 0;
};

// A port as the service lists it.
struct ListedPort {
  std::string address;  // what the service opens it by
  PortNaming naming;
};

class StreamDriver : public MidiDriver {
 public:
  ~StreamDriver() override;

  std::uint32_t OutGetNumDevs() final;
  MmResult OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) final;
  MmResult OutOpen(MidiHandle* handle, std::uint32_t device) final;
  MmResult OutClose(MidiHandle handle) final;
  MmResult OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) final;
  MmResult OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) final;
  MmResult OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) final;

  std::uint32_t InGetNumDevs() final;
  MmResult InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) final;
  MmResult InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                  std::uintptr_t instance, std::uint32_t flags) final;
  MmResult InReset(MidiHandle handle) final;
  MmResult InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) final;
  MmResult InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) final;
  MmResult InStart(MidiHandle handle) final;
  MmResult InStop(MidiHandle handle) final;
  MmResult InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) final;
  MmResult InClose(MidiHandle handle) final;

  void Sleep(std::uint32_t milliseconds) final;

 protected:
  virtual std::vector<ListedPort> ListPorts(bool output) = 0;
  virtual MmResult OpenOutput(const std::string& address, std::shared_ptr<OutputStream>& stream) = 0;
  // The stream's LentBufferInput is made with (handle, callback, instance).
  virtual MmResult OpenInput(const std::string& address, MidiHandle handle, MidiInCallback callback,
                             std::uintptr_t instance, std::shared_ptr<InputStream>& stream) = 0;

 private:
  struct Entry {
    std::string address;
    std::string name;
  };
  // Lists the ports again and keeps the list, so that numbers given to later
  // calls mean what the last count listed.
  std::uint32_t Relist(bool output);
  void CloseAll();
  bool Lookup(bool output, std::uint32_t device, Entry& entry);
  MmResult GetCaps(bool output, std::uint32_t device, MidiCaps* caps);

  std::mutex listMutex_;
  std::vector<Entry> lists_[2];  // [0] input, [1] output
  bool listed_[2] = {false, false};

  HandleTable<OutputStream> outputs_;
  HandleTable<InputStream> inputs_;
};

}  // namespace kv::midi
