// Runs calls from any thread on the UI thread and waits for them, for as long
// as the window is open.
//
// A call from another thread is posted to a receiver on the UI thread as an
// event that carries a shared completion state; the caller sleeps on that
// state until the event has either run the call or been discarded. Closing
// the gate (when the window goes) refuses new calls and discards the posted
// ones, and a posted event that Qt itself throws away (its receiver deleted,
// the application ended) reports "not run" from its destructor. So a caller
// is always released, and learns whether its call took effect.
#pragma once

#include <QObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace kv {

class UiCallGate {
 public:
  // On the UI thread; `receiverParent` (the window) owns the receiver.
  explicit UiCallGate(QObject* receiverParent);
  UiCallGate(const UiCallGate&) = delete;
  UiCallGate& operator=(const UiCallGate&) = delete;

  // Any thread. Runs `call` on the UI thread (directly when already there)
  // and returns true once it has run; returns false without running it when
  // the gate is closed or closes before the call's turn comes.
  bool Run(const std::function<void()>& call);

  // UI thread. From now on Run refuses; calls still queued are released
  // unrun. A call that is running already (a modal box) finishes normally.
  void Close();

  bool IsOpen();

  // Calls posted and neither run nor released yet.
  int QueuedCalls() const { return queued_->load(); }

 private:
  QThread* const uiThread_;
  // Held while a call is posted, and taken by the receiver before it reads
  // one: the hand-over is then ordered by our own lock too, not only by the
  // event queue's, which race detectors cannot see inside the library.
  const std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
  bool open_ = true;
  QObject* receiver_ = nullptr;  // valid while open_: the window closes us before it dies
  std::shared_ptr<std::atomic<int>> queued_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace kv
