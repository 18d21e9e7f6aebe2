#include "ui/qt/control_styles.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>

namespace kv {

namespace {

void Tag(QWidget* widget, int id, const QString& name) {
  widget->setProperty(kControlIdProperty, id);
  widget->setObjectName(name);
}

QString ControlName(int id) { return QStringLiteral("control%1").arg(id); }

}  // namespace

QPushButton* MakePushButton(QWidget* parent, int id, const QString& text, const QRect& rect) {
  auto* button = new QPushButton(text, parent);
  Tag(button, id, ControlName(id));
  button->setGeometry(rect);
  button->setFocusPolicy(Qt::StrongFocus);
  return button;
}

QLabel* MakeStaticText(QWidget* parent, const QString& name, const QString& text, const QRect& rect) {
  auto* label = new QLabel(text, parent);
  Tag(label, kStaticControlId, name);
  label->setGeometry(rect);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

QComboBox* MakeDropDownList(QWidget* parent, int id, const QRect& rect) {
  auto* list = new QComboBox(parent);
  Tag(list, id, ControlName(id));
  list->setEditable(false);
  list->setInsertPolicy(QComboBox::InsertAtBottom);
  list->setFocusPolicy(Qt::StrongFocus);
  list->setGeometry(rect.x(), rect.y(), rect.width(), list->sizeHint().height());
  const int rowHeight = list->fontMetrics().height() + 2;
  list->setMaxVisibleItems(qMax(1, (rect.height() - list->height()) / rowHeight));
  return list;
}

QProgressBar* MakeProgressBar(QWidget* parent, int id, const QRect& rect) {
  auto* bar = new QProgressBar(parent);
  Tag(bar, id, ControlName(id));
  bar->setGeometry(rect);
  bar->setTextVisible(false);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setFocusPolicy(Qt::NoFocus);
  return bar;
}

QLineEdit* MakeReadOnlyField(QWidget* parent, int id, const QRect& rect) {
  auto* field = new QLineEdit(parent);
  Tag(field, id, ControlName(id));
  field->setGeometry(rect);
  field->setReadOnly(true);
  field->setFrame(false);
  field->setTextMargins(0, 0, 0, 0);
  field->setFocusPolicy(Qt::StrongFocus);
  // Read-only fields sit on the dialog's own background, as native ones do.
  QPalette palette = field->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  field->setPalette(palette);
  return field;
}

QFrame* MakePictureFrame(QWidget* parent, int id, const QRect& rect) {
  auto* frame = new QFrame(parent);
  Tag(frame, id, ControlName(id));
  frame->setGeometry(rect);
  frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  frame->setFocusPolicy(Qt::NoFocus);
  return frame;
}

}  // namespace kv
