// The hub's view over a Win32 dialog built from template 103.
//
// It holds the window handle and the call queue, nothing it must free, so
// the hub may destroy it on any thread (the worker can hold the hub last).
#pragma once

#include <windows.h>

#include "ui/dialog_view.h"
#include "ui/win32/ui_call_queue_win32.h"

namespace kv::win32 {

class Win32DialogView final : public DialogView {
 public:
  explicit Win32DialogView(HINSTANCE instance);
  Win32DialogView(const Win32DialogView&) = delete;
  Win32DialogView& operator=(const Win32DialogView&) = delete;
  ~Win32DialogView() = default;

  // The dialog's window, from its initialisation on.
  void Attach(HWND window);
  // The window is being destroyed: no call runs on it any more.
  void MarkGone();
  void RunQueuedCalls() { calls_.RunQueued(); }
  HWND Window() const { return window_; }
  // Icon 128: the window's icons, the minimised picture and the drag icon.
  HICON Icon() const { return icon_; }

  void SetControlText(int id, const char* text) override;
  void EnableControl(int id, bool enable) override;
  void ClearList(int id) override;
  void AddListEntry(int id, const char* text) override;
  int ListCount(int id) override;
  std::string ListEntry(int id, int position) override;
  void SelectListEntry(int id, int position) override;
  int ListSelection(int id) override;
  void SetProgressRange(std::int32_t low, std::int32_t high) override;
  void SetProgressPos(std::int32_t pos) override;
  void SetTitle(const char* title) override;
  void SetIcons() override;
  bool HasWindowMenu() override;
  void AppendWindowMenuItem(int commandId, const char* label) override;
  void ShowMessageBox(const char* text, const char* caption, BoxIcon icon) override;
  void ShowAboutBox(const char* titleText) override;
  bool RunOnUiThread(const std::function<void()>& call) override;

 private:
  HINSTANCE instance_;
  HICON icon_;
  HWND window_ = nullptr;  // used on the UI thread only
  UiCallQueue calls_;
};

}  // namespace kv::win32
