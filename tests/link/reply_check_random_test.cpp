#include <gtest/gtest.h>

#include <random>

#include "frames.h"

namespace {

// Bit-by-bit CRC, written independently of the table-driven one under test.
quint16 referenceCrc(const QByteArray& bytes) {
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<quint16>((crc >> 1) ^ 0xA001u) : crc >> 1;
    }
    return crc;
}

bool referenceCrcMatches(const QByteArray& frame) {
    if (frame.size() < 2) return false;
    const quint16 crc = referenceCrc(frame.left(frame.size() - 2));
    return static_cast<quint8>(frame[frame.size() - 2]) == (crc & 0xFF) &&
           static_cast<quint8>(frame[frame.size() - 1]) == (crc >> 8);
}

class Fuzzer {
public:
    // A fixed start value keeps every run identical, so a failure can be replayed.
    explicit Fuzzer(std::uint32_t fixedStartValue) : random_(fixedStartValue) {}

    int upTo(int max) { return std::uniform_int_distribution<int>(0, max)(random_); }
    char byte() { return static_cast<char>(upTo(255)); }

    QByteArray randomBytes(int length) {
        QByteArray bytes(length, '\0');
        for (char& b : bytes) b = byte();
        return bytes;
    }

    QByteArray validReadReply(int count) {
        QByteArray body;
        body.append(byte());
        body.append(char(modbus::kReadHoldingRegisters));
        body.append(static_cast<char>(2 * count));
        body += randomBytes(2 * count);
        return modbus::withCrc(body);
    }

    QByteArray mutate(QByteArray frame) {
        const int edits = 1 + upTo(2);
        for (int e = 0; e < edits; ++e) {
            const int at = frame.isEmpty() ? 0 : upTo(static_cast<int>(frame.size()) - 1);
            switch (upTo(5)) {
                case 0:
                    if (!frame.isEmpty()) frame[at] = static_cast<char>(frame[at] ^ (1 << upTo(7)));
                    break;
                case 1:
                    if (!frame.isEmpty()) frame[at] = byte();
                    break;
                case 2:
                    frame.insert(at, byte());
                    break;
                case 3:
                    frame.remove(at, 1);
                    break;
                case 4:
                    frame.truncate(upTo(static_cast<int>(frame.size())));
                    break;
                default:
                    frame += randomBytes(1 + upTo(4));
            }
        }
        return frame;
    }

private:
    std::mt19937 random_;
};

// Every check must agree with an independent reading of the rules: right length and a
// CRC that matches, nothing else.
void expectChecksAgree(const QByteArray& bytes, int count) {
    const QByteArray registers = modbus::checkReadReply(bytes, count);
    const bool readOk =
        count > 0 && bytes.size() == modbus::readReplyLength(count) && referenceCrcMatches(bytes);
    ASSERT_EQ(!registers.isEmpty(), readOk) << bytes.toHex().constData() << " count " << count;
    if (readOk) {
        ASSERT_EQ(registers.size(), 2 * count);
        for (int k = 0; k < count; ++k) {
            ASSERT_EQ(registers[2 * k], bytes[3 + 2 * k + 1]);
            ASSERT_EQ(registers[2 * k + 1], bytes[3 + 2 * k]);
        }
    }

    const QByteArray echo = modbus::checkWriteReply(bytes);
    const bool writeOk = bytes.size() == modbus::kWriteReplyLength && referenceCrcMatches(bytes);
    ASSERT_EQ(!echo.isEmpty(), writeOk) << bytes.toHex().constData();
    if (writeOk) {
        ASSERT_EQ(echo.size(), 2);
        ASSERT_EQ(echo[0], bytes[5]);
        ASSERT_EQ(echo[1], bytes[4]);
    }

    const bool exceptionOk = bytes.size() == modbus::kExceptionReplyLength &&
                             (static_cast<quint8>(bytes[1]) & 0x80u) && referenceCrcMatches(bytes);
    ASSERT_EQ(modbus::isExceptionReply(bytes), exceptionOk) << bytes.toHex().constData();
}

TEST(ReplyChecksRandom, RandomBytesOfAnyLength) {
    Fuzzer fuzz(0x1234ABCDu);
    for (int i = 0; i < 150000; ++i) {
        const QByteArray bytes = fuzz.randomBytes(fuzz.upTo(300));
        expectChecksAgree(bytes, fuzz.upTo(300) - 20);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(ReplyChecksRandom, ShortFramesWithValidCrcAreJudgedByLength) {
    // Random bytes almost never carry a matching CRC; sealing them does, so the
    // length rules get exercised on frames whose CRC is right.
    Fuzzer fuzz(424242u);
    for (int i = 0; i < 100000; ++i) {
        const QByteArray frame = modbus::withCrc(fuzz.randomBytes(fuzz.upTo(40)));
        expectChecksAgree(frame, fuzz.upTo(20));
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(ReplyChecksRandom, MutatedValidReplies) {
    Fuzzer fuzz(20260712u);
    for (int i = 0; i < 100000; ++i) {
        const int count = 1 + fuzz.upTo(i % 10 == 0 ? 254 : 12);
        const QByteArray valid = fuzz.validReadReply(count);
        expectChecksAgree(valid, count);
        expectChecksAgree(fuzz.mutate(valid), count);

        QByteArray write = valid.left(6);
        write[1] = char(modbus::kWriteSingleRegister);
        write = modbus::withCrc(write);
        expectChecksAgree(write, count);
        expectChecksAgree(fuzz.mutate(write), count);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace
