// Looking at and driving dialogs from a thread (or process) other than the
// one that runs them: every wait bounded, every read a sent message.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kv::test {

// Polls `find` until it returns a window or `timeoutMs` has passed.
HWND WaitForWindow(const std::function<HWND()>& find, DWORD timeoutMs = 15000);
// Polls `done` until it is true or `timeoutMs` has passed; returns its last value.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 15000);

// A visible dialog-class window of the thread or process, with the given
// title (any if null) and owner (any if null).
HWND FindDialogOfThread(DWORD threadId, const char* title, HWND owner = nullptr);
HWND FindDialogOfProcess(DWORD processId, const char* title, HWND owner = nullptr);

// The window's text through WM_GETTEXT (works across threads and processes).
std::string TextOf(HWND window);
std::string ClassOf(HWND window);
// The texts of a message box's text fields (its static controls with text).
std::vector<std::string> StaticTextsOf(HWND box);

// The rectangle of `control` in the client coordinates of `dialog`.
RECT RectIn(HWND dialog, HWND control);

// Presses a button by its command, without waiting for what it starts.
void PostCommand(HWND dialog, int id);

// Writes what the screen shows of `window` as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::string& path);

}  // namespace kv::test
