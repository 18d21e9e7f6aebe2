// Where the dispatcher, the dialog and the worker meet: a status, the model
// of the last identity reply and an auto-reset event. Writers store the
// fields before they set the event; the worker reads them only after a wait
// has returned.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kv {

constexpr std::int32_t kStatusAbort = 255;

class ReplySignal {
 public:
  std::atomic<std::int32_t> status{0};
  // No identity reply yet: a value outside the accepted models.
  std::atomic<std::uint8_t> detectedModel{0x00};

  void Set();
  void Reset();
  // True only when the event was signalled within `milliseconds`; consumes it.
  bool Wait(std::uint32_t milliseconds);
  void WaitForever();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace kv
