#include "ui/qt/updator_dialog_window.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QVariant>

#include <utility>

#include "ui/dialog_view.h"
#include "ui/qt/control_styles.h"

namespace kv {

namespace {

constexpr int kDialogWidthDu = 239;
constexpr int kDialogHeightDu = 161;

}  // namespace

UpdatorDialogWindow::UpdatorDialogWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      units_(BaseUnitsOf(font())),
      gate_(std::make_shared<UiCallGate>(this)) {
  setObjectName(QStringLiteral("updatorDialog"));
  setSizeGripEnabled(false);
  const QRect frame = FromDialogUnits(0, 0, kDialogWidthDu, kDialogHeightDu);
  setFixedSize(frame.size());
  BuildControls();

  windowMenu_ = new QMenu(this);
  windowMenu_->setObjectName(QStringLiteral("windowMenu"));
  QAction* close = windowMenu_->addAction(tr("&Close"));
  close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  connect(close, &QAction::triggered, this, &QDialog::reject);
}

UpdatorDialogWindow::~UpdatorDialogWindow() { WindowGone(); }

void UpdatorDialogWindow::SetCommands(DialogCommands commands) { commands_ = std::move(commands); }

QRect UpdatorDialogWindow::FromDialogUnits(int x, int y, int width, int height) const {
  return DialogUnitsToPixels(units_, x, y, width, height);
}

void UpdatorDialogWindow::BuildControls() {
  // Created in the template's order, which is also the tab order.
  auto* execute = MakePushButton(this, control::kExecute, tr("Execute"), FromDialogUnits(119, 138, 50, 16));
  execute->setDefault(true);
  connect(execute, &QPushButton::clicked, this, [this] {
    if (commands_.execute) {
      commands_.execute();
    }
  });

  auto* exit = MakePushButton(this, control::kExit, tr("Exit"), FromDialogUnits(182, 138, 50, 16));
  connect(exit, &QPushButton::clicked, this, &QDialog::reject);

  MakeStaticText(this, QStringLiteral("midiInLabel"), QStringLiteral("MIDI IN"), FromDialogUnits(7, 7, 225, 8));
  MakeStaticText(this, QStringLiteral("midiOutLabel"), QStringLiteral("MIDI OUT"), FromDialogUnits(7, 37, 225, 8));

  MakeDropDownList(this, control::kInList, FromDialogUnits(7, 15, 225, 115));
  MakeDropDownList(this, control::kOutList, FromDialogUnits(7, 45, 225, 115));

  MakeProgressBar(this, control::kProgressBar, FromDialogUnits(7, 107, 225, 14));
  MakeReadOnlyField(this, control::kStatusField, FromDialogUnits(12, 91, 220, 12));

  auto* rescan = MakePushButton(this, control::kRescan, tr("Rescan Device"), FromDialogUnits(145, 65, 87, 16));
  connect(rescan, &QPushButton::clicked, this, [this] {
    if (commands_.rescan) {
      commands_.rescan();
    }
  });

  MakePictureFrame(this, control::kPictureFrame, FromDialogUnits(7, 134, 20, 20));
  MakeReadOnlyField(this, control::kStepField, FromDialogUnits(12, 78, 29, 12));

  QWidget* previous = nullptr;
  for (int id : {control::kExecute, control::kExit, control::kInList, control::kOutList, control::kStatusField,
                 control::kRescan, control::kStepField}) {
    QWidget* next = Control(id);
    if (previous != nullptr) {
      setTabOrder(previous, next);
    }
    previous = next;
  }
  // The first control in tab order that takes the focus.
  execute->setFocus(Qt::OtherFocusReason);
}

QWidget* UpdatorDialogWindow::Control(int id) const {
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const QVariant tag = child->property(kControlIdProperty);
    if (tag.isValid() && tag.toInt() == id) {
      return child;
    }
  }
  return nullptr;
}

QComboBox* UpdatorDialogWindow::List(int id) const { return qobject_cast<QComboBox*>(Control(id)); }

void UpdatorDialogWindow::AppendWindowMenuItem(unsigned commandId, const QString& label) {
  windowMenu_->addSeparator();
  QAction* item = windowMenu_->addAction(label);
  item->setObjectName(QStringLiteral("windowCommand%1").arg(commandId));
  if (commandId == static_cast<unsigned>(kAboutCommandId)) {
    // The About item answers F1 too; added to the window so the key works
    // without opening the menu.
    item->setShortcut(QKeySequence(Qt::Key_F1));
    item->setShortcutContext(Qt::WindowShortcut);
    addAction(item);
  }
  connect(item, &QAction::triggered, this, [this, commandId] {
    if (commands_.windowCommand) {
      commands_.windowCommand(commandId);
    }
  });
}

void UpdatorDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
  windowMenu_->exec(event->globalPos());
  event->accept();
}

void UpdatorDialogWindow::done(int result) {
  CloseOwnedBoxes();
  WindowGone();
  QDialog::done(result);
}

void UpdatorDialogWindow::CloseOwnedBoxes() {
  // A box shown for the worker runs its own event loop over this dialog; it
  // ends with the dialog, and its caller (a waiting worker) returns.
  for (QDialog* box : findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
    if (box->isVisible()) {
      box->reject();
    }
  }
  if (windowMenu_ != nullptr && windowMenu_->isVisible()) {
    windowMenu_->close();
  }
}

void UpdatorDialogWindow::WindowGone() {
  if (gone_) {
    return;
  }
  gone_ = true;
  gate_->Close();
  if (commands_.destroyWindow) {
    commands_.destroyWindow();
  }
}

}  // namespace kv
