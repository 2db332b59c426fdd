#pragma once

#include <QByteArray>
#include <array>

// The 64 ImgSeg elements of the front-panel replica, indexed 1..64 as on the panel
// (index 0 unused): element 8*(character-1) + bit + 1 shows bit `bit` of display
// character `character`.
using SegmentStates = std::array<bool, 65>;

SegmentStates segmentsFromDisplay(const QByteArray& display);
// Whether the module's motion sign ("MVTO") is lit in the image: its weight is moving.
bool motionShown(const QByteArray& display);

// Element meanings, for drawing.
namespace seg {
constexpr int kMvto = 1;
constexpr int kPrint = 2;
constexpr int kTriangleFirst = 3;  // 3 above TOTAL .. 8 above NEG.
constexpr int kArrowBruto = 9;
constexpr int kArrowTara = 10;
constexpr int kArrowCero = 11;
constexpr int kLb = 12;
constexpr int kK = 13;
constexpr int kG = 14;
constexpr int kBat = 15;
constexpr int kStack = 16;
// First index of digit d, d = 0 for the rightmost .. 5 for the leftmost. Within a
// digit: +0 point right of it, +1 c, +2 d, +3 e, +4 b, +5 a, +6 f, +7 g.
constexpr int digitFirst(int d) {
    return 17 + 8 * d;
}
}  // namespace seg
