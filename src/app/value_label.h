#pragma once

#include <QLabel>

// A read-out whose text is never cut off: a value wider than the label (a 32-bit
// extreme, a weight with many decimals) is drawn in a smaller font until it fits, and
// in the last resort elided with "…", so a clipped number can never pass for another.
// The geometry and, for every value that fits, the look stay those of a plain label.
class ValueLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // The smallest font it shrinks to before eliding: still legible at 96 dpi.
    static constexpr double kSmallestPoints = 6.0;

protected:
    void paintEvent(QPaintEvent* event) override;
};
