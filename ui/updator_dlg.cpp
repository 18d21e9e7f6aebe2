#include "ui/updator_dlg.h"

#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "ui/diagnostic_log.h"
#include "ui/message_texts.h"
#include "ui/port_preselection.h"

namespace kv {

namespace {

constexpr int kTextAboutItem = 101;       // "About KV-14 Updater(&A)..."
constexpr int kTextInProgress = 109;      // "In Progress."
constexpr int kTextCantOpenIn = 110;      // "Can't open MIDI In device."
constexpr int kTextErrorCaption = 111;    // "Error"
constexpr int kTextCantOpenOut = 113;     // "Can't open MIDI Out device."
constexpr int kLogMidiOutError = 0;       // "Midi out error."

// Device names are at most 40 characters; the buffer has the platform's path length.
constexpr std::size_t kNameBufferSize = 260;

constexpr std::int32_t kInitialProgressHigh = 100;

// A list position as a device number: no selection (-1) goes to the port as
// 0xFFFFFFFF, which no device has.
std::uint32_t DeviceNumber(int position) { return static_cast<std::uint32_t>(position); }

}  // namespace

std::shared_ptr<CTx3UpdatorDlg> CTx3UpdatorDlg::Create(std::shared_ptr<midi::MidiDriver> driver,
                                                       std::shared_ptr<midi::TimerService> timerService,
                                                       std::shared_ptr<DialogView> view, int instanceNumber,
                                                       const ProtocolTimes& times, const ImageSource& images) {
  return std::make_shared<CTx3UpdatorDlg>(PassKey{}, std::move(driver), std::move(timerService), std::move(view),
                                          instanceNumber, times, images);
}

// Ports closed, timer not running; the reply signal starts with status 0 and
// its event unsignalled, busy at 0.
CTx3UpdatorDlg::CTx3UpdatorDlg(PassKey, std::shared_ptr<midi::MidiDriver> driver,
                               std::shared_ptr<midi::TimerService> timerService, std::shared_ptr<DialogView> view,
                               int instanceNumber, const ProtocolTimes& times, const ImageSource& images)
    : driver_(std::move(driver)),
      timerService_(std::move(timerService)),
      view_(std::move(view)),
      instanceNumber_(instanceNumber),
      uiThread_(std::this_thread::get_id()),
      inPort_(*driver_),
      outPort_(*driver_),
      engine_(outPort_, inPort_, *this, times, images),
      timer_(*timerService_) {}

CTx3UpdatorDlg::~CTx3UpdatorDlg() {
  // The timer stops first, and its last tick has finished when Stop returns,
  // so no PollReplies runs while the engine and the ports go away. This may
  // run on the worker's thread (it held the last reference), never on the
  // timer's: PollTimerProc holds no reference.
  timer_.Stop();
}

template <class Call>
void CTx3UpdatorDlg::OnUi(Call&& call) {
  if (windowGone_.load()) {
    return;
  }
  if (OnUiThread()) {
    call();
    return;
  }
  // The view runs the call on the UI thread and waits for it, or refuses
  // (returns false without running it) once the window is gone. The window
  // may go between the test above and the call's turn, so test again there.
  view_->RunOnUiThread([this, &call] {
    if (!windowGone_.load()) {
      call();
    }
  });
}

void CTx3UpdatorDlg::OnInitDialog() {
  if (view_->HasWindowMenu()) {
    const char* label = LoadMessageText(kTextAboutItem);
    if (label[0] != '\0') {
      view_->AppendWindowMenuItem(kAboutCommandId, label);
    }
  }
  view_->SetIcons();
  FillPortLists();
  timer_.Start(kPollPeriodMs, &CTx3UpdatorDlg::PollTimerProc, reinterpret_cast<std::uintptr_t>(this));
  view_->SetProgressRange(0, kInitialProgressHigh);
  view_->SetTitle(InstanceTitle(instanceNumber_).c_str());
}

void CTx3UpdatorDlg::FillPortLists() {
  char name[kNameBufferSize];
  view_->ClearList(control::kOutList);
  // The count is asked again before each device: a device that goes away
  // while the list fills ends the list there.
  for (std::uint32_t i = 0; i < outPort_.GetDeviceCount(); ++i) {
    name[0] = '\0';
    outPort_.GetDeviceName(i, name);
    view_->AddListEntry(control::kOutList, name);
  }
  view_->ClearList(control::kInList);
  for (std::uint32_t i = 0; i < inPort_.GetDeviceCount(); ++i) {
    name[0] = '\0';
    inPort_.GetDeviceName(i, name);
    view_->AddListEntry(control::kInList, name);
  }
  Preselect(control::kOutList);
  Preselect(control::kInList);
}

void CTx3UpdatorDlg::Preselect(int listId) {
  std::vector<std::string> entries;
  const int count = view_->ListCount(listId);
  entries.reserve(count > 0 ? static_cast<std::size_t>(count) : 0u);
  for (int position = 0; position < count; ++position) {
    entries.push_back(view_->ListEntry(listId, position));
  }
  // The list was emptied before it was filled, so no match leaves no selection.
  const int selected = PreselectPort(entries, instanceNumber_);
  if (selected >= 0) {
    view_->SelectListEntry(listId, selected);
  }
}

void CTx3UpdatorDlg::OnExecute() {
  if (busy_.load() == 1) {
    ShowError(kTextInProgress);
    return;
  }

  outPort_.Close();
  if (outPort_.Open(DeviceNumber(view_->ListSelection(control::kOutList))) != 1) {
    WriteLogEntry(kLogMidiOutError);
    ShowError(kTextCantOpenOut);
    return;
  }

  inPort_.Close();
  inPort_.SetDeviceIndex(DeviceNumber(view_->ListSelection(control::kInList)));
  if (inPort_.Start() != 1) {
    WriteLogEntry(kLogMidiOutError);
    ShowError(kTextCantOpenIn);
    return;  // the output port stays open; the next Execute or the window's end closes it
  }

  view_->EnableControl(control::kInList, false);
  view_->EnableControl(control::kOutList, false);
  view_->EnableControl(control::kExecute, false);
  view_->EnableControl(control::kRescan, false);
  busy_.store(1);
  engine_.Signal().Reset();

  // The thread owns a reference to the hub: whatever the worker reaches stays
  // alive until it has ended, however long after the window that is.
  try {
    std::thread([self = shared_from_this()] { UpdateWorker(self->engine_); }).detach();
  } catch (const std::system_error&) {
    // No thread, so no run: back to Ready rather than a dialog that stays
    // disabled with nothing running.
    RestoreControls();
  }
}

void CTx3UpdatorDlg::OnRescanDevice() {
  FillPortLists();
  EnableExecute(true);
}

bool CTx3UpdatorDlg::OnSysCommand(unsigned commandId) {
  // The platform uses the low four bits of a system command for itself.
  if ((commandId & ~0xFu) != static_cast<unsigned>(kAboutCommandId)) {
    return false;
  }
  view_->ShowAboutBox(TitleText);
  return true;
}

void CTx3UpdatorDlg::OnDestroyWindow() {
  outPort_.Close();
  inPort_.Close();
  windowGone_.store(true);
  engine_.Signal().status.store(kStatusAbort);
  engine_.Signal().Set();
}

void CTx3UpdatorDlg::PollTimerProc(std::uint32_t, std::uint32_t, std::uintptr_t context, std::uintptr_t,
                                   std::uintptr_t) {
  auto* dialog = reinterpret_cast<CTx3UpdatorDlg*>(context);
  // Once the window is gone the input port is closed, and all the dispatcher
  // could still do is hand a reply queued from before to the worker: its
  // status would overwrite the abort code, and the worker would go on into
  // its next wait (the update-mode wait has no time-out) instead of ending.
  // So the dispatcher rests from then on, and a call that was already under
  // way when the window went puts the abort code back when it returns.
  if (dialog->windowGone_.load()) {
    return;
  }
  dialog->engine_.PollReplies();
  if (dialog->windowGone_.load()) {
    ReplySignal& signal = dialog->engine_.Signal();
    signal.status.store(kStatusAbort);
    signal.Set();
  }
}

void CTx3UpdatorDlg::SetStatusText(const char* text) {
  std::string copy(text != nullptr ? text : "");
  OnUi([this, &copy] { view_->SetControlText(control::kStatusField, copy.c_str()); });
}

void CTx3UpdatorDlg::SetStepText(const char* text) {
  std::string copy(text != nullptr ? text : "");
  OnUi([this, &copy] { view_->SetControlText(control::kStepField, copy.c_str()); });
}

void CTx3UpdatorDlg::SetProgressRange(std::int32_t low, std::int32_t high) {
  OnUi([this, low, high] { view_->SetProgressRange(low, high); });
}

void CTx3UpdatorDlg::SetProgressPos(std::int32_t pos) {
  OnUi([this, pos] { view_->SetProgressPos(pos); });
}

void CTx3UpdatorDlg::ShowError(int textNumber) {
  OnUi([this, textNumber] {
    view_->ShowMessageBox(LoadMessageText(textNumber), LoadMessageText(kTextErrorCaption), BoxIcon::kError);
  });
}

void CTx3UpdatorDlg::RestoreControls() {
  OnUi([this] {
    view_->EnableControl(control::kInList, true);
    view_->EnableControl(control::kOutList, true);
    view_->EnableControl(control::kExecute, true);
    view_->EnableControl(control::kRescan, true);
  });
  busy_.store(0);
}

void CTx3UpdatorDlg::EnableExecute(bool flag) {
  OnUi([this, flag] { view_->EnableControl(control::kExecute, flag); });
}

}  // namespace kv
