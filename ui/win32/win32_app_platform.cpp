#include "ui/win32/win32_app_platform.h"

#include <commctrl.h>

#include <memory>
#include <vector>

#include "midi/drivers/mm_timer_service_win32.h"
#include "sim/midi_backend.h"
#include "ui/win32/updator_window_win32.h"

namespace kv::win32 {

void Win32AppPlatform::RegisterControls() {
  // Every standard class, the progress bar among them; the result is not needed.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = 0xFF;
  static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
  InitCommonControlsEx(&controls);
}

std::unique_ptr<InstanceClaim> Win32AppPlatform::ClaimInstance(const std::string& name) {
  return ClaimInstanceName(name);
}

std::string Win32AppPlatform::ProgramFilePath() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      return std::string(path.data(), length);
    }
    path.resize(path.size() * 2);  // cut short: try a longer buffer
  }
}

void Win32AppPlatform::ShowRefusal(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

void Win32AppPlatform::RunDialog(int instanceNumber) {
  // The platform's devices, or the simulated pedal's with KV_MIDI=sim.
  sim::MidiBackend backend = sim::SelectMidiBackend();
  if (!backend.driver) {
    return;
  }
  UpdatorWindowSetup setup;
  setup.driver = backend.driver;
  setup.timerService = std::make_shared<midi::MmTimerService>();
  setup.instanceNumber = instanceNumber;
  RunUpdatorWindow(instance_, setup);
}

}  // namespace kv::win32
