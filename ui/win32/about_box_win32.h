// The About box, template 100, run modally over `owner`; its title field
// shows `titleText`.
#pragma once

#include <windows.h>

namespace kv::win32 {

void RunAboutBox(HINSTANCE instance, HWND owner, const char* titleText);

}  // namespace kv::win32
