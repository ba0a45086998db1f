#include "wizard/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor kSkyTop(14, 40, 74);
const QColor kSkyBottom(28, 104, 130);
const QColor kSignal(255, 255, 255, 90);
const QColor kCase(44, 48, 56);
const QColor kCaseEdge(96, 104, 118);
const QColor kDisplay(10, 18, 12);
const QColor kDigits(120, 240, 90);
const QColor kCable(222, 226, 232);
const QColor kChunkColours[] = {QColor(236, 120, 64), QColor(244, 196, 72), QColor(96, 196, 120),
                                QColor(88, 160, 226), QColor(172, 124, 220)};

// Positions as fractions of the strip, so the picture fits any font's dialog units.
struct Frame {
    QRectF area;
    QPointF At(double x, double y) const { return {area.left() + x * area.width(), area.top() + y * area.height()}; }
    double W(double x) const { return x * area.width(); }
    double H(double y) const { return y * area.height(); }
    QRectF Box(double x, double y, double w, double h) const { return {At(x, y), QSizeF(W(w), H(h))}; }
};

void DrawBackground(QPainter& painter, const Frame& frame)
{
    QLinearGradient sky(frame.At(0, 0), frame.At(0, 1));
    sky.setColorAt(0, kSkyTop);
    sky.setColorAt(1, kSkyBottom);
    painter.fillRect(frame.area, sky);
    // A few stars in the upper part.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 150));
    const QPointF stars[] = {{0.12, 0.04}, {0.78, 0.07}, {0.55, 0.15}, {0.2, 0.2}, {0.88, 0.24}, {0.4, 0.03}};
    for (const QPointF& star : stars) {
        painter.drawEllipse(frame.At(star.x(), star.y()), 1.2, 1.2);
    }
}

void DrawDish(QPainter& painter, const Frame& frame)
{
    const QPointF centre = frame.At(0.32, 0.2);
    const double radius = frame.W(0.2);
    // Signal arcs arriving from the upper right.
    painter.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        painter.setPen(QPen(kSignal, 2));
        const double r = radius * (0.9 + 0.45 * i);
        painter.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 20 * 16, 50 * 16);
    }
    // The dish, a tilted bowl on a mast.
    painter.save();
    painter.translate(centre);
    painter.rotate(-35);
    QPainterPath bowl;
    bowl.moveTo(-radius, 0);
    bowl.quadTo(0, radius * 1.25, radius, 0);
    bowl.closeSubpath();
    painter.setPen(QPen(kCaseEdge, 1.5));
    painter.setBrush(QColor(214, 220, 228));
    painter.drawPath(bowl);
    painter.setPen(QPen(QColor(214, 220, 228), 2));
    painter.drawLine(QPointF(0, radius * 0.55), QPointF(0, -radius * 0.75));
    painter.setBrush(kCaseEdge);
    painter.drawEllipse(QPointF(0, -radius * 0.8), 3, 3);
    painter.restore();
    painter.setPen(QPen(QColor(170, 178, 190), 3));
    painter.drawLine(frame.At(0.34, 0.25), frame.At(0.34, 0.33));
}

// The receiver; returns the point where its cable leaves.
QPointF DrawReceiver(QPainter& painter, const Frame& frame)
{
    const QRectF body = frame.Box(0.1, 0.36, 0.8, 0.12);
    painter.setPen(QPen(kCaseEdge, 1.5));
    painter.setBrush(kCase);
    painter.drawRoundedRect(body, 4, 4);
    const QRectF display = frame.Box(0.18, 0.39, 0.36, 0.055);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kDisplay);
    painter.drawRoundedRect(display, 2, 2);
    QFont digits = painter.font();
    digits.setBold(true);
    digits.setPixelSize(std::max(8, static_cast<int>(display.height() * 0.75)));
    painter.setFont(digits);
    painter.setPen(kDigits);
    painter.drawText(display, Qt::AlignCenter, QStringLiteral("boot"));
    // Buttons and the standby light.
    painter.setPen(Qt::NoPen);
    painter.setBrush(kCaseEdge);
    for (int i = 0; i < 3; ++i) {
        painter.drawEllipse(frame.At(0.62 + 0.065 * i, 0.4175), frame.W(0.022), frame.W(0.022));
    }
    painter.setBrush(QColor(255, 80, 60));
    painter.drawEllipse(frame.At(0.81, 0.4175), 2.5, 2.5);
    return frame.At(0.5, 0.48);
}

void DrawCable(QPainter& painter, const Frame& frame, QPointF from)
{
    const QPointF plug = frame.At(0.5, 0.8);
    QPainterPath cable(from);
    cable.cubicTo(frame.At(0.1, 0.58), frame.At(0.9, 0.68), plug);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kCable, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(cable);
    // The nine-pin plug: a trapezoid with two rows of pins.
    const double w = frame.W(0.3);
    const double h = frame.H(0.05);
    QPolygonF shell;
    shell << QPointF(plug.x() - w / 2, plug.y()) << QPointF(plug.x() + w / 2, plug.y())
          << QPointF(plug.x() + w * 0.4, plug.y() + h) << QPointF(plug.x() - w * 0.4, plug.y() + h);
    painter.setPen(QPen(kCaseEdge, 1.5));
    painter.setBrush(QColor(190, 196, 206));
    painter.drawPolygon(shell);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kCase);
    for (int i = 0; i < 5; ++i) {
        painter.drawEllipse(QPointF(plug.x() - w * 0.32 + i * w * 0.16, plug.y() + h * 0.33), 1.6, 1.6);
    }
    for (int i = 0; i < 4; ++i) {
        painter.drawEllipse(QPointF(plug.x() - w * 0.24 + i * w * 0.16, plug.y() + h * 0.7), 1.6, 1.6);
    }
}

void DrawChunks(QPainter& painter, const Frame& frame)
{
    // The flash as a column of chunks of different sizes, one of them lifted out.
    const double heights[] = {0.05, 0.14, 0.06, 0.05, 0.08};
    double y = 0.53;
    for (int i = 0; i < 5; ++i) {
        const double shift = i == 1 ? 0.08 : 0.0;
        painter.setPen(QPen(kSkyTop, 1));
        painter.setBrush(kChunkColours[i]);
        painter.drawRoundedRect(frame.Box(0.22 + shift, y, 0.5, heights[i] - 0.008), 3, 3);
        y += heights[i];
    }
}

void DrawFlashChip(QPainter& painter, const Frame& frame)
{
    // Data dropping from the receiver into the chip.
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        painter.setBrush(QColor(120, 240, 90, 90 + 40 * i));
        painter.drawRect(frame.Box(0.46, 0.52 + 0.045 * i, 0.08, 0.025));
    }
    const QRectF chip = frame.Box(0.26, 0.72, 0.48, 0.12);
    painter.setPen(QPen(QColor(190, 196, 206), 2));
    for (int i = 0; i < 6; ++i) {
        const double x = chip.left() + chip.width() * (i + 0.5) / 6;
        painter.drawLine(QPointF(x, chip.top() - 5), QPointF(x, chip.top()));
        painter.drawLine(QPointF(x, chip.bottom()), QPointF(x, chip.bottom() + 5));
    }
    painter.setPen(QPen(kCaseEdge, 1.5));
    painter.setBrush(QColor(24, 26, 30));
    painter.drawRoundedRect(chip, 3, 3);
    painter.setBrush(kCaseEdge);
    painter.drawEllipse(QPointF(chip.left() + 6, chip.top() + 6), 2, 2);
    painter.setPen(QColor(200, 206, 214));
    QFont label = painter.font();
    label.setBold(true);
    label.setPixelSize(std::max(8, static_cast<int>(chip.height() * 0.35)));
    painter.setFont(label);
    painter.drawText(chip, Qt::AlignCenter, QStringLiteral("FLASH"));
}

}  // namespace

void DrawWizardPicture(QPainter& painter, const QRect& area, WizardPicture picture)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(area);
    const Frame frame{QRectF(area)};
    DrawBackground(painter, frame);
    DrawDish(painter, frame);
    const QPointF cableStart = DrawReceiver(painter, frame);
    switch (picture) {
    case WizardPicture::Connect:
        DrawCable(painter, frame, cableStart);
        break;
    case WizardPicture::Select:
        DrawChunks(painter, frame);
        break;
    case WizardPicture::Process:
        DrawFlashChip(painter, frame);
        break;
    }
    painter.restore();
}

QPixmap PaperImage(bool ticked)
{
    QPixmap image(ListImageSize, ListImageSize);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A sheet with its upper right corner folded over.
    QPolygonF sheet;
    sheet << QPointF(2.5, 0.5) << QPointF(10.5, 0.5) << QPointF(13.5, 3.5) << QPointF(13.5, 15.5) << QPointF(2.5, 15.5);
    painter.setPen(QPen(QColor(90, 96, 110), 1));
    painter.setBrush(Qt::white);
    painter.drawPolygon(sheet);
    QPolygonF fold;
    fold << QPointF(10.5, 0.5) << QPointF(10.5, 3.5) << QPointF(13.5, 3.5);
    painter.setBrush(QColor(210, 214, 222));
    painter.drawPolygon(fold);
    painter.setPen(QPen(QColor(150, 160, 178), 1));
    for (int line = 0; line < 4; ++line) {
        const double y = 6.5 + 2.5 * line;
        painter.drawLine(QPointF(4.5, y), QPointF(line == 3 ? 9.0 : 11.5, y));
    }
    if (ticked) {
        QPainterPath tick(QPointF(3.0, 9.0));
        tick.lineTo(QPointF(6.5, 13.0));
        tick.lineTo(QPointF(14.5, 2.5));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(255, 255, 255), 4.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(tick);
        painter.setPen(QPen(QColor(30, 150, 60), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(tick);
    }
    return image;
}
