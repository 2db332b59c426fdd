#pragma once

#include <QPainterPath>
#include <QRectF>

class QPainter;

// The front-panel artwork, drawn as vector paths in twips so it scales with the widget
// that shows it. Panel coordinates are relative to the panel picture (10440 x 6420);
// element coordinates are relative to the display window (5835 x 1875), which is where
// the element widgets lie.
namespace panel {

constexpr QSizeF kPanelSize{10440, 6420};
constexpr QRectF kDisplayWindow{2235, 1185, 5835, 1875};
constexpr double kKeyTop = 4440;
constexpr double kKeySize = 855;
constexpr double kKeyLeft[5] = {3000, 3840, 4800, 5640, 6480};

// The outline of display element `index` (1..64) in display-window twips, filled
// non-zero. Empty for the blank points of the outer digits and for indices out of range.
QPainterPath elementPath(int index);

// The panel drawing in panel twips.
void paintPanel(QPainter& painter);

// Element `index` in the LCD's ink, in display-window twips.
void paintElement(QPainter& painter, int index);

// The program's icon: the panel's face, its display reading 8.8.8.8.8.8, on a transparent
// square `side` pixels wide.
void paintIcon(QPainter& painter, double side);

}  // namespace panel
