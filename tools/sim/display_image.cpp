#include "display_image.h"

#include <array>
#include <cstdlib>

namespace sim {

namespace {

constexpr quint8 kA = 0x20, kB = 0x10, kC = 0x02, kD = 0x04, kE = 0x08, kF = 0x40, kG = 0x80;

constexpr std::array<quint8, 10> kPatterns = {
    kA | kB | kC | kD | kE | kF,       // 0
    kB | kC,                           // 1
    kA | kB | kG | kE | kD,            // 2
    kA | kB | kG | kC | kD,            // 3
    kF | kG | kB | kC,                 // 4
    kA | kF | kG | kC | kD,            // 5
    kA | kF | kG | kE | kD | kC,       // 6
    kA | kB | kC,                      // 7
    kA | kB | kC | kD | kE | kF | kG,  // 8
    kA | kB | kC | kD | kF | kG,       // 9
};

// Bits of character 1 (bit 0 first): MVTO, PRINT, then the triangles above TOTAL,
// F4, F3, F2, F1, NEG. Character 2: BRUTO, TARA, CERO arrows, lb, k, g, BAT, stack.
constexpr quint8 kBitMvto = 0x01, kBitPrint = 0x02, kBitF1 = 0x40, kBitNeg = 0x80;
constexpr quint8 kBitBruto = 0x01, kBitTara = 0x02, kBitCero = 0x04, kBitK = 0x10, kBitG = 0x20;

qint64 powerOfTen(int n) {
    qint64 p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

}  // namespace

quint8 digitPattern(int digit) {
    return digit >= 0 && digit <= 9 ? kPatterns[digit] : 0;
}

int patternDigit(quint8 pattern) {
    const quint8 segments = pattern & static_cast<quint8>(~kSegPoint);
    for (int d = 0; d < 10; ++d)
        if (kPatterns[d] == segments) return d;
    return -1;
}

QByteArray digitCharacters(qint64 steps, int decimals) {
    decimals = qBound(0, decimals, kDigits - 1);
    const bool negative = steps < 0;
    const qint64 magnitude = negative ? -steps : steps;
    // A negative value gives up the leftmost digit to its minus sign.
    const int room = negative ? kDigits - 1 : kDigits;
    QByteArray chars(kDigits, '\0');
    if (magnitude >= powerOfTen(room)) {
        chars.fill(static_cast<char>(kSegMinus));
        return chars;
    }
    qint64 rest = magnitude;
    for (int i = 0; i < room; ++i) {
        const bool needed = rest != 0 || i <= decimals;
        if (!needed) break;
        chars[i] = static_cast<char>(digitPattern(static_cast<int>(rest % 10)));
        rest /= 10;
    }
    if (decimals > 0) chars[decimals] = static_cast<char>(chars[decimals] | kSegPoint);
    if (negative) chars[kDigits - 1] = static_cast<char>(kSegMinus);
    return chars;
}

QByteArray signCharacters(const Markers& m) {
    quint8 first = 0, second = 0;
    if (m.moving) first |= kBitMvto;
    if (m.print) first |= kBitPrint;
    if (m.f1Triangle) first |= kBitF1;
    if (m.negTriangle) first |= kBitNeg;
    if (m.bruto) second |= kBitBruto;
    if (m.tara) second |= kBitTara;
    if (m.cero) second |= kBitCero;
    if (m.kg) second |= kBitK | kBitG;
    QByteArray chars;
    chars.append(static_cast<char>(first));
    chars.append(static_cast<char>(second));
    return chars;
}

QByteArray displayImage(qint64 steps, int decimals, const Markers& markers) {
    return signCharacters(markers) + digitCharacters(steps, decimals);
}

}  // namespace sim
