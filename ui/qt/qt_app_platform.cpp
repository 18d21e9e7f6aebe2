#include "ui/qt/qt_app_platform.h"

#include <QCoreApplication>

#include <utility>

#include "ui/qt/device_text.h"
#include "ui/qt/message_box.h"

namespace kv {

QtAppPlatform::QtAppPlatform(std::function<MidiServices()> backend, std::chrono::milliseconds workerGrace)
    : backend_(std::move(backend)), workerGrace_(workerGrace) {}

// Qt's widgets need no registration once the QApplication exists.
void QtAppPlatform::RegisterControls() {}

std::unique_ptr<InstanceClaim> QtAppPlatform::ClaimInstance(const std::string& name) {
  return ClaimInstanceName(name);
}

std::string QtAppPlatform::ProgramFilePath() { return QCoreApplication::applicationFilePath().toStdString(); }

void QtAppPlatform::ShowRefusal(const char* text, const char* caption) {
  ShowModalBox(nullptr, FromCodePageText(text), FromCodePageText(caption), BoxIcon::kWarning);
}

void QtAppPlatform::RunDialog(int instanceNumber) {
  QtUpdatorDialog dialog(backend_(), instanceNumber);
  dialog.Exec();
  // A worker that was running when the window went ends at its next wait;
  // the program ends after that moment, or after the grace, never joining it.
  dialog.ReleaseHub(workerGrace_);
}

}  // namespace kv
