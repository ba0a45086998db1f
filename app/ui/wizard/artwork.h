// The wizard's pictures, drawn by code: the strips at the pages' left edges and the two list
// images (a sheet of paper; the same sheet ticked, for a row with a file).
#pragma once

#include <QPixmap>
#include <QRect>

class QPainter;

enum class WizardPicture {
    Connect,  // a receiver and its serial cable
    Select,   // a receiver and its flash divided into chunks
    Process,  // a receiver and data flowing into its flash chip
};

void DrawWizardPicture(QPainter& painter, const QRect& area, WizardPicture picture);

// 16 x 16 pixels.
inline constexpr int ListImageSize = 16;
QPixmap PaperImage(bool ticked);
