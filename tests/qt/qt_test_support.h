// Shared by the Qt tests: a QApplication for the whole run (see
// qt_test_main.cpp), bounded waits that keep the UI thread's events flowing,
// and the modal box a worker is blocked on.
#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

#include "ui/qt/control_styles.h"
#include "ui/qt/updator_dialog_window.h"

namespace kv::test {

// Generous: a deadlock fails the test program by its ctest TIMEOUT long
// before this matters, and a slow sanitizer build still passes.
constexpr int kWaitMs = 20000;

// Runs the UI thread's event loop until `condition` holds or the time is up.
// Unlike QTest::qWaitFor it never sleeps between turns, so a worker that
// needs one turn per call (thousands in a run) is not slowed down.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
  if (condition()) {
    return true;
  }
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (condition()) {
      loop.quit();
    }
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
  return condition();
}

// The modal widget (a box) that is up now, once it is visible.
inline QWidget* WaitForModal(int timeoutMs = kWaitMs) {
  QWidget* found = nullptr;
  WaitFor(
      [&] {
        found = QApplication::activeModalWidget();
        return found != nullptr && found->isVisible();
      },
      timeoutMs);
  return found;
}

// Runs `handler` once on the modal widget, as soon as one is up. It must be
// a timer: a box shown for a worker runs its own event loop, and any wait of
// the test's own is suspended underneath it until the box is gone.
inline void WhenModalShows(QObject* context, std::function<void(QWidget*)> handler) {
  auto* timer = new QTimer(context);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, context, [timer, handler = std::move(handler)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      handler(modal);
    }
  });
  timer->start();
}

template <class T>
T* ControlOf(const UpdatorDialogWindow& window, int id) {
  return qobject_cast<T*>(window.Control(id));
}

}  // namespace kv::test
