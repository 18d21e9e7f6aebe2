#include "ui/win32/ui_call_queue_win32.h"

namespace kv::win32 {

void UiCallQueue::Attach(HWND window) {
  std::lock_guard<std::mutex> lock(mutex_);
  window_ = window;
}

void UiCallQueue::MarkGone() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
    window_ = nullptr;
    for (const auto& pending : queue_) {
      pending->state = State::kCancelled;
    }
    queue_.clear();
  }
  settled_.notify_all();
}

bool UiCallQueue::Run(const std::function<void()>& call) {
  auto pending = std::make_shared<Pending>();
  pending->call = &call;
  HWND window = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_ || window_ == nullptr) {
      return false;
    }
    window = window_;
    queue_.push_back(pending);
  }
  if (!SendNotifyMessageA(window, kMsgRunQueuedCalls, 0, 0)) {
    // The nudge did not arrive; unless the UI thread has taken the call up
    // meanwhile (a nudge of another caller), withdraw it.
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending->state == State::kQueued) {
      for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (*it == pending) {
          queue_.erase(it);
          break;
        }
      }
      return false;
    }
  }
  std::unique_lock<std::mutex> lock(mutex_);
  settled_.wait(lock, [&] { return pending->state == State::kDone || pending->state == State::kCancelled; });
  return pending->state == State::kDone;
}

void UiCallQueue::RunQueued() {
  for (;;) {
    std::shared_ptr<Pending> next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) {
        return;
      }
      next = queue_.front();
      queue_.pop_front();
      next->state = State::kRunning;
    }
    // Its caller waits, so the call it points to is alive; the call may run a
    // nested modal loop, in which the window can even be destroyed.
    (*next->call)();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      next->state = State::kDone;
    }
    settled_.notify_all();
  }
}

}  // namespace kv::win32
