// The updater dialog's hub: all of the dialog's state and behaviour, with no
// toolkit in it. It owns the ports, the 1 ms timer that runs the reply
// dispatcher and the engine (with its reply signal), starts the update worker
// on Execute and provides the observer operations the worker reports through.
// A view (Qt, Win32, a test fake) draws the window and forwards its events.
//
// Lifetime: the worker is never joined. Its thread holds a shared_ptr to the
// hub, so the hub, its ports, the driver and the timer service stay alive
// until the worker has ended; once the window is gone every observer call is
// a no-op. The hub may therefore be destroyed on the worker's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "engine/firmware_images.h"
#include "engine/update_engine.h"
#include "midi/drivers/midi_driver.h"
#include "midi/dxm_timer.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "midi/timer_service.h"
#include "midi/timing.h"
#include "ui/dialog_view.h"
#include "ui/update_observer.h"

namespace kv {

class CTx3UpdatorDlg final : public UpdateObserver, public std::enable_shared_from_this<CTx3UpdatorDlg> {
  struct PassKey {
    explicit PassKey() = default;
  };

 public:
  // Call on the UI thread: the thread that creates the hub is the one its
  // handlers run on. `images` must outlive the hub (the embedded images do).
  static std::shared_ptr<CTx3UpdatorDlg> Create(std::shared_ptr<midi::MidiDriver> driver,
                                                std::shared_ptr<midi::TimerService> timerService,
                                                std::shared_ptr<DialogView> view, int instanceNumber,
                                                const ProtocolTimes& times = kProductionTimes,
                                                const ImageSource& images = EmbeddedImages());

  CTx3UpdatorDlg(PassKey, std::shared_ptr<midi::MidiDriver> driver, std::shared_ptr<midi::TimerService> timerService,
                 std::shared_ptr<DialogView> view, int instanceNumber, const ProtocolTimes& times,
                 const ImageSource& images);
  ~CTx3UpdatorDlg();
  CTx3UpdatorDlg(const CTx3UpdatorDlg&) = delete;
  CTx3UpdatorDlg& operator=(const CTx3UpdatorDlg&) = delete;

  // Handlers, all on the UI thread.
  void OnInitDialog();  // the view has created its controls
  void OnExecute();     // command 1
  void OnRescanDevice();  // command 1004
  // True when the command was the About item (the hub showed the About box);
  // false for every other command, which the view handles as its platform does.
  bool OnSysCommand(unsigned commandId);
  void OnDestroyWindow();  // the window is being destroyed, for any reason

  void FillPortLists();
  int Busy() const { return busy_.load(); }
  int InstanceNumber() const { return instanceNumber_; }

  // UpdateObserver. From the worker each is carried out on the UI thread and
  // has taken effect when it returns; on the UI thread it runs directly. Once
  // the window is gone none of them touches the view.
  void SetStatusText(const char* text) override;
  void SetStepText(const char* text) override;
  void SetProgressRange(std::int32_t low, std::int32_t high) override;
  void SetProgressPos(std::int32_t pos) override;
  void ShowError(int textNumber) override;
  void RestoreControls() override;
  void EnableExecute(bool flag) override;

  CUpdateEngine& Engine() { return engine_; }
  midi::CMidiOutPort& OutPort() { return outPort_; }
  midi::CMidiInPort& InPort() { return inPort_; }

  // The timer's callback: `context` is the hub; runs the reply dispatcher
  // while the window exists.
  static void PollTimerProc(std::uint32_t timerId, std::uint32_t message, std::uintptr_t context,
                            std::uintptr_t reserved1, std::uintptr_t reserved2);

 private:
  bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }
  // Runs `call` (which uses the view) on the UI thread while the window exists.
  template <class Call>
  void OnUi(Call&& call);
  void Preselect(int listId);

  // Declared first, destroyed last: the ports and the timer use them.
  std::shared_ptr<midi::MidiDriver> driver_;
  std::shared_ptr<midi::TimerService> timerService_;
  std::shared_ptr<DialogView> view_;
  const int instanceNumber_;
  const std::thread::id uiThread_;

  midi::CMidiInPort inPort_;
  midi::CMidiOutPort outPort_;
  CUpdateEngine engine_;  // holds the reply signal: status, detectedModel, event
  // Set by the UI thread on Execute, cleared by the worker in RestoreControls.
  std::atomic<int> busy_{0};
  // Set once, on the UI thread, when the window is destroyed; from then on
  // the view is not used and the dispatcher rests (see PollTimerProc).
  std::atomic<bool> windowGone_{false};

  // Declared last, destroyed first: no tick runs once the destructor starts
  // releasing what PollReplies uses.
  midi::CDxMTimer timer_;
};

}  // namespace kv
