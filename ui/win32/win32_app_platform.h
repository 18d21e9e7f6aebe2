// Start-up's platform part on Windows: the common controls, the named-mutex
// claim, the refusal box and the modal run of the updater window.
#pragma once

#include <windows.h>

#include "ui/updator_app.h"

namespace kv::win32 {

class Win32AppPlatform final : public AppPlatform {
 public:
  explicit Win32AppPlatform(HINSTANCE instance) : instance_(instance) {}

  void RegisterControls() override;
  std::unique_ptr<InstanceClaim> ClaimInstance(const std::string& name) override;
  std::string ProgramFilePath() override;
  void ShowRefusal(const char* text, const char* caption) override;
  void RunDialog(int instanceNumber) override;

 private:
  HINSTANCE instance_;
};

}  // namespace kv::win32
