#pragma once

#include <QLocale>
#include <QString>

// The number pattern for weights and setpoints: "#####0" or "#####0." and one 0 per
// decimal.
QString WeightFormat(int decimals);

// A value formatted as WeightFormat(decimals) reads: the integer part in full without
// grouping or leading zeros, exactly `decimals` places after the locale's decimal
// separator, a leading minus for negatives.
QString formatWeight(double value, int decimals, const QLocale& locale);
