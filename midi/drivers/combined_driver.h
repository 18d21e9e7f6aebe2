// Several drivers behind one, in one numbering: the first driver's devices
// first, then the next one's. Handles are the combined driver's own, and the
// input callback sees them too, so a caller never learns which driver
// serves a device.
//
// Names stay as each driver gives them, with one exception: a device whose
// name an earlier driver has already listed (the same pedal reached over two
// services) is shown with the later driver's label, "Name [JACK]", so only
// the first one listed is preselected by its name.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/drivers/handle_table.h"
#include "midi/drivers/midi_driver.h"

namespace kv::midi {

class CombinedDriver final : public MidiDriver {
 public:
  struct Member {
    std::string label;  // shown with names that clash with an earlier member's
    std::unique_ptr<MidiDriver> driver;
  };
  explicit CombinedDriver(std::vector<Member> members);
  ~CombinedDriver() override;
  CombinedDriver(const CombinedDriver&) = delete;
  CombinedDriver& operator=(const CombinedDriver&) = delete;

  std::uint32_t OutGetNumDevs() override;
  MmResult OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) override;
  MmResult OutOpen(MidiHandle* handle, std::uint32_t device) override;
  MmResult OutClose(MidiHandle handle) override;
  MmResult OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;

  std::uint32_t InGetNumDevs() override;
  MmResult InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) override;
  MmResult InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                  std::uintptr_t instance, std::uint32_t flags) override;
  MmResult InReset(MidiHandle handle) override;
  MmResult InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InStart(MidiHandle handle) override;
  MmResult InStop(MidiHandle handle) override;
  MmResult InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InClose(MidiHandle handle) override;

  void Sleep(std::uint32_t milliseconds) override;

 private:
  // One device of the combined list.
  struct Listed {
    std::size_t member = 0;
    std::uint32_t device = 0;  // the member's own number
    std::string name;
  };
  // An open device: which member holds it under which handle, and for an
  // input the caller's callback, which the member's callbacks are routed to.
  struct Open {
    std::size_t member = 0;
    MidiHandle inner = 0;
    MidiHandle outer = 0;
    MidiInCallback callback = nullptr;
    std::uintptr_t instance = 0;
  };
  static void RouteInput(MidiHandle inner, std::uint32_t message, std::uintptr_t instance,
                         std::uintptr_t param1, std::uintptr_t param2);

  std::uint32_t Relist(bool output);
  bool Lookup(bool output, std::uint32_t device, Listed& listed);
  MidiDriver& DriverOf(const Open& open) { return *members_[open.member].driver; }

  std::vector<Member> members_;
  std::mutex listMutex_;
  std::vector<Listed> lists_[2];  // [0] input, [1] output
  bool listed_[2] = {false, false};
  HandleTable<Open> outputs_;
  HandleTable<Open> inputs_;
};

}  // namespace kv::midi
