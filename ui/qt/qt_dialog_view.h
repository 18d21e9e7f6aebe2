// The hub's view on Qt: carries the hub's calls out on an UpdatorDialogWindow.
//
// The view is shared with the hub and may be released on the worker's thread
// after the window is gone, so it holds the window only weakly and never
// deletes it; the window's owner (the code that runs it) does that on the UI
// thread. Every operation but RunOnUiThread runs on the UI thread and does
// nothing once the window is deleted.
#pragma once

#include <QPointer>

#include <memory>

#include "ui/dialog_view.h"
#include "ui/qt/updator_dialog_window.h"

namespace kv {

class QtDialogView final : public DialogView {
 public:
  explicit QtDialogView(UpdatorDialogWindow* window);
  QtDialogView(const QtDialogView&) = delete;
  QtDialogView& operator=(const QtDialogView&) = delete;

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
  QPointer<UpdatorDialogWindow> window_;
  const std::shared_ptr<UiCallGate> gate_;
};

}  // namespace kv
