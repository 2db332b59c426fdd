#include "serial_link.h"

#include <gtest/gtest.h>

#include "peers.h"
#include "transactions.h"

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

TEST(SerialLinkOpen, BaudTextAndErrorsThatNameTheCause) {
    EXPECT_EQ(parseBaudText(QStringLiteral("19200")), 19200);
    for (const char* bad : {"", "abc", "0", "-9600", "96OO", "9600.5"})
        EXPECT_FALSE(parseBaudText(QString::fromLatin1(bad))) << bad;

    SerialLink missing(QStringLiteral("/dev/vormelq-no-such-port"), QStringLiteral("9600"));
    const QString error = missing.open();
    EXPECT_TRUE(error.startsWith(
        QStringLiteral("No se puede abrir el puerto serie /dev/vormelq-no-such-port: ")))
        << error.toStdString();
    // Never opened: the link does not keep trying on its own.
    missing.waitConnected(QDeadlineTimer(100));
    EXPECT_FALSE(missing.isConnected());
    EXPECT_FALSE(missing.send(hex("010300000001840A")));

    SerialLink badBaud(QStringLiteral("/dev/vormelq-no-such-port"), QStringLiteral("96x"));
    EXPECT_EQ(badBaud.open(), QStringLiteral("Velocidad no válida en Baudios_1: '96x'"));
}

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.start()) << "socat did not create the pty pair";
        ASSERT_EQ(link.open(), QString());
        ASSERT_TRUE(waitUntil([this] { return module.isOpen(); }));
    }

    PtyPair pty;
    RegisterBank bank;
    SerialResponder module{pty.b(), [this](const QByteArray& r) { return bank.answer(r); }};
    SerialLink link{pty.a(), QStringLiteral("9600")};
};

TEST_F(SerialLinkTest, ReadsAndWritesOverAPtyPairDiscardingStaleBytes) {
    EXPECT_EQ(link.Comm1->baudRate(), 9600);
    EXPECT_EQ(link.Comm1->parity(), QSerialPort::NoParity);
    EXPECT_EQ(link.Comm1->dataBits(), QSerialPort::Data8);
    EXPECT_EQ(link.Comm1->stopBits(), QSerialPort::OneStop);

    module.sendRaw(readReplyFor(1, {0xBAD0}));
    ASSERT_TRUE(waitUntil([this] { return link.waitForData(linkexchange::kWaitSliceMs); }));
    EXPECT_EQ(RxD(link, 1, 0, 8),
              registerString({0x1000, 0x1001, 0x1002, 0x1003, 0x1004, 0x1005, 0x1006, 0x1007}));
    EXPECT_EQ(TxD(link, 1, 16, hex("6400")), hex("6400"));
    EXPECT_EQ(bank.value(16), 0x0064);
    EXPECT_EQ(RxD(link, 1, 16, 1), hex("6400"));
    // Twenty registers: a 45-byte reply.
    EXPECT_EQ(RxD(link, 1, 20, 20).size(), 40);
}

TEST_F(SerialLinkTest, PortVanishesAndComesBack) {
    EXPECT_EQ(RxD(link, 1, 0, 1), registerString({0x1000}));

    pty.stop();  // the adapter is pulled out
    EXPECT_TRUE(RxD(link, 1, 0, 1).isEmpty());
    ASSERT_TRUE(waitUntil([this] {
        link.waitForData(linkexchange::kWaitSliceMs);
        return !link.isConnected();
    }));
    link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    EXPECT_FALSE(link.isConnected());

    ASSERT_TRUE(pty.start());  // and plugged back in
    ASSERT_TRUE(waitUntil([this] { return module.isOpen(); }));
    QByteArray registers;
    ASSERT_TRUE(waitUntil([&] {
        link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
        registers = RxD(link, 1, 5, 1);
        return !registers.isEmpty();
    }));
    EXPECT_EQ(registers, registerString({0x1005}));
    EXPECT_EQ(link.Comm1->baudRate(), 9600);
}

}  // namespace
