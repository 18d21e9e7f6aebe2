// Dialog units to pixels. A dialog template measures its controls in units of
// its font: a quarter of the average character width across, an eighth of the
// character height down. Laying the Qt dialog out from the same numbers keeps
// every control where the template puts it, whatever font the desktop uses.
#pragma once

#include <QFont>
#include <QRect>

namespace kv {

struct DialogBaseUnits {
  int x = 0;  // average width of A-Z and a-z, in pixels, rounded
  int y = 0;  // character height, in pixels
};

DialogBaseUnits BaseUnitsOf(const QFont& font);

// MulDiv rounding (to nearest, halves away from zero), as dialog managers do.
int DialogUnitsToPixelsX(const DialogBaseUnits& units, int du);
int DialogUnitsToPixelsY(const DialogBaseUnits& units, int du);
QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height);

}  // namespace kv
