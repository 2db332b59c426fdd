#pragma once

#include <QWidget>

// The front panel's widgets in the window; panel_art.h draws what they show.

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

signals:
    void clicked(int index);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int index_;
    bool pressed_ = false;
};
