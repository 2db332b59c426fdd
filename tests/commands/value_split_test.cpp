#include "value_split.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// Register values of a split (each register string low byte first).
std::vector<int> words(const std::optional<std::vector<QByteArray>>& split) {
    std::vector<int> result;
    for (const QByteArray& s : split.value())
        result.push_back(static_cast<quint8>(s.at(0)) + 256 * static_cast<quint8>(s.at(1)));
    return result;
}

using Words = std::vector<int>;

// The worked examples of whole values are in requests_test.cpp.
TEST(ValueSplit, WordsLowFirstFractionDropped) {
    EXPECT_EQ(words(splitValue32(0x12345678)), (Words{0x5678, 0x1234}));
    EXPECT_EQ(words(splitValue32(4294967295.0)), (Words{65535, 65535}));
    EXPECT_EQ(words(splitValue32(4294967295.9)), (Words{65535, 65535}));
    EXPECT_EQ(words(splitValue32(12.9)), (Words{12, 0}));
    EXPECT_EQ(words(splitValue16(65535.9)), Words{65535});
}

TEST(ValueSplit, RefusesWhatCannotBeSent) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double v :
         {-1.0, -0.5, std::numeric_limits<double>::quiet_NaN(), inf, -inf, 4294967296.0}) {
        EXPECT_FALSE(splitValue32(v)) << v;
        EXPECT_FALSE(splitValue16(v)) << v;
    }
    EXPECT_FALSE(splitValue16(65536));
    EXPECT_EQ(words(splitValue32(-0.0)), (Words{0, 0}));
}

}  // namespace
