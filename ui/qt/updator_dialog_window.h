// The updater dialog's window: template 103 as a fixed-size QDialog, every
// control at its place in dialog units and known by its template identifier
// (the "controlId" property; statics carry -1). It draws; the hub decides.
// Commands go out through DialogCommands, set by whoever wires the hub up.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>

#include "ui/qt/dialog_units.h"
#include "ui/qt/ui_call_gate.h"

class QComboBox;
class QMenu;

namespace kv {

struct DialogCommands {
  std::function<void()> execute;                // command 1, also Enter on the default button
  std::function<void()> rescan;                 // command 1004
  std::function<void(unsigned)> windowCommand;  // an item of the window menu
  std::function<void()> destroyWindow;          // once, when the window goes, for any reason
};

class UpdatorDialogWindow final : public QDialog {
  Q_OBJECT

 public:
  explicit UpdatorDialogWindow(QWidget* parent = nullptr);
  ~UpdatorDialogWindow() override;

  void SetCommands(DialogCommands commands);

  // The control with template identifier `id`, or null.
  QWidget* Control(int id) const;
  QComboBox* List(int id) const;

  const DialogBaseUnits& BaseUnits() const { return units_; }
  QRect FromDialogUnits(int x, int y, int width, int height) const;

  // The window menu (the title-bar menu of the window manager is out of
  // reach): the dialog's context menu. Items added here send their command.
  QMenu* WindowMenu() const { return windowMenu_; }
  void AppendWindowMenuItem(unsigned commandId, const QString& label);

  std::shared_ptr<UiCallGate> Gate() const { return gate_; }
  // True once the window has gone: closed by any way, or deleted.
  bool IsGone() const { return gone_; }

  // Exit, Escape, the close box and the menu's Close all end here: boxes
  // still open over the dialog are closed, then the window goes.
  void done(int result) override;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildControls();
  // Closes the gate and tells the hub, once.
  void WindowGone();
  void CloseOwnedBoxes();

  DialogBaseUnits units_;
  DialogCommands commands_;
  std::shared_ptr<UiCallGate> gate_;
  QMenu* windowMenu_ = nullptr;
  bool gone_ = false;
};

}  // namespace kv
