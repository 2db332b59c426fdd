#include "display_map.h"

namespace {

constexpr int kCharacters = 8;
constexpr int kBits = 8;

}  // namespace

SegmentStates segmentsFromDisplay(const QByteArray& display) {
    SegmentStates states{};
    // Anything shorter than a whole display is no image at all: showing half of one
    // would light a meaningless mix of old and new segments.
    if (display.size() < kCharacters) return states;
    for (int i = 1; i <= kCharacters; ++i) {
        const auto c = static_cast<quint8>(display.at(i - 1));
        for (int j = 1; j <= kBits; ++j) states[kBits * (i - 1) + j] = ((c >> (j - 1)) & 1) != 0;
    }
    return states;
}

bool motionShown(const QByteArray& display) {
    return segmentsFromDisplay(display)[seg::kMvto];
}
