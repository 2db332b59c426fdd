#include "frames.h"

#include <gtest/gtest.h>

#include "crc16.h"

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

TEST(Crc16, PublishedExamples) {
    EXPECT_EQ(crc16({}), hex("FFFF"));
    EXPECT_EQ(crc16(hex("010300000001")), hex("840A"));
    EXPECT_EQ(crc16(hex("1103006B0003")), hex("7687"));
    EXPECT_EQ(crc16("123456789"), hex("374B"));
    EXPECT_EQ(crc16Value("123456789"), 0x4B37);
}

TEST(Crc16, HighBytesAreUnsigned) {
    // Same bytes as a char string with the sign bit set: a signed index into the
    // table would read outside it (ASan) or give another value.
    EXPECT_EQ(crc16(hex("FF")), hex("FF00"));
    EXPECT_EQ(crc16(hex("80")), hex("BEE0"));
    EXPECT_EQ(crc16(hex("80FE")), hex("E1F0"));
}

TEST(Crc16, LongMessagesAreFine) {
    // The module never sends more than 21 bytes, but nothing breaks past 31.
    const QByteArray message(300, '\xA5');
    EXPECT_EQ(crc16(message).size(), 2);
    EXPECT_TRUE(modbus::hasValidCrc(modbus::withCrc(message)));
}

TEST(ReadFrames, RequestEncoding) {
    EXPECT_EQ(modbus::readRequest(1, 0, 8), hex("010300000008440C"));
    EXPECT_EQ(modbus::readRequest(1, 0x1234, 1).mid(2, 2), hex("1234"));
    EXPECT_EQ(modbus::readRequest(1, 300, 1).mid(2, 2), hex("012C"));
    EXPECT_EQ(modbus::readRequest(255, 65535, 255).left(6), hex("FF03FFFF00FF"));
    EXPECT_EQ(modbus::readReplyLength(8), 21);
}

TEST(ReadFrames, ArgumentsThatCannotBeEncoded) {
    EXPECT_TRUE(modbus::readRequest(256, 0, 1).isEmpty());
    EXPECT_TRUE(modbus::readRequest(-1, 0, 1).isEmpty());
    EXPECT_TRUE(modbus::readRequest(1, 65536, 1).isEmpty());
    EXPECT_TRUE(modbus::readRequest(1, -1, 1).isEmpty());
    EXPECT_TRUE(modbus::readRequest(1, 0, 256).isEmpty());
}

TEST(ReadFrames, ReplyGivesRegistersLowByteFirst) {
    EXPECT_EQ(modbus::checkReadReply(modbus::withCrc(hex("0103021234")), 1), hex("3412"));
    EXPECT_EQ(modbus::checkReadReply(modbus::withCrc(hex("0103040A0B0C0D")), 2), hex("0B0A0D0C"));
    // Header bytes are not compared with the request once length and CRC agree.
    EXPECT_EQ(modbus::checkReadReply(modbus::withCrc(hex("7F10FF1234")), 1), hex("3412"));
}

TEST(ReadFrames, RejectedReplies) {
    const QByteArray valid = modbus::withCrc(hex("0103021234"));
    EXPECT_TRUE(modbus::checkReadReply(valid + '\0', 1).isEmpty());
    EXPECT_TRUE(modbus::checkReadReply(valid.left(6), 1).isEmpty());
    QByteArray badCrc = valid;
    badCrc[6] = static_cast<char>(badCrc[6] ^ 1);
    EXPECT_TRUE(modbus::checkReadReply(badCrc, 1).isEmpty());
    // A count of 0 never yields data, not even for a well-formed 5-byte reply.
    EXPECT_TRUE(modbus::checkReadReply(modbus::withCrc(hex("010300")), 0).isEmpty());
    EXPECT_TRUE(modbus::checkReadReply({}, 0).isEmpty());
}

TEST(ReadFrames, RepliesLongerThan31BytesAreAccepted) {
    QByteArray body = hex("010328");
    for (int k = 0; k < 20; ++k) body += QByteArray(1, char(k)) + QByteArray(1, char(0x80 + k));
    const QByteArray registers = modbus::checkReadReply(modbus::withCrc(body), 20);
    ASSERT_EQ(registers.size(), 40);
    EXPECT_EQ(registers.mid(38, 2), hex("9313"));
}

TEST(WriteFrames, RequestAndEcho) {
    const QByteArray request = modbus::writeRequest(1, 16, hex("6400"));
    EXPECT_EQ(request, hex("01060010006489E4"));
    EXPECT_EQ(modbus::checkWriteReply(request), hex("6400"));
    EXPECT_EQ(modbus::writeRequest(1, 0, hex("3412")).mid(4, 2), hex("1234"));
    // The echoed value is returned as received, even when it differs from the request.
    EXPECT_EQ(modbus::checkWriteReply(modbus::withCrc(hex("090600070BCD"))), hex("CD0B"));
}

TEST(WriteFrames, RejectedArgumentsAndReplies) {
    EXPECT_TRUE(modbus::writeRequest(256, 0, hex("0000")).isEmpty());
    EXPECT_TRUE(modbus::writeRequest(-1, 0, hex("0000")).isEmpty());
    EXPECT_TRUE(modbus::writeRequest(1, 65536, hex("0000")).isEmpty());
    EXPECT_TRUE(modbus::writeRequest(1, 0, hex("00")).isEmpty());
    EXPECT_TRUE(modbus::writeRequest(1, 0, hex("000000")).isEmpty());
    EXPECT_TRUE(modbus::writeRequest(1, 0, {}).isEmpty());

    const QByteArray echo = hex("01060010006489E4");
    EXPECT_TRUE(modbus::checkWriteReply(echo + '\0').isEmpty());
    EXPECT_TRUE(modbus::checkWriteReply(echo.left(7)).isEmpty());
    QByteArray badCrc = echo;
    badCrc[7] = static_cast<char>(badCrc[7] ^ 0x40);
    EXPECT_TRUE(modbus::checkWriteReply(badCrc).isEmpty());
}

TEST(ExceptionReplies, Recognised) {
    EXPECT_TRUE(modbus::isExceptionReply(modbus::withCrc(hex("018302"))));
    EXPECT_TRUE(modbus::isExceptionReply(modbus::withCrc(hex("018604"))));
    EXPECT_FALSE(modbus::isExceptionReply(modbus::withCrc(hex("010302"))));    // no error bit
    EXPECT_FALSE(modbus::isExceptionReply(hex("0183020000")));                 // wrong CRC
    EXPECT_FALSE(modbus::isExceptionReply(modbus::withCrc(hex("01830200"))));  // 6 bytes
    EXPECT_FALSE(modbus::isExceptionReply({}));
}

}  // namespace
