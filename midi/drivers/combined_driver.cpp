#include "midi/drivers/combined_driver.h"

#include <chrono>
#include <set>
#include <thread>

#include "midi/drivers/device_names.h"

namespace kv::midi {

CombinedDriver::CombinedDriver(std::vector<Member> members) : members_(std::move(members)) {}

CombinedDriver::~CombinedDriver() {
  for (auto& open : inputs_.RemoveAll()) DriverOf(*open).InClose(open->inner);
  for (auto& open : outputs_.RemoveAll()) DriverOf(*open).OutClose(open->inner);
}

std::uint32_t CombinedDriver::Relist(bool output) {
  std::vector<Listed> list;
  std::set<std::string> earlier;  // names listed by the members before this one
  for (std::size_t member = 0; member < members_.size(); ++member) {
    MidiDriver& driver = *members_[member].driver;
    const std::uint32_t count = output ? driver.OutGetNumDevs() : driver.InGetNumDevs();
    std::set<std::string> mine;
    for (std::uint32_t device = 0; device < count; ++device) {
      MidiCaps caps;
      if (output) {
        driver.OutGetDevCaps(device, &caps, kMidiOutCapsSize);
      } else {
        driver.InGetDevCaps(device, &caps, kMidiInCapsSize);
      }
      std::string name(caps.productName);
      mine.insert(name);
      if (earlier.count(name) != 0) name = FitName(name, " [" + members_[member].label + "]");
      list.push_back(Listed{member, device, std::move(name)});
    }
    earlier.insert(mine.begin(), mine.end());
  }
  std::lock_guard lock(listMutex_);
  lists_[output] = std::move(list);
  listed_[output] = true;
  return static_cast<std::uint32_t>(lists_[output].size());
}

bool CombinedDriver::Lookup(bool output, std::uint32_t device, Listed& listed) {
  bool known = false;
  {
    std::lock_guard lock(listMutex_);
    known = listed_[output];
  }
  if (!known) Relist(output);
  std::lock_guard lock(listMutex_);
  if (device >= lists_[output].size()) return false;
  listed = lists_[output][device];
  return true;
}

std::uint32_t CombinedDriver::OutGetNumDevs() { return Relist(true); }

MmResult CombinedDriver::OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t) {
  if (caps == nullptr) return kMmInvalidParam;
  Listed listed;
  if (!Lookup(true, device, listed)) {
    FillCaps(caps, {});
    return kMmBadDeviceId;
  }
  FillCaps(caps, listed.name);
  return kMmNoError;
}

MmResult CombinedDriver::OutOpen(MidiHandle* handle, std::uint32_t device) {
  if (handle == nullptr) return kMmInvalidParam;
  *handle = 0;
  Listed listed;
  if (!Lookup(true, device, listed)) return kMmBadDeviceId;
  auto open = std::make_shared<Open>();
  open->member = listed.member;
  if (const MmResult result = DriverOf(*open).OutOpen(&open->inner, listed.device); result != kMmNoError) {
    return result;
  }
  *handle = outputs_.Add(std::move(open));
  return kMmNoError;
}

MmResult CombinedDriver::OutClose(MidiHandle handle) {
  auto open = outputs_.Remove(handle);
  return open ? DriverOf(*open).OutClose(open->inner) : kMmInvalidHandle;
}

MmResult CombinedDriver::OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  auto open = outputs_.Find(handle);
  return open ? DriverOf(*open).OutPrepareHeader(open->inner, header, headerSize) : kMmInvalidHandle;
}

MmResult CombinedDriver::OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  auto open = outputs_.Find(handle);
  return open ? DriverOf(*open).OutLongMsg(open->inner, header, headerSize) : kMmInvalidHandle;
}

MmResult CombinedDriver::OutUnprepareHeader(MidiHandle handle, MidiHeader* header,
                                            std::uint32_t headerSize) {
  auto open = outputs_.Find(handle);
  return open ? DriverOf(*open).OutUnprepareHeader(open->inner, header, headerSize) : kMmInvalidHandle;
}

std::uint32_t CombinedDriver::InGetNumDevs() { return Relist(false); }

MmResult CombinedDriver::InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t) {
  if (caps == nullptr) return kMmInvalidParam;
  Listed listed;
  if (!Lookup(false, device, listed)) {
    FillCaps(caps, {});
    return kMmBadDeviceId;
  }
  FillCaps(caps, listed.name);
  return kMmNoError;
}

void CombinedDriver::RouteInput(MidiHandle, std::uint32_t message, std::uintptr_t instance,
                                std::uintptr_t param1, std::uintptr_t param2) {
  const auto* open = reinterpret_cast<const Open*>(instance);
  open->callback(open->outer, message, open->instance, param1, param2);
}

MmResult CombinedDriver::InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                                std::uintptr_t instance, std::uint32_t flags) {
  if (handle == nullptr) return kMmInvalidParam;
  *handle = 0;
  if (flags != kCallbackFunction || callback == nullptr) return kMmInvalidParam;
  Listed listed;
  if (!Lookup(false, device, listed)) return kMmBadDeviceId;
  // The routing record lives in the table until the member's InClose has
  // returned, so no routed callback can outlive it.
  auto open = std::make_shared<Open>();
  open->member = listed.member;
  open->outer = inputs_.Reserve();
  open->callback = callback;
  open->instance = instance;
  const MmResult result = DriverOf(*open).InOpen(&open->inner, listed.device, &RouteInput,
                                                 reinterpret_cast<std::uintptr_t>(open.get()), flags);
  if (result != kMmNoError) return result;
  const MidiHandle outer = open->outer;
  inputs_.Put(outer, std::move(open));
  *handle = outer;
  return kMmNoError;
}

MmResult CombinedDriver::InReset(MidiHandle handle) {
  auto open = inputs_.Find(handle);
  return open ? DriverOf(*open).InReset(open->inner) : kMmInvalidHandle;
}

MmResult CombinedDriver::InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  auto open = inputs_.Find(handle);
  return open ? DriverOf(*open).InPrepareHeader(open->inner, header, headerSize) : kMmInvalidHandle;
}

MmResult CombinedDriver::InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  auto open = inputs_.Find(handle);
  return open ? DriverOf(*open).InAddBuffer(open->inner, header, headerSize) : kMmInvalidHandle;
}

MmResult CombinedDriver::InStart(MidiHandle handle) {
  auto open = inputs_.Find(handle);
  return open ? DriverOf(*open).InStart(open->inner) : kMmInvalidHandle;
}

MmResult CombinedDriver::InStop(MidiHandle handle) {
  auto open = inputs_.Find(handle);
  return open ? DriverOf(*open).InStop(open->inner) : kMmInvalidHandle;
}

MmResult CombinedDriver::InUnprepareHeader(MidiHandle handle, MidiHeader* header,
                                           std::uint32_t headerSize) {
  auto open = inputs_.Find(handle);
  return open ? DriverOf(*open).InUnprepareHeader(open->inner, header, headerSize) : kMmInvalidHandle;
}

MmResult CombinedDriver::InClose(MidiHandle handle) {
  auto open = inputs_.Find(handle);
  if (!open) return kMmInvalidHandle;
  const MmResult result = DriverOf(*open).InClose(open->inner);
  // A member that refused the close still holds the device and may still
  // call back: keep the routing record for it.
  if (result == kMmNoError) inputs_.Remove(handle);
  return result;
}

void CombinedDriver::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace kv::midi
