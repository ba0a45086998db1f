#include "platform/dialog_units.h"

#include <QFontMetrics>

#include <cstdlib>

namespace platform {

namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLetters = 52;

int MulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    const long long rounded = product >= 0 ? (product + half) / denominator : (product - half) / denominator;
    return static_cast<int>(rounded);
}

}  // namespace

DialogUnits::DialogUnits(int baseWidth, int baseHeight) : baseWidth_(baseWidth), baseHeight_(baseHeight) {}

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
    baseWidth_ = (letters / (kAlphabetLetters / 2) + 1) / 2;
    baseHeight_ = metrics.height();
}

int DialogUnits::X(int units) const
{
    return MulDiv(units, baseWidth_, 4);
}

int DialogUnits::Y(int units) const
{
    return MulDiv(units, baseHeight_, 8);
}

QRect DialogUnits::Map(int x, int y, int width, int height) const
{
    // Edges are converted, not sizes, so that controls that touch in units touch in pixels.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QFont DialogFont(const char* family, int pointSize)
{
    QFont font(QString::fromLatin1(family), pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace platform
