#include "weight_format.h"

#include <cmath>

namespace {

bool allZeroDigits(const QString& text) {
    for (const QChar c : text)
        if (c.isDigit() && c != QLatin1Char('0')) return false;
    return true;
}

}  // namespace

QString formatWeight(double value, int decimals, const QLocale& locale) {
    const int places = decimals > 0 ? decimals : 0;
    // The C-locale 'f' conversion writes every integer digit, never groups and rounds
    // correctly; only the separator comes from the operator's locale.
    QString text = QString::number(value, 'f', places);
    if (text.startsWith(QLatin1Char('-')) && allZeroDigits(text)) text.remove(0, 1);
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point >= 0) text.replace(point, 1, locale.decimalPoint());
    return text;
}

namespace {

// Powers of ten up to 10^22 are exact in a double, so one built from whole
// multiplications gives the nearest double to the decimal the module means (std::pow
// need not be exact).
double stepsPerUnit(int decimals) {
    double power = 1.0;
    for (int i = 0; i < decimals; ++i) power *= 10.0;
    return power;
}

}  // namespace

double stepsWeight(double steps, int decimals) {
    return steps / stepsPerUnit(decimals);
}

qint64 displaySteps(double weight, int decimals) {
    return std::llround(weight * stepsPerUnit(decimals));
}
