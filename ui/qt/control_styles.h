// The control kinds of the dialog templates, each with the settings its
// template gives it, created at a pixel rectangle and tagged with its
// template identifier in the "controlId" property (-1 for statics).
#pragma once

#include <QRect>
#include <QString>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace kv {

inline constexpr char kControlIdProperty[] = "controlId";
constexpr int kStaticControlId = -1;

// Tab stop; the dialog makes one of them its default button.
QPushButton* MakePushButton(QWidget* parent, int id, const QString& text, const QRect& rect);
// Left-aligned static text, no tab stop.
QLabel* MakeStaticText(QWidget* parent, const QString& name, const QString& text, const QRect& rect);
// Drop-down list without an edit field, in insertion order, tab stop. The
// template's height counts the dropped list: the closed box takes its
// natural height and shows about as many rows as the template allows.
QComboBox* MakeDropDownList(QWidget* parent, int id, const QRect& rect);
// Bordered bar without a text, like a native one.
QProgressBar* MakeProgressBar(QWidget* parent, int id, const QRect& rect);
// Read-only one-line field without a border that scrolls sideways; it takes
// the focus (tab stop) so its text can be selected and copied.
QLineEdit* MakeReadOnlyField(QWidget* parent, int id, const QRect& rect);
// A picture frame with no picture: an empty sunken square.
QFrame* MakePictureFrame(QWidget* parent, int id, const QRect& rect);

}  // namespace kv
