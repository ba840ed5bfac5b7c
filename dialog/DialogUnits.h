// Dialog units: positions and sizes measured in the dialog font, so a layout drawn for one
// font keeps its proportions in another. A horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>

namespace quillon::dialog {

struct BaseUnits {
  int x;  // average character width in pixels
  int y;  // character height in pixels
};

// The font's base units: the width of "A".."Z" "a".."z" divided by 52 and the font's height,
// both rounded to whole pixels as the system does.
BaseUnits MeasureBaseUnits(const QFont& font);

// A rectangle in dialog units as pixels. Each edge is converted on its own, so controls that
// touch in dialog units touch in pixels and never overlap by rounding.
QRect DialogUnitsToPixels(const QRect& units, BaseUnits base);

}  // namespace quillon::dialog
