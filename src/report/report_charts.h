#pragma once

#include <QLocale>
#include <QPainter>
#include <QRectF>

#include "report_data.h"

// A product's pictures, drawn with QPainter in the chart renderer's manner (its steps,
// colours and font), so that they stay lines and text in a PDF. Fonts in points: the
// painter's device sets their size.

// How the final weights spread: bars of equal width, the theoretical weight and the
// tolerance limits marked.
void drawHistogram(QPainter& painter, const QRectF& area, const ProductChart& chart, int decimals,
                   const QLocale& locale);

// The final weights in time order, red where out of tolerance, the theoretical weight and
// the limits across.
void drawRunChart(QPainter& painter, const QRectF& area, const ProductChart& chart, int decimals,
                  const QLocale& locale);
