#include "frames.h"

#include <gtest/gtest.h>

#include "crc16.h"

// Worked examples of the frames. The length and CRC rules themselves are checked
// against an independent CRC on random input in reply_check_random_test.cpp.
namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

TEST(Crc16, PublishedExamplesAndHighBytes) {
    EXPECT_EQ(crc16({}), hex("FFFF"));
    EXPECT_EQ(crc16(hex("010300000001")), hex("840A"));
    EXPECT_EQ(crc16(hex("1103006B0003")), hex("7687"));
    EXPECT_EQ(crc16("123456789"), hex("374B"));
    // Bytes with the sign bit set: a signed index into the table would read outside it
    // (ASan) or give another value.
    EXPECT_EQ(crc16(hex("FF")), hex("FF00"));
    EXPECT_EQ(crc16(hex("80FE")), hex("E1F0"));
}

TEST(Frames, RequestEncoding) {
    EXPECT_EQ(modbus::readRequest(1, 0, 8), hex("010300000008440C"));
    EXPECT_EQ(modbus::readRequest(1, 300, 1).mid(2, 2), hex("012C"));
    EXPECT_EQ(modbus::readRequest(255, 65535, 255).left(6), hex("FF03FFFF00FF"));
    EXPECT_EQ(modbus::writeRequest(1, 16, hex("6400")), hex("01060010006489E4"));
    EXPECT_EQ(modbus::writeRequest(1, 0, hex("3412")).mid(4, 2), hex("1234"));
    // Arguments the frame cannot carry give no frame at all.
    for (const QByteArray& refused :
         {modbus::readRequest(256, 0, 1), modbus::readRequest(-1, 0, 1),
          modbus::readRequest(1, 65536, 1), modbus::readRequest(1, -1, 1),
          modbus::readRequest(1, 0, 256), modbus::writeRequest(256, 0, hex("0000")),
          modbus::writeRequest(1, 65536, hex("0000")), modbus::writeRequest(1, 0, hex("00")),
          modbus::writeRequest(1, 0, hex("000000")), modbus::writeRequest(1, 0, {})})
        EXPECT_TRUE(refused.isEmpty()) << refused.toHex().constData();
}

TEST(Frames, RepliesGiveRegistersLowByteFirst) {
    EXPECT_EQ(modbus::checkReadReply(modbus::withCrc(hex("0103021234")), 1), hex("3412"));
    EXPECT_EQ(modbus::checkReadReply(modbus::withCrc(hex("0103040A0B0C0D")), 2), hex("0B0A0D0C"));
    // The slave address is not compared (a module asked at address 0 answers with its
    // own); function code and byte count must be those of the read.
    EXPECT_EQ(modbus::checkReadReply(modbus::withCrc(hex("7F03021234")), 1), hex("3412"));
    EXPECT_TRUE(modbus::checkReadReply(modbus::withCrc(hex("0104021234")), 1).isEmpty());
    EXPECT_TRUE(modbus::checkReadReply(modbus::withCrc(hex("0103041234")), 1).isEmpty());
    // Longer than the 31 bytes the module ever sends: still fine.
    QByteArray body = hex("010328");
    for (int k = 0; k < 20; ++k) body += QByteArray(1, char(k)) + QByteArray(1, char(0x80 + k));
    EXPECT_EQ(modbus::checkReadReply(modbus::withCrc(body), 20).mid(38, 2), hex("9313"));
    // A write reply must echo the register and value written; any slave address.
    const QByteArray request = hex("01060010006489E4");
    EXPECT_EQ(modbus::checkWriteReply(request, request), hex("6400"));
    EXPECT_EQ(modbus::checkWriteReply(modbus::withCrc(hex("000600100064")), request), hex("6400"));
    EXPECT_TRUE(modbus::checkWriteReply(modbus::withCrc(hex("010600110064")), request).isEmpty());
    EXPECT_TRUE(modbus::checkWriteReply(modbus::withCrc(hex("010600100065")), request).isEmpty());
    EXPECT_TRUE(modbus::checkWriteReply(modbus::withCrc(hex("010300100064")), request).isEmpty());
    EXPECT_TRUE(modbus::isExceptionReply(modbus::withCrc(hex("018302"))));
    EXPECT_TRUE(modbus::isExceptionReply(modbus::withCrc(hex("018604"))));
    EXPECT_FALSE(modbus::isExceptionReply(modbus::withCrc(hex("010302"))));  // no error bit
}

}  // namespace
