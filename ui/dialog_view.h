// What the dialog hub asks of a window toolkit. The hub holds all of the
// dialog's state and behaviour and draws nothing itself; a view (Qt on Linux,
// Win32 on Windows, a fake in tests) carries these calls out on its window.
// Controls are addressed by their template identifiers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kv {

namespace control {
constexpr int kExecute = 1;
constexpr int kExit = 2;
constexpr int kInList = 1000;
constexpr int kOutList = 1001;
constexpr int kProgressBar = 1002;
constexpr int kStatusField = 1003;
constexpr int kRescan = 1004;
constexpr int kPictureFrame = 1005;
constexpr int kStepField = 1006;
}  // namespace control

constexpr int kAboutCommandId = 16;  // the About item of the window menu

enum class BoxIcon { kError, kWarning };

class DialogView {
 public:
  // All of these run on the UI thread.
  virtual void SetControlText(int id, const char* text) = 0;  // 8-bit text
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void ClearList(int id) = 0;                           // no entries, no selection
  virtual void AddListEntry(int id, const char* text) = 0;      // raw 8-bit device name
  virtual int ListCount(int id) = 0;
  virtual std::string ListEntry(int id, int position) = 0;      // the raw bytes given to AddListEntry
  virtual void SelectListEntry(int id, int position) = 0;
  virtual int ListSelection(int id) = 0;                        // -1 when nothing is selected
  virtual void SetProgressRange(std::int32_t low, std::int32_t high) = 0;
  virtual void SetProgressPos(std::int32_t pos) = 0;
  virtual void SetTitle(const char* title) = 0;
  virtual void SetIcons() = 0;                                  // icon 128, large then small
  // False when the view has no window menu to extend.
  virtual bool HasWindowMenu() = 0;
  // A separator, then an item that sends `commandId` to the hub.
  virtual void AppendWindowMenuItem(int commandId, const char* label) = 0;
  // Modal box owned by the dialog with one OK button; returns once dismissed.
  virtual void ShowMessageBox(const char* text, const char* caption, BoxIcon icon) = 0;
  // The About box, modal over the dialog; its field shows `titleText`.
  virtual void ShowAboutBox(const char* titleText) = 0;

  // Thread-safe: runs `call` on the UI thread and waits until it has run.
  // Returns false, without running it, once the window is gone; never hangs.
  virtual bool RunOnUiThread(const std::function<void()>& call) = 0;

 protected:
  ~DialogView() = default;
};

}  // namespace kv
