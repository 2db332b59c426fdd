#include "value_split.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The register value carried by a register string (low byte first).
int word(const QByteArray& s) {
    return static_cast<quint8>(s[0]) + 256 * static_cast<quint8>(s[1]);
}

std::vector<int> words(const std::optional<std::vector<QByteArray>>& split) {
    std::vector<int> result;
    for (const QByteArray& s : split.value()) {
        EXPECT_EQ(s.size(), 2);
        result.push_back(word(s));
    }
    return result;
}

TEST(SplitValue32, LowWordFirst) {
    EXPECT_EQ(words(splitValue32(125)), (std::vector<int>{125, 0}));
    EXPECT_EQ(words(splitValue32(65536)), (std::vector<int>{0, 1}));
    EXPECT_EQ(words(splitValue32(70000)), (std::vector<int>{4464, 1}));
    EXPECT_EQ(words(splitValue32(4294967295.0)), (std::vector<int>{65535, 65535}));
    EXPECT_EQ(words(splitValue32(0x12345678)), (std::vector<int>{0x5678, 0x1234}));
    EXPECT_EQ(words(splitValue32(0)), (std::vector<int>{0, 0}));
}

TEST(SplitValue32, FractionDropped) {
    EXPECT_EQ(words(splitValue32(12.9)), (std::vector<int>{12, 0}));
    EXPECT_EQ(words(splitValue32(4294967295.9)), (std::vector<int>{65535, 65535}));
    EXPECT_EQ(words(splitValue32(65535.99)), (std::vector<int>{65535, 0}));
}

TEST(SplitValue16, BytesLowFirst) {
    const auto split = splitValue16(300);
    ASSERT_TRUE(split);
    ASSERT_EQ(split->size(), 1u);
    EXPECT_EQ(split->front(), QByteArray("\x2c\x01", 2));
    EXPECT_EQ(words(splitValue16(65535)), std::vector<int>{65535});
    EXPECT_EQ(words(splitValue16(258)), std::vector<int>{258});
    EXPECT_EQ(words(splitValue16(5.7)), std::vector<int>{5});
}

TEST(SplitValue, RefusesWhatCannotBeSent) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double v : {-1.0, -0.5, -1e300, nan, inf, -inf, 4294967296.0, 1e15}) {
        EXPECT_FALSE(splitValue32(v)) << v;
        EXPECT_FALSE(splitValue16(v)) << v;
    }
    EXPECT_FALSE(splitValue16(65536));
    EXPECT_FALSE(splitValue16(65536.5));
    EXPECT_TRUE(splitValue16(65535.9));
    EXPECT_TRUE(splitValue32(-0.0));
}

TEST(RegisterString, LowByteFirst) {
    EXPECT_EQ(registerString(0x1234), QByteArray("\x34\x12", 2));
    EXPECT_EQ(registerString(0), QByteArray(2, '\0'));
    EXPECT_EQ(registerString(0xFFFF), QByteArray("\xff\xff", 2));
}

}  // namespace
