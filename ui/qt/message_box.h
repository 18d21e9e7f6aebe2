// Modal message boxes with one OK button: owned by a window (the error
// boxes) or by none (the refusal at start-up).
#pragma once

#include <QString>

#include "ui/dialog_view.h"

class QWidget;

namespace kv {

// Returns once the box is dismissed, or once its owner has closed it.
void ShowModalBox(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon);

}  // namespace kv
