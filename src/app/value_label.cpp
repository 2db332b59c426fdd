#include "value_label.h"

#include <QFontMetricsF>
#include <QPainter>

void ValueLabel::paintEvent(QPaintEvent* event) {
    const QRectF area = contentsRect().marginsRemoved(QMargins(margin(), 0, margin(), 0));
    const QString shown = text();
    auto width = [&](const QFont& f) { return QFontMetricsF(f).horizontalAdvance(shown); };
    QFont f = font();
    if (width(f) <= area.width()) {
        QLabel::paintEvent(event);
        return;
    }
    while (f.pointSizeF() > kSmallestPoints && width(f) > area.width())
        f.setPointSizeF(qMax(kSmallestPoints, f.pointSizeF() - 0.25));
    QPainter painter(this);
    painter.setFont(f);
    painter.setPen(palette().color(foregroundRole()));
    const QString fitted = QFontMetricsF(f).elidedText(shown, Qt::ElideRight, area.width());
    painter.drawText(area, static_cast<int>(alignment()), fitted);
}
