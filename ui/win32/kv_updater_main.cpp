// kv-updater.exe: the updater dialog. It takes no arguments and keeps no
// settings; the program ends when the dialog closes.
#include <windows.h>

#include "ui/updator_app.h"
#include "ui/win32/win32_app_platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  kv::win32::Win32AppPlatform platform(instance);
  kv::CTx3UpdatorApp app(platform);
  app.InitInstance();  // false in every case: there is no message loop of our own
  return 0;
}
