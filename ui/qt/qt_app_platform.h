// The start-up's platform part on Qt: the instance claim, the refusal box and
// the dialog's modal run. A QApplication must exist.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "ui/qt/qt_updator_dialog.h"
#include "ui/updator_app.h"

namespace kv {

class QtAppPlatform final : public AppPlatform {
 public:
  // `backend` is asked once, when the dialog is created.
  explicit QtAppPlatform(std::function<MidiServices()> backend,
                         std::chrono::milliseconds workerGrace = std::chrono::milliseconds(3000));

  void RegisterControls() override;
  std::unique_ptr<InstanceClaim> ClaimInstance(const std::string& name) override;
  std::string ProgramFilePath() override;
  void ShowRefusal(const char* text, const char* caption) override;
  void RunDialog(int instanceNumber) override;

 private:
  std::function<MidiServices()> backend_;
  std::chrono::milliseconds workerGrace_;
};

}  // namespace kv
