#include "ui/win32/win32_dialog_view.h"

#include <commctrl.h>

#include <vector>

#include "ui/win32/about_box_win32.h"
#include "ui/win32/resource_ids_win32.h"

namespace kv::win32 {

Win32DialogView::Win32DialogView(HINSTANCE instance)
    : instance_(instance), icon_(LoadIconA(instance, MAKEINTRESOURCEA(kIconResource))) {}

void Win32DialogView::Attach(HWND window) {
  window_ = window;
  calls_.Attach(window);
}

void Win32DialogView::MarkGone() { calls_.MarkGone(); }

void Win32DialogView::SetControlText(int id, const char* text) { SetDlgItemTextA(window_, id, text); }

void Win32DialogView::EnableControl(int id, bool enable) { EnableWindow(GetDlgItem(window_, id), enable ? TRUE : FALSE); }

void Win32DialogView::ClearList(int id) { SendDlgItemMessageA(window_, id, CB_RESETCONTENT, 0, 0); }

void Win32DialogView::AddListEntry(int id, const char* text) {
  SendDlgItemMessageA(window_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

int Win32DialogView::ListCount(int id) {
  const LRESULT count = SendDlgItemMessageA(window_, id, CB_GETCOUNT, 0, 0);
  return count == CB_ERR ? 0 : static_cast<int>(count);
}

std::string Win32DialogView::ListEntry(int id, int position) {
  const LRESULT length = SendDlgItemMessageA(window_, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(position), 0);
  if (length == CB_ERR || length < 0) {
    return {};
  }
  std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT copied =
      SendDlgItemMessageA(window_, id, CB_GETLBTEXT, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(text.data()));
  if (copied == CB_ERR || copied < 0) {
    return {};
  }
  return std::string(text.data(), static_cast<std::size_t>(copied));
}

void Win32DialogView::SelectListEntry(int id, int position) {
  SendDlgItemMessageA(window_, id, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
}

int Win32DialogView::ListSelection(int id) {
  const LRESULT selected = SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0);
  return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

void Win32DialogView::SetProgressRange(std::int32_t low, std::int32_t high) {
  // The 32-bit range: image sizes go well past the 16-bit one.
  SendDlgItemMessageA(window_, kProgressBarId, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

void Win32DialogView::SetProgressPos(std::int32_t pos) {
  SendDlgItemMessageA(window_, kProgressBarId, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32DialogView::SetTitle(const char* title) { SetWindowTextA(window_, title); }

void Win32DialogView::SetIcons() {
  SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

bool Win32DialogView::HasWindowMenu() { return GetSystemMenu(window_, FALSE) != nullptr; }

void Win32DialogView::AppendWindowMenuItem(int commandId, const char* label) {
  HMENU menu = GetSystemMenu(window_, FALSE);
  if (menu == nullptr) {
    return;
  }
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(commandId), label);
}

void Win32DialogView::ShowMessageBox(const char* text, const char* caption, BoxIcon icon) {
  const UINT iconStyle = icon == BoxIcon::kError ? MB_ICONERROR : MB_ICONWARNING;
  MessageBoxA(window_, text, caption, MB_OK | iconStyle);
}

void Win32DialogView::ShowAboutBox(const char* titleText) { RunAboutBox(instance_, window_, titleText); }

bool Win32DialogView::RunOnUiThread(const std::function<void()>& call) { return calls_.Run(call); }

}  // namespace kv::win32
