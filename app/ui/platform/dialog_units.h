// Dialog units: control positions and sizes given relative to the dialog font, so that a
// layout keeps its proportions whatever font the system offers. A horizontal unit is a quarter
// of the font's average character width, a vertical unit an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>

namespace platform {

class DialogUnits {
public:
    // Base units in pixels: the average width of the Latin letters (rounded) and the height.
    DialogUnits(int baseWidth, int baseHeight);
    explicit DialogUnits(const QFont& font);

    int BaseWidth() const { return baseWidth_; }
    int BaseHeight() const { return baseHeight_; }

    // Horizontal units times baseWidth / 4, vertical ones times baseHeight / 8, rounded to the
    // nearest pixel, halves away from zero.
    int X(int units) const;
    int Y(int units) const;
    // A rectangle's four edges, each converted on its own.
    QRect Map(int x, int y, int width, int height) const;

private:
    int baseWidth_;
    int baseHeight_;
};

// The dialog templates' font: the named family where the system has it, else the system's
// nearest sans-serif face, at the given size.
QFont DialogFont(const char* family, int pointSize);

}  // namespace platform
