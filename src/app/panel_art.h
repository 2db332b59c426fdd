#pragma once

#include <QPainterPath>
#include <QRectF>
#include <QWidget>

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

// The program's icon: the panel's face, its display reading 8.8.8.8.8.8, on a transparent
// square `side` pixels wide.
void paintIcon(QPainter& painter, double side);

}  // namespace panel

// The picture box: paints the panel scaled to its own size.
class PanelPicture : public QWidget {
    Q_OBJECT
public:
    explicit PanelPicture(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One display element: a transparent overlay the size of the display window that
// paints its element in the LCD's ink and ignores the mouse.
class SegmentImage : public QWidget {
    Q_OBJECT
public:
    SegmentImage(int index, QWidget* parent = nullptr);
    int index() const { return index_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int index_;
};

// A transparent click area over one key; a press released inside it is a click.
class KeyArea : public QWidget {
    Q_OBJECT
public:
    KeyArea(int index, QWidget* parent = nullptr);
    int index() const { return index_; }

signals:
    void clicked(int index);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int index_;
    bool pressed_ = false;
};
