#pragma once

#include <QLocale>
#include <QString>

// A weight or setpoint as the station shows and logs it: the integer part in full without
// grouping or leading zeros, exactly `decimals` places after the locale's decimal
// separator, a leading minus for negatives.
QString formatWeight(double value, int decimals, const QLocale& locale);
