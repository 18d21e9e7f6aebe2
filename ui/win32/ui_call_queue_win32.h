// Calls from other threads carried to the dialog's UI thread.
//
// A caller queues its call, nudges the window with a sent (not posted)
// message, so that the UI thread takes it up in any message wait, even in a
// nested modal loop, and waits until the call has run. When the window is
// destroyed every call still queued is cancelled and its caller released: a
// worker never waits on a window that is gone, and a call never runs after
// its caller has given up on it.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kv::win32 {

// The private message that asks the dialog to run the queued calls.
constexpr UINT kMsgRunQueuedCalls = WM_APP + 1;

class UiCallQueue {
 public:
  // The window whose thread runs the calls; until then calls wait.
  void Attach(HWND window);
  // From now on calls are refused; queued ones are cancelled.
  void MarkGone();

  // Any thread but the UI thread: true once `call` has run there, false
  // (without running it) when the window is gone.
  bool Run(const std::function<void()>& call);

  // UI thread, on kMsgRunQueuedCalls: runs every queued call in order.
  void RunQueued();

 private:
  enum class State { kQueued, kRunning, kDone, kCancelled };
  struct Pending {
    const std::function<void()>* call;
    State state = State::kQueued;
  };

  std::mutex mutex_;
  std::condition_variable settled_;
  std::deque<std::shared_ptr<Pending>> queue_;
  HWND window_ = nullptr;
  bool gone_ = false;
};

}  // namespace kv::win32
