#include "ui/qt/ui_call_gate.h"

#include <QCoreApplication>
#include <QEvent>

#include <condition_variable>
#include <memory>

namespace kv {

namespace {

const QEvent::Type kCallEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// What the waiting caller and the UI thread share for one call.
struct CallState {
  enum class Outcome { kPending, kRan, kDropped };
  std::mutex mutex;
  std::condition_variable changed;
  Outcome outcome = Outcome::kPending;

  void Finish(Outcome result) {
    std::lock_guard<std::mutex> lock(mutex);
    if (outcome == Outcome::kPending) {
      outcome = result;
    }
    changed.notify_all();
  }

  bool Wait() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return outcome != Outcome::kPending; });
    return outcome == Outcome::kRan;
  }
};

class CallEvent final : public QEvent {
 public:
  // `call` belongs to the waiting caller and stays valid until the state is
  // finished, which happens at the latest in this destructor.
  CallEvent(const std::function<void()>* call, std::shared_ptr<CallState> state,
            std::shared_ptr<std::atomic<int>> queued)
      : QEvent(kCallEventType), call_(call), state_(std::move(state)), queued_(std::move(queued)) {
    ++*queued_;
  }
  ~CallEvent() override {
    if (!taken_) {
      --*queued_;
    }
    state_->Finish(CallState::Outcome::kDropped);
  }

  void Run() {
    taken_ = true;
    --*queued_;
    (*call_)();
    state_->Finish(CallState::Outcome::kRan);
  }

 private:
  const std::function<void()>* call_;
  std::shared_ptr<CallState> state_;
  std::shared_ptr<std::atomic<int>> queued_;
  bool taken_ = false;
};

class CallReceiver final : public QObject {
 public:
  CallReceiver(QObject* parent, std::shared_ptr<std::mutex> handOver)
      : QObject(parent), handOver_(std::move(handOver)) {
    setObjectName(QStringLiteral("uiCallReceiver"));
  }

  bool event(QEvent* event) override {
    {
      // Whoever posted the event held this lock while creating it.
      std::lock_guard<std::mutex> lock(*handOver_);
    }
    if (event->type() != kCallEventType) {
      return QObject::event(event);
    }
    static_cast<CallEvent*>(event)->Run();
    return true;
  }

 private:
  const std::shared_ptr<std::mutex> handOver_;
};

}  // namespace

UiCallGate::UiCallGate(QObject* receiverParent)
    : uiThread_(QThread::currentThread()), receiver_(new CallReceiver(receiverParent, mutex_)) {}

bool UiCallGate::Run(const std::function<void()>& call) {
  if (QThread::currentThread() == uiThread_) {
    if (!IsOpen()) {
      return false;
    }
    call();
    return true;
  }
  auto state = std::make_shared<CallState>();
  {
    std::lock_guard<std::mutex> lock(*mutex_);
    if (!open_) {
      return false;
    }
    // Qt takes ownership of the event; it either delivers it or deletes it.
    QCoreApplication::postEvent(receiver_, new CallEvent(&call, state, queued_));
  }
  return state->Wait();
}

void UiCallGate::Close() {
  std::lock_guard<std::mutex> lock(*mutex_);
  if (!open_) {
    return;
  }
  open_ = false;
  // Deleting the queued events releases their callers with "not run".
  QCoreApplication::removePostedEvents(receiver_, kCallEventType);
  receiver_ = nullptr;
}

bool UiCallGate::IsOpen() {
  std::lock_guard<std::mutex> lock(*mutex_);
  return open_;
}

}  // namespace kv
