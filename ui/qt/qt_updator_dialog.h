// The updater dialog as the program runs it on Qt: the window, its view and
// the hub, wired together, and the hub's release once the window is gone.
//
// Lives on the UI thread. The hub is shared with a worker that is never
// joined: when the window closes during a run the worker may still hold the
// hub for a moment (it ends at its next wait); ReleaseHub gives it that
// moment, bounded, and never waits for the thread itself.
#pragma once

#include <chrono>
#include <memory>

#include "midi/drivers/midi_driver.h"
#include "midi/timer_service.h"
#include "midi/timing.h"
#include "ui/qt/qt_dialog_view.h"
#include "ui/qt/updator_dialog_window.h"
#include "ui/updator_dlg.h"

namespace kv {

struct MidiServices {
  std::shared_ptr<midi::MidiDriver> driver;
  std::shared_ptr<midi::TimerService> timerService;
};

class QtUpdatorDialog {
 public:
  // Creates the window and the hub and runs the dialog initialisation.
  QtUpdatorDialog(MidiServices backend, int instanceNumber, const ProtocolTimes& times = kProductionTimes);
  ~QtUpdatorDialog();
  QtUpdatorDialog(const QtUpdatorDialog&) = delete;
  QtUpdatorDialog& operator=(const QtUpdatorDialog&) = delete;

  UpdatorDialogWindow& Window() { return *window_; }
  // Null once released.
  std::shared_ptr<CTx3UpdatorDlg> Hub() const { return hub_; }
  std::weak_ptr<CTx3UpdatorDlg> WeakHub() const { return weakHub_; }

  // Runs the dialog modally until Exit, Escape or the close box.
  int Exec();

  // After the window has gone: drops this object's share of the hub and
  // waits up to `limit` (letting the UI thread's events run) for a worker to
  // drop its own. True when the hub has been destroyed.
  bool ReleaseHub(std::chrono::milliseconds limit);

 private:
  std::unique_ptr<UpdatorDialogWindow> window_;
  std::shared_ptr<CTx3UpdatorDlg> hub_;
  std::weak_ptr<CTx3UpdatorDlg> weakHub_;
};

}  // namespace kv
