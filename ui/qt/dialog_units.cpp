#include "ui/qt/dialog_units.h"

#include <QFontMetrics>

namespace kv {

namespace {

int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogBaseUnits{(letters + 26) / 52, metrics.height()};
}

int DialogUnitsToPixelsX(const DialogBaseUnits& units, int du) { return MulDiv(du, units.x, 4); }

int DialogUnitsToPixelsY(const DialogBaseUnits& units, int du) { return MulDiv(du, units.y, 8); }

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height) {
  return QRect(DialogUnitsToPixelsX(units, x), DialogUnitsToPixelsY(units, y), DialogUnitsToPixelsX(units, width),
               DialogUnitsToPixelsY(units, height));
}

}  // namespace kv
