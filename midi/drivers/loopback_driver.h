// In-process virtual MIDI devices. What the host sends on an output device
// goes to a device-side handler; what the device side sends to the host comes
// back through the lent input buffer and the input callback, on the driver's
// own delivery thread, exactly as a platform driver would hand it back. The
// demo and the end-to-end tests attach a simulated pedal here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

class LoopbackDriver : public MidiDriver {
 public:
  // Sees every message the host sends, on the sender's thread, before the
  // message's header is marked done. Several ports sending at once may call
  // it from several threads at once. It may call SendToHost.
  using DeviceHandler =
      std::function<void(std::uint32_t outDevice, const std::uint8_t* data, std::size_t length)>;

  LoopbackDriver(std::vector<std::string> outNames, std::vector<std::string> inNames);
  // One output and one input device with the same name.
  explicit LoopbackDriver(const std::string& name) : LoopbackDriver({name}, {name}) {}
  ~LoopbackDriver() override;
  LoopbackDriver(const LoopbackDriver&) = delete;
  LoopbackDriver& operator=(const LoopbackDriver&) = delete;

  void SetDeviceHandler(DeviceHandler handler);

  // Queues bytes from the device side for input device `inDevice`, to be
  // handed to the host after `delayMs` and never before anything queued
  // earlier. A SysEx message longer than the lent buffer arrives in
  // buffer-sized pieces; bytes that find no buffer lent (input not started,
  // or the buffer not re-armed) are lost, as on a real port. Bytes starting
  // with a status byte other than 0xF0 or 0xF7 (a channel or system message)
  // arrive as a short-message report.
  void SendToHost(std::uint32_t inDevice, const std::uint8_t* data, std::size_t length, std::uint32_t delayMs = 0);
  void SendToHost(std::uint32_t inDevice, const std::vector<std::uint8_t>& bytes, std::uint32_t delayMs = 0) {
    SendToHost(inDevice, bytes.data(), bytes.size(), delayMs);
  }

  // Waits (bounded) until everything queued by SendToHost has been handed
  // back or dropped and no callback runs. False on time-out.
  bool WaitIdle(std::chrono::milliseconds limit = std::chrono::seconds(10));

  // The devices vanish, as when the cable is pulled: they are no longer
  // counted or described, opens and sends fail, queued and later input is
  // lost. Handles already open can still be stopped, reset and closed.
  void Unplug();

  // --- MidiDriver ---
  std::uint32_t OutGetNumDevs() override;
  MmResult OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) override;
  MmResult OutOpen(MidiHandle* handle, std::uint32_t device) override;
  MmResult OutClose(MidiHandle handle) override;
  MmResult OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult OutUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;

  std::uint32_t InGetNumDevs() override;
  MmResult InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t capsSize) override;
  MmResult InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback, std::uintptr_t instance,
                  std::uint32_t flags) override;
  MmResult InReset(MidiHandle handle) override;
  MmResult InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InStart(MidiHandle handle) override;
  MmResult InStop(MidiHandle handle) override;
  MmResult InUnprepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) override;
  MmResult InClose(MidiHandle handle) override;

  void Sleep(std::uint32_t milliseconds) override;

 private:
  using Clock = std::chrono::steady_clock;

  struct InPort {
    std::uint32_t device = 0;
    MidiInCallback callback = nullptr;
    std::uintptr_t instance = 0;
    bool started = false;
    Clock::time_point startTime;
    std::deque<MidiHeader*> lent;
  };
  struct Queued {
    std::uint32_t inDevice = 0;
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
    Clock::time_point due;
  };
  struct Call {
    MidiHandle handle;
    std::uint32_t message;
    std::uintptr_t param1;
    std::uintptr_t param2;
  };

  void DeliveryLoop();
  // Delivers the front of the queue, if it can go now. Called with the lock.
  bool DeliverFront(std::unique_lock<std::mutex>& lock);
  // Runs callbacks of `port` with the lock released, one callback at a time
  // across the driver.
  void RunCallbacks(std::unique_lock<std::mutex>& lock, const InPort& port, const std::vector<Call>& calls);
  // Waits until no callback runs, unless the caller is inside one.
  void WaitForCallbacks(std::unique_lock<std::mutex>& lock);
  InPort* FindStartedInput(std::uint32_t device, MidiHandle* handle);
  static MmResult FillCaps(const std::vector<std::string>& names, std::uint32_t device, MidiCaps* caps,
                           std::uint32_t size, std::uint32_t expected);

  const std::vector<std::string> outNames_;
  const std::vector<std::string> inNames_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool unplugged_ = false;
  bool stopping_ = false;
  MidiHandle nextHandle_ = 1;
  std::map<MidiHandle, std::uint32_t> outs_;  // handle -> output device
  std::map<MidiHandle, InPort> ins_;
  std::deque<Queued> queue_;
  Clock::time_point lastDue_{};
  int callbacksRunning_ = 0;
  std::thread::id callbackThread_;
  std::shared_ptr<const DeviceHandler> handler_;
  std::thread delivery_;
};

}  // namespace kv::midi
