#include "ui/qt/message_box.h"

#include <QMessageBox>

#include "ui/qt/child_guard.h"

namespace kv {

void ShowModalBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) {
  ChildGuard<QMessageBox> box(new QMessageBox(icon == BoxIcon::kError ? QMessageBox::Critical : QMessageBox::Warning,
                                              caption, text, QMessageBox::Ok, owner));
  box->setObjectName(QStringLiteral("messageBox"));
  box->setDefaultButton(QMessageBox::Ok);
  box->setEscapeButton(QMessageBox::Ok);
  // The owner takes no input while the box is up.
  box->setWindowModality(Qt::ApplicationModal);
  box->exec();
}

}  // namespace kv
