// The About box, template 100: the icon, the title field (1003) showing the
// text it is given, a one-line legal notice and OK.
#pragma once

#include <QDialog>
#include <QString>

#include "ui/qt/dialog_units.h"

namespace kv {

class CAboutDlg final : public QDialog {
  Q_OBJECT

 public:
  CAboutDlg(QWidget* parent, const QString& titleText);

  static const char* LegalNotice();
};

}  // namespace kv
