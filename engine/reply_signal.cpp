#include "engine/reply_signal.h"

#include <chrono>

namespace kv {

void ReplySignal::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void ReplySignal::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool ReplySignal::Wait(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  // wait_for measures on the steady clock, so a change of the wall clock
  // neither shortens nor stretches the wait.
  if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return signalled_; })) {
    return false;
  }
  signalled_ = false;  // auto-reset: one signal answers one wait
  return true;
}

void ReplySignal::WaitForever() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return signalled_; });
  signalled_ = false;
}

}  // namespace kv
