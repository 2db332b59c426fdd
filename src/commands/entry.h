#pragma once

#include <QLocale>
#include <QString>

// What the operator typed, turned into the value that is sent.
struct NormalizedEntry {
    QString text;  // written back into the box: the locale's form, up to 15 significant digits
    double value;  // the number that text reads as in the locale
};

// The leading number of `text` (blanks, tabs and line feeds skipped wherever they
// stand; optional sign; digits with at most one full stop as the decimal point,
// whatever the locale; optional exponent). Text without a leading number is 0.
double leadingNumber(const QString& text);

NormalizedEntry normalizeEntry(const QString& text, const QLocale& locale);
