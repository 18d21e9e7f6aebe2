#include "ui/qt/qt_updator_dialog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <utility>

namespace kv {

QtUpdatorDialog::QtUpdatorDialog(MidiServices backend, int instanceNumber, const ProtocolTimes& times)
    : window_(std::make_unique<UpdatorDialogWindow>()) {
  auto view = std::make_shared<QtDialogView>(window_.get());
  hub_ = CTx3UpdatorDlg::Create(std::move(backend.driver), std::move(backend.timerService), std::move(view),
                                instanceNumber, times);
  weakHub_ = hub_;
  // The window holds the hub weakly: the hub holds the view, which refers to
  // the window, and a strong link back would keep all of them alive.
  std::weak_ptr<CTx3UpdatorDlg> weak = hub_;
  window_->SetCommands(DialogCommands{
      [weak] {
        if (auto hub = weak.lock()) {
          hub->OnExecute();
        }
      },
      [weak] {
        if (auto hub = weak.lock()) {
          hub->OnRescanDevice();
        }
      },
      [weak](unsigned commandId) {
        if (auto hub = weak.lock()) {
          hub->OnSysCommand(commandId);
        }
      },
      [weak] {
        if (auto hub = weak.lock()) {
          hub->OnDestroyWindow();
        }
      },
  });
  hub_->OnInitDialog();
}

QtUpdatorDialog::~QtUpdatorDialog() {
  window_.reset();  // the window's end reaches the hub first
  hub_.reset();
}

int QtUpdatorDialog::Exec() { return window_->exec(); }

bool QtUpdatorDialog::ReleaseHub(std::chrono::milliseconds limit) {
  if (!window_->IsGone()) {
    window_->reject();
  }
  hub_.reset();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!weakHub_.expired() && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  return weakHub_.expired();
}

}  // namespace kv
