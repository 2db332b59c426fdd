#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include "report_data.h"

// The report as an A4 PDF in Spanish: the period, then each module's figures per product
// and lot with the product's pictures, its changes with the chain's verdict and its
// completed lots; "Página 2 de 5" at the foot of each page. Numbers and dates in
// `locale`. An error line, or empty when it was written. Needs a QGuiApplication (fonts).
QString writeReportPdf(const QString& path, const ReportData& data, const QLocale& locale,
                       const QDateTime& madeAt);
