// Calls from a worker thread: they run on the UI thread and have taken
// effect when they return; an error box holds the worker until dismissed;
// once the window is gone a call returns false without running, whether it
// came late or was already queued, and nobody hangs.
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <thread>

#include "tests/qt/qt_test_support.h"
#include "ui/qt/qt_dialog_view.h"

namespace kv {
namespace {

class WorkerCallTest : public testing::Test {
 protected:
  WorkerCallTest()
      : window_(std::make_unique<UpdatorDialogWindow>()), view_(std::make_shared<QtDialogView>(window_.get())) {
    window_->SetCommands(DialogCommands{{}, {}, {}, [this] { ++destroyed_; }});
    window_->show();
  }

  // Runs `work` on a thread of its own; the UI thread keeps its events
  // flowing while it waits for the result.
  template <class Work>
  auto OnWorker(Work work) {
    using Result = decltype(work());
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    auto result = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    return result;
  }

  template <class T>
  static bool Ready(const std::future<T>& f) {
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }

  std::unique_ptr<UpdatorDialogWindow> window_;
  std::shared_ptr<QtDialogView> view_;
  int destroyed_ = 0;
};

TEST_F(WorkerCallTest, CallRunsOnTheUiThreadAndHasTakenEffectWhenItReturns) {
  QThread* const uiThread = QThread::currentThread();
  auto* status = test::ControlOf<QLineEdit>(*window_, control::kStatusField);
  auto result = OnWorker([&] {
    QThread* ranOn = nullptr;
    const bool ok = view_->RunOnUiThread([&] {
      ranOn = QThread::currentThread();
      view_->SetControlText(control::kStatusField, "Erasing Flash memory.");
    });
    // Read on the worker right after the return: the text is there already.
    QString seen;
    view_->RunOnUiThread([&] { seen = status->text(); });
    return std::make_tuple(ok, ranOn, seen);
  });
  ASSERT_TRUE(test::WaitFor([&] { return Ready(result); }));
  const auto [ok, ranOn, seen] = result.get();
  EXPECT_TRUE(ok);
  EXPECT_EQ(ranOn, uiThread);
  EXPECT_EQ(seen, QStringLiteral("Erasing Flash memory."));

  // On the UI thread itself the call runs directly, with no event loop turn.
  bool ran = false;
  EXPECT_TRUE(view_->RunOnUiThread([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST_F(WorkerCallTest, ErrorBoxHoldsTheWorkerUntilDismissed) {
  bool checked = false;
  std::future<bool> shown;
  test::WhenModalShows(window_.get(), [&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Time out error(1)"));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->parentWidget(), window_.get());
    // Events keep flowing for a while; the worker stays blocked.
    QTest::qWait(100);
    EXPECT_FALSE(Ready(shown));
    checked = true;
    box->button(QMessageBox::Ok)->click();
  });
  shown = OnWorker([&] {
    return view_->RunOnUiThread([&] { view_->ShowMessageBox("Time out error(1)", "Error", BoxIcon::kError); });
  });
  ASSERT_TRUE(test::WaitFor([&] { return Ready(shown); }));
  EXPECT_TRUE(checked);
  EXPECT_TRUE(shown.get());
  EXPECT_TRUE(window_->isVisible());
}

// The ways a window can be gone, and whether a call can be waiting in the
// queue at that moment.
TEST_F(WorkerCallTest, QueuedCallIsReleasedUnrunWhenTheWindowGoes) {
  struct Way {
    const char* name;
    std::function<void(std::unique_ptr<UpdatorDialogWindow>&)> end;
  };
  const Way ways[] = {
      {"closed", [](std::unique_ptr<UpdatorDialogWindow>& w) { w->reject(); }},
      {"deleted", [](std::unique_ptr<UpdatorDialogWindow>& w) { w.reset(); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    if (!window_) {
      window_ = std::make_unique<UpdatorDialogWindow>();
      view_ = std::make_shared<QtDialogView>(window_.get());
      window_->show();
    }
    auto gate = window_->Gate();
    std::atomic<bool> ran{false};
    auto result = OnWorker([view = view_, &ran] { return view->RunOnUiThread([&] { ran = true; }); });
    // Without letting the UI thread's events run, wait for the call to queue.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(test::kWaitMs);
    while (gate->QueuedCalls() == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_EQ(gate->QueuedCalls(), 1);
    way.end(window_);
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(test::kWaitMs)), std::future_status::ready);
    EXPECT_FALSE(result.get());
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(gate->QueuedCalls(), 0);

    // Later calls are refused at once, from either thread.
    auto late = OnWorker([view = view_] { return view->RunOnUiThread([] {}); });
    ASSERT_EQ(late.wait_for(std::chrono::milliseconds(test::kWaitMs)), std::future_status::ready);
    EXPECT_FALSE(late.get());
    EXPECT_FALSE(view_->RunOnUiThread([] {}));
    window_.reset();
  }
}

TEST_F(WorkerCallTest, ClosingTheDialogUnderAnErrorBoxClosesTheBoxAndReleasesTheWorker) {
  QPointer<QWidget> box;
  test::WhenModalShows(window_.get(), [&](QWidget* modal) {
    box = modal;
    window_->reject();  // as the window manager's close would
  });
  auto shown = OnWorker([&] {
    return view_->RunOnUiThread([&] { view_->ShowMessageBox("Transfer error occurred.", "Error", BoxIcon::kError); });
  });
  ASSERT_TRUE(test::WaitFor([&] { return Ready(shown); }));
  EXPECT_TRUE(shown.get());  // the box call itself did run
  ASSERT_FALSE(box.isNull() && destroyed_ == 0);
  EXPECT_TRUE(box.isNull() || !box->isVisible());
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(destroyed_, 1);
  EXPECT_FALSE(view_->RunOnUiThread([] {}));
}

// A stream of updates from the worker while the window closes at some point
// in the middle: each call either ran or was refused, the refusals come
// last, and the worker never hangs.
TEST_F(WorkerCallTest, StreamOfCallsEndsCleanlyWhenTheWindowClosesMidway) {
  constexpr int kCalls = 2000;
  std::atomic<int> ranCount{0};
  UpdatorDialogWindow* window = window_.get();
  auto result = OnWorker([view = view_, window, &ranCount] {
    int accepted = 0;
    bool refused = false;
    bool orderBroken = false;
    for (int i = 0; i < kCalls; ++i) {
      char text[32];
      std::snprintf(text, sizeof text, "%d/%d", i, kCalls);
      const bool ok = view->RunOnUiThread([&] {
        view->SetControlText(control::kStepField, text);
        // Somewhere in the middle the window closes, on a later turn of
        // the event loop, while the worker goes on calling.
        if (++ranCount == 50) {
          QTimer::singleShot(0, window, [window] { window->reject(); });
        }
      });
      orderBroken |= ok && refused;
      refused |= !ok;
      accepted += ok ? 1 : 0;
    }
    return std::make_pair(accepted, orderBroken);
  });
  ASSERT_TRUE(test::WaitFor([&] { return Ready(result); }));
  const auto [accepted, orderBroken] = result.get();
  EXPECT_FALSE(orderBroken);
  EXPECT_EQ(accepted, ranCount.load());
  EXPECT_LT(accepted, kCalls);
}

}  // namespace
}  // namespace kv
