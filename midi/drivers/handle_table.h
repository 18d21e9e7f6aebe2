// Open devices of one driver, known to callers by a small number.
//
// A handle is looked up under a short lock and the device is used through its
// own shared pointer, so a close on one thread never frees a device that a
// call on another thread is still using; a stale or invented handle finds
// nothing instead of touching freed memory.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

template <typename Device>
class HandleTable {
 public:
  MidiHandle Add(std::shared_ptr<Device> device) {
    const MidiHandle handle = Reserve();
    Put(handle, std::move(device));
    return handle;
  }

  // A fresh handle for a device still being opened (its callbacks need it),
  // entered with Put once the open has succeeded.
  MidiHandle Reserve() {
    std::lock_guard lock(mutex_);
    return next_++;
  }
  void Put(MidiHandle handle, std::shared_ptr<Device> device) {
    std::lock_guard lock(mutex_);
    devices_[handle] = std::move(device);
  }

  std::shared_ptr<Device> Find(MidiHandle handle) const {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(handle);
    return it == devices_.end() ? nullptr : it->second;
  }

  // Takes the device out of the table; null when the handle is unknown.
  std::shared_ptr<Device> Remove(MidiHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(handle);
    if (it == devices_.end()) return nullptr;
    std::shared_ptr<Device> device = std::move(it->second);
    devices_.erase(it);
    return device;
  }

  std::vector<std::shared_ptr<Device>> RemoveAll() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Device>> all;
    for (auto& entry : devices_) all.push_back(std::move(entry.second));
    devices_.clear();
    return all;
  }

 private:
  mutable std::mutex mutex_;
  MidiHandle next_ = 1;
  std::map<MidiHandle, std::shared_ptr<Device>> devices_;
};

}  // namespace kv::midi
