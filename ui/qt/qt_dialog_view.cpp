#include "ui/qt/qt_dialog_view.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "ui/qt/about_dlg.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/child_guard.h"
#include "ui/qt/device_text.h"
#include "ui/qt/message_box.h"

namespace kv {

QtDialogView::QtDialogView(UpdatorDialogWindow* window) : window_(window), gate_(window->Gate()) {}

void QtDialogView::SetControlText(int id, const char* text) {
  if (!window_) {
    return;
  }
  QWidget* control = window_->Control(id);
  const QString decoded = FromCodePageText(text);
  if (auto* field = qobject_cast<QLineEdit*>(control)) {
    field->setText(decoded);
    field->setCursorPosition(0);  // a long text shows its beginning, like a native field
  } else if (auto* button = qobject_cast<QPushButton*>(control)) {
    button->setText(decoded);
  }
}

void QtDialogView::EnableControl(int id, bool enable) {
  if (window_) {
    if (QWidget* control = window_->Control(id)) {
      control->setEnabled(enable);
    }
  }
}

void QtDialogView::ClearList(int id) {
  if (QComboBox* list = window_ ? window_->List(id) : nullptr) {
    list->clear();
  }
}

void QtDialogView::AddListEntry(int id, const char* text) {
  QComboBox* list = window_ ? window_->List(id) : nullptr;
  if (list == nullptr) {
    return;
  }
  // A combo box selects the first entry added to an empty list; a native list
  // selects nothing until told to, and "no selection" means no port.
  const int selected = list->currentIndex();
  list->addItem(FromCodePageText(text), QByteArray(text != nullptr ? text : ""));
  if (list->currentIndex() != selected) {
    list->setCurrentIndex(selected);
  }
}

int QtDialogView::ListCount(int id) {
  QComboBox* list = window_ ? window_->List(id) : nullptr;
  return list != nullptr ? list->count() : 0;
}

std::string QtDialogView::ListEntry(int id, int position) {
  QComboBox* list = window_ ? window_->List(id) : nullptr;
  if (list == nullptr || position < 0 || position >= list->count()) {
    return {};
  }
  return list->itemData(position).toByteArray().toStdString();
}

void QtDialogView::SelectListEntry(int id, int position) {
  QComboBox* list = window_ ? window_->List(id) : nullptr;
  if (list != nullptr && position >= -1 && position < list->count()) {
    list->setCurrentIndex(position);
  }
}

int QtDialogView::ListSelection(int id) {
  QComboBox* list = window_ ? window_->List(id) : nullptr;
  return list != nullptr ? list->currentIndex() : -1;
}

void QtDialogView::SetProgressRange(std::int32_t low, std::int32_t high) {
  if (auto* bar = window_ ? qobject_cast<QProgressBar*>(window_->Control(control::kProgressBar)) : nullptr) {
    bar->setRange(low, high);
  }
}

void QtDialogView::SetProgressPos(std::int32_t pos) {
  if (auto* bar = window_ ? qobject_cast<QProgressBar*>(window_->Control(control::kProgressBar)) : nullptr) {
    // A native bar clamps a position outside its range; QProgressBar would
    // ignore it and keep the old one.
    bar->setValue(qBound(bar->minimum(), static_cast<int>(pos), bar->maximum()));
  }
}

void QtDialogView::SetTitle(const char* title) {
  if (window_) {
    window_->setWindowTitle(FromCodePageText(title));
  }
}

void QtDialogView::SetIcons() {
  if (window_) {
    window_->setWindowIcon(AppIcon());
  }
}

bool QtDialogView::HasWindowMenu() { return static_cast<bool>(window_); }

void QtDialogView::AppendWindowMenuItem(int commandId, const char* label) {
  if (window_) {
    window_->AppendWindowMenuItem(static_cast<unsigned>(commandId), FromCodePageText(label));
  }
}

void QtDialogView::ShowMessageBox(const char* text, const char* caption, BoxIcon icon) {
  if (window_) {
    ShowModalBox(window_, FromCodePageText(text), FromCodePageText(caption), icon);
  }
}

void QtDialogView::ShowAboutBox(const char* titleText) {
  if (window_) {
    ChildGuard<CAboutDlg> about(new CAboutDlg(window_, FromCodePageText(titleText)));
    about->exec();
  }
}

bool QtDialogView::RunOnUiThread(const std::function<void()>& call) { return gate_->Run(call); }

}  // namespace kv
