#pragma once

#include <QColor>
#include <QFont>
#include <QLocale>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QTimeZone>
#include <optional>
#include <vector>

#include "decimator.h"

// What every chart of the station shares, the report's pictures too: the typeface (its size
// set by each) and the colours of what they mean alike.
QFont chartTypeface();
inline const QColor kChartTarget(110, 50, 150);  // the theoretical weight
inline const QColor kChartGrid(225, 225, 225);
inline const QColor kChartAxis(90, 90, 90);
inline const QColor kChartAlarm(220, 0, 0);  // out of tolerance

// The dosing cycle's setpoints, drawn as labelled horizontal lines.
struct ChartSetpoints {
    double coarse = 0;
    double fine = 0;
    double target = 0;
    bool operator==(const ChartSetpoints&) const = default;
};

// A dosing cycle's final weight, marked where the curve settled on it.
struct ChartMark {
    qint64 ms = 0;
    double value = 0;
    bool alarm = false;  // out of tolerance
    bool operator==(const ChartMark&) const = default;
};

// Everything one picture of the weight shows; the live window and the log's picture
// both come down to this.
struct ChartInput {
    std::vector<Bucket> buckets;  // in time order, any width
    qint64 fromMs = 0;
    qint64 toMs = 0;
    int decimals = 0;
    QLocale locale;
    QTimeZone zone = QTimeZone::utc();  // in which the times are labelled
    std::optional<ChartSetpoints> setpoints;
    std::vector<ChartMark> marks;  // in time order
    QString caption;               // top left, e.g. the file's name
};

// Draws the chart into `area`, one pass over the buckets whatever their number: each
// pixel column gets the extremes of what falls in it.
void drawChart(QPainter& painter, const QRectF& area, const ChartInput& input);

// PNG, or SVG when `path` ends in ".svg"; an error text (Spanish) or empty.
QString saveChart(const QString& path, QSize size, const ChartInput& input);

// Tick steps that read well: 1, 2 or 5 times a power of ten, not finer than the
// weight's own resolution.
double niceStep(double roughStep, int decimals);
// The time step between labelled ticks, from a fixed list of round steps, so that
// about `maxTicks` or fewer fit in the span.
qint64 timeStep(qint64 spanMs, int maxTicks);
