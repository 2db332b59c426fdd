#include "panel_widgets.h"

#include <QMouseEvent>
#include <QPainter>

#include "panel_art.h"

PanelPicture::PanelPicture(QWidget* parent) : QWidget(parent) {}

void PanelPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(width() / panel::kPanelSize.width(), height() / panel::kPanelSize.height());
    panel::paintPanel(p);
}

SegmentImage::SegmentImage(int index, QWidget* parent) : QWidget(parent), index_(index) {
    // Overlays only: the key areas and the panel under them take the clicks.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SegmentImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(width() / panel::kDisplayWindow.width(), height() / panel::kDisplayWindow.height());
    panel::paintElement(p, index_);
}

KeyArea::KeyArea(int index, QWidget* parent) : QWidget(parent), index_(index) {
    setCursor(Qt::PointingHandCursor);
}

void KeyArea::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

void KeyArea::mouseReleaseEvent(QMouseEvent* event) {
    // Like a button: letting go outside the key cancels the press.
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) emit clicked(index_);
}
