#include "ui/win32/about_box_win32.h"

#include "ui/win32/resource_ids_win32.h"

namespace kv::win32 {

namespace {

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(window, kAboutTitleFieldId, reinterpret_cast<const char*>(lParam));
      return TRUE;
    case WM_COMMAND:
      // OK, Escape and the close box.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void RunAboutBox(HINSTANCE instance, HWND owner, const char* titleText) {
  DialogBoxParamA(instance, MAKEINTRESOURCEA(kAboutTemplate), owner, &AboutProc,
                  reinterpret_cast<LPARAM>(titleText));
}

}  // namespace kv::win32
