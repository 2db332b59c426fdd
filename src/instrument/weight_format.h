#pragma once

#include <QLocale>
#include <QString>
#include <QtGlobal>

// A weight or setpoint as the station shows and logs it: the integer part in full without
// grouping or leading zeros, exactly `decimals` places after the locale's decimal
// separator, a leading minus for negatives.
QString formatWeight(double value, int decimals, const QLocale& locale);

// The module keeps weights and setpoints as whole display steps, the weight times
// 10^decimals: a count of steps (a fraction of one, for a mean) as a weight, and a
// weight back to the nearest whole step.
double stepsWeight(double steps, int decimals);
qint64 displaySteps(double weight, int decimals);
