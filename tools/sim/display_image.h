#pragma once

#include <QByteArray>
#include <QtGlobal>

// The module's eight display characters as the panel drives them: character 1 and 2
// carry the signs, characters 3 to 8 the six seven-segment digits (3 rightmost).
// Within a digit: bit 0 the point right of it, bit 1 c, bit 2 d, bit 3 e, bit 4 b,
// bit 5 a, bit 6 f, bit 7 g.

namespace sim {

constexpr int kDigits = 6;
constexpr quint8 kSegPoint = 0x01;
constexpr quint8 kSegMinus = 0x80;  // segment g alone

// Seven-segment pattern of one decimal digit (0..9), point off.
quint8 digitPattern(int digit);
// The digit a pattern shows (point ignored), or -1 when it is not a digit.
int patternDigit(quint8 pattern);

// Signs and markers, lit or not.
struct Markers {
    bool moving = false;  // MVTO
    bool print = false;
    bool negTriangle = false;
    bool f1Triangle = false;
    bool bruto = false;
    bool tara = false;
    bool cero = false;
    bool kg = true;
};

// The six digit characters (rightmost first) for a value in display steps: right
// aligned, leading zeros blanked down to the units digit, the point right of the
// units digit when there are decimals, a minus on the leftmost digit for negative
// values. A value that does not fit shows six dashes.
QByteArray digitCharacters(qint64 steps, int decimals);

// Characters 1 and 2.
QByteArray signCharacters(const Markers& markers);

// The whole 8-byte image, character 1 first.
QByteArray displayImage(qint64 steps, int decimals, const Markers& markers);

}  // namespace sim
