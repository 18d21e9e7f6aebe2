// The updater dialog as a Win32 window: template 103 run modally, its
// dialog procedure forwarding to the hub.
#pragma once

#include <windows.h>

#include <memory>

#include "engine/firmware_images.h"
#include "midi/drivers/midi_driver.h"
#include "midi/timer_service.h"
#include "midi/timing.h"

namespace kv::win32 {

struct UpdatorWindowSetup {
  std::shared_ptr<midi::MidiDriver> driver;
  std::shared_ptr<midi::TimerService> timerService;
  int instanceNumber = 1;
  ProtocolTimes times = kProductionTimes;
  const ImageSource* images = nullptr;  // null: the program's own resources
};

// Creates the hub, then the window from template 103 (no owner), runs it
// until it closes and lets the hub go; a worker still running keeps it alive
// until it ends. On the calling thread, which becomes the UI thread.
void RunUpdatorWindow(HINSTANCE instance, const UpdatorWindowSetup& setup);

}  // namespace kv::win32
