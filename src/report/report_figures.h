#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include "report_data.h"

// A group's figures as the report prints them, the same in the PDF and in the summary
// table: weights with the module's places (mean, spread and mean deviation with two
// more, so a spread smaller than a step still shows), percentages with one, Cpk with two.
struct FigureTexts {
    QString doses;       // complete doses
    QString incomplete;  // Incompleta
    QString total;
    QString mean;
    QString stdDev;  // empty for fewer than two doses
    QString min;
    QString max;
    QString meanDeviation;
    QString below;  // Falta
    QString belowPercent;
    QString above;  // Exceso
    QString abovePercent;
    QString cpk;  // empty where no tolerance applies or there is no spread
};

FigureTexts figureTexts(const DoseGroup& group, int decimals, const QLocale& locale);

// "sin producto" for doses without one.
QString productText(const QString& product);

// The summary table for a spreadsheet: a header, then one line per module, product and
// lot; ';'-separated, the regional decimals, CR LF.
QByteArray summaryTable(const ReportData& data, const QLocale& locale);

// What Cpk means, once in the report.
QString cpkMeaning();
