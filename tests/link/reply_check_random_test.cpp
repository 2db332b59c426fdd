#include <gtest/gtest.h>

#include <random>

#include "reply_rules.h"

namespace {

class Fuzzer {
public:
    // A fixed start value keeps every run identical, so a failure can be replayed.
    explicit Fuzzer(std::uint32_t fixedStartValue) : random_(fixedStartValue) {}

    int upTo(int max) { return std::uniform_int_distribution<int>(0, max)(random_); }
    char byte() { return static_cast<char>(upTo(255)); }

    QByteArray bytes(int length) {
        QByteArray result(length, '\0');
        for (char& b : result) b = byte();
        return result;
    }

    // One to three flipped, replaced, inserted or removed bytes, a cut or a tail.
    QByteArray mutate(QByteArray frame) {
        for (int edits = 1 + upTo(2); edits > 0; --edits) {
            const int at = frame.isEmpty() ? 0 : upTo(static_cast<int>(frame.size()) - 1);
            const int kind = frame.isEmpty() ? 2 + upTo(1) * 3 : upTo(5);
            if (kind == 0) frame[at] = static_cast<char>(frame[at] ^ (1 << upTo(7)));
            if (kind == 1) frame[at] = byte();
            if (kind == 2) frame.insert(at, byte());
            if (kind == 3) frame.remove(at, 1);
            if (kind == 4) frame.truncate(upTo(static_cast<int>(frame.size())));
            if (kind == 5) frame += bytes(1 + upTo(4));
        }
        return frame;
    }

private:
    std::mt19937 random_;
};

::testing::AssertionResult rulesHold(const QByteArray& bytes, int count) {
    if (const char* wrong = reply_rules::disagreement(bytes, count))
        return ::testing::AssertionFailure()
               << wrong << ": " << bytes.toHex().constData() << " count " << count;
    return ::testing::AssertionSuccess();
}

TEST(ReplyChecksRandom, RandomBytesOfAnyLength) {
    Fuzzer fuzz(0x1234ABCDu);
    for (int i = 0; i < 150000; ++i) {
        const QByteArray bytes = fuzz.bytes(fuzz.upTo(300));
        ASSERT_TRUE(rulesHold(bytes, fuzz.upTo(300) - 20));
    }
}

TEST(ReplyChecksRandom, ShortFramesWithValidCrcAreJudgedByLength) {
    // Random bytes almost never carry a matching CRC; sealing them does, so the
    // length rules get exercised on frames whose CRC is right.
    Fuzzer fuzz(424242u);
    for (int i = 0; i < 100000; ++i) {
        const QByteArray frame = modbus::withCrc(fuzz.bytes(fuzz.upTo(40)));
        ASSERT_TRUE(rulesHold(frame, fuzz.upTo(20)));
    }
}

TEST(ReplyChecksRandom, MutatedValidReplies) {
    Fuzzer fuzz(20260712u);
    for (int i = 0; i < 100000; ++i) {
        const int count = 1 + fuzz.upTo(i % 10 == 0 ? 254 : 12);
        QByteArray body = fuzz.bytes(3 + 2 * count);
        body[1] = char(modbus::kReadHoldingRegisters);
        body[2] = static_cast<char>(2 * count);
        const QByteArray read = modbus::withCrc(body);
        body[1] = char(modbus::kWriteSingleRegister);
        const QByteArray write = modbus::withCrc(body.left(6));
        for (const QByteArray& valid : {read, write}) {
            ASSERT_TRUE(rulesHold(valid, count));
            ASSERT_TRUE(rulesHold(fuzz.mutate(valid), count));
        }
    }
}

}  // namespace
