#include "ui/qt/about_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/qt/app_icon.h"
#include "ui/qt/control_styles.h"

namespace kv {

namespace {

constexpr int kTitleFieldId = 1003;
constexpr int kOkId = 1;

}  // namespace

const char* CAboutDlg::LegalNotice() { return "Copyright (C) 2026 the KV updater authors"; }

CAboutDlg::CAboutDlg(QWidget* parent, const QString& titleText)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("aboutDialog"));
  setWindowTitle(QStringLiteral("About KV-16 Updater"));
  const DialogBaseUnits units = BaseUnitsOf(font());
  setFixedSize(DialogUnitsToPixels(units, 0, 0, 235, 60).size());

  // The static icon takes its picture's own size at the template's corner.
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("aboutIcon"));
  icon->setProperty(kControlIdProperty, kStaticControlId);
  icon->setPixmap(AppIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon->setGeometry(DialogUnitsToPixels(units, 11, 17, 20, 20));

  MakeStaticText(this, QStringLiteral("legalNotice"), QString::fromLatin1(LegalNotice()),
                 DialogUnitsToPixels(units, 40, 45, 188, 8));

  auto* ok = MakePushButton(this, kOkId, QStringLiteral("OK"), DialogUnitsToPixels(units, 178, 7, 50, 16));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  // The template gives this field no sideways scroll; a line edit always has
  // one, which changes nothing here since the title fits.
  auto* title = MakeReadOnlyField(this, kTitleFieldId, DialogUnitsToPixels(units, 39, 19, 134, 14));
  title->setText(titleText);
  title->setCursorPosition(0);

  setTabOrder(ok, title);
  ok->setFocus(Qt::OtherFocusReason);
}

}  // namespace kv
