#include "dialog/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace quillon::dialog {
namespace {

constexpr int kHorizontalUnitsPerChar = 4;
constexpr int kVerticalUnitsPerChar = 8;
constexpr int kAlphabetLetters = 26;

// units * base / divisor, rounded half up.
int Scale(int units, int base, int divisor) { return (2 * units * base + divisor) / (2 * divisor); }

}  // namespace

BaseUnits MeasureBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabets =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // Twice the alphabet is 52 letters: halving the per-26 width rounds the average.
  return {(alphabets / kAlphabetLetters + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& units, BaseUnits base) {
  const int left = Scale(units.x(), base.x, kHorizontalUnitsPerChar);
  const int top = Scale(units.y(), base.y, kVerticalUnitsPerChar);
  const int right = Scale(units.x() + units.width(), base.x, kHorizontalUnitsPerChar);
  const int bottom = Scale(units.y() + units.height(), base.y, kVerticalUnitsPerChar);
  return QRect(left, top, right - left, bottom - top);
}

}  // namespace quillon::dialog
