#include "serial_link.h"

#include <gtest/gtest.h>

#include "peers.h"
#include "transactions.h"

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.start()) << "socat did not create the pty pair"; }

    PtyPair pty;
    RegisterBank bank;
    Responder answer = [this](const QByteArray& request) { return bank.answer(request); };
};

TEST(SerialLinkOpen, BaudText) {
    EXPECT_EQ(parseBaudText(QStringLiteral("9600")), 9600);
    EXPECT_EQ(parseBaudText(QStringLiteral("19200")), 19200);
    EXPECT_FALSE(parseBaudText(QStringLiteral("")));
    EXPECT_FALSE(parseBaudText(QStringLiteral("abc")));
    EXPECT_FALSE(parseBaudText(QStringLiteral("0")));
    EXPECT_FALSE(parseBaudText(QStringLiteral("-9600")));
    EXPECT_FALSE(parseBaudText(QStringLiteral("96OO")));
    EXPECT_FALSE(parseBaudText(QStringLiteral("9600.5")));
}

TEST(SerialLinkOpen, ErrorsNameTheCause) {
    SerialLink missing(QStringLiteral("/dev/vormelq-no-such-port"), QStringLiteral("9600"));
    const QString error = missing.open();
    EXPECT_TRUE(error.startsWith(
        QStringLiteral("No se puede abrir el puerto serie /dev/vormelq-no-such-port: ")))
        << error.toStdString();
    EXPECT_FALSE(missing.isConnected());
    // Never opened: the link does not keep trying on its own.
    missing.waitConnected(QDeadlineTimer(100));
    EXPECT_FALSE(missing.send(hex("010300000001840A")));

    SerialLink badBaud(QStringLiteral("/dev/vormelq-no-such-port"), QStringLiteral("96x"));
    EXPECT_EQ(badBaud.open(), QStringLiteral("Velocidad no válida en Baudios_1: '96x'"));
}

TEST_F(SerialLinkTest, ReadAndWriteOverAPtyPair) {
    SerialResponder module(pty.b(), answer);
    SerialLink link(pty.a(), QStringLiteral("9600"));
    ASSERT_EQ(link.open(), QString());
    EXPECT_TRUE(link.isConnected());
    EXPECT_EQ(link.Comm1->baudRate(), 9600);
    EXPECT_EQ(link.Comm1->parity(), QSerialPort::NoParity);
    EXPECT_EQ(link.Comm1->dataBits(), QSerialPort::Data8);
    EXPECT_EQ(link.Comm1->stopBits(), QSerialPort::OneStop);
    ASSERT_TRUE(waitUntil([&module] { return module.isOpen(); }));

    EXPECT_EQ(RxD(link, 1, 0, 8),
              registerString({0x1000, 0x1001, 0x1002, 0x1003, 0x1004, 0x1005, 0x1006, 0x1007}));
    EXPECT_EQ(TxD(link, 1, 16, hex("6400")), hex("6400"));
    EXPECT_EQ(bank.value(16), 0x0064);
    EXPECT_EQ(RxD(link, 1, 16, 1), hex("6400"));
    // Twenty registers: a 45-byte reply.
    EXPECT_EQ(RxD(link, 1, 20, 20).size(), 40);
}

TEST_F(SerialLinkTest, StaleBytesAreDiscarded) {
    SerialResponder module(pty.b(), answer);
    SerialLink link(pty.a(), QStringLiteral("9600"));
    ASSERT_EQ(link.open(), QString());
    ASSERT_TRUE(waitUntil([&module] { return module.isOpen(); }));
    module.sendRaw(readReplyFor(1, {0xBAD0}));
    ASSERT_TRUE(waitUntil([&link] { return link.waitForData(linkexchange::kWaitSliceMs); }));
    EXPECT_EQ(RxD(link, 1, 2, 1), registerString({0x1002}));
}

TEST_F(SerialLinkTest, NoReplyGivesEmpty) {
    SerialResponder module(pty.b(), [](const QByteArray&) { return PeerReply{}; });
    SerialLink link(pty.a(), QStringLiteral("9600"));
    ASSERT_EQ(link.open(), QString());
    ASSERT_TRUE(waitUntil([&module] { return module.isOpen(); }));
    EXPECT_TRUE(RxD(link, 1, 0, 8).isEmpty());
    EXPECT_TRUE(waitUntil([&module] { return module.requests() == 1; }));
}

TEST_F(SerialLinkTest, PortVanishesAndComesBack) {
    SerialResponder module(pty.b(), answer);
    SerialLink link(pty.a(), QStringLiteral("9600"));
    ASSERT_EQ(link.open(), QString());
    ASSERT_TRUE(waitUntil([&module] { return module.isOpen(); }));
    EXPECT_EQ(RxD(link, 1, 0, 1), registerString({0x1000}));

    pty.stop();  // the adapter is pulled out
    EXPECT_TRUE(RxD(link, 1, 0, 1).isEmpty());
    ASSERT_TRUE(waitUntil([&link] {
        link.waitForData(linkexchange::kWaitSliceMs);
        return !link.isConnected();
    }));
    link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    EXPECT_FALSE(link.isConnected());

    ASSERT_TRUE(pty.start());  // and plugged back in
    ASSERT_TRUE(waitUntil([&module] { return module.isOpen(); }));
    QByteArray registers;
    ASSERT_TRUE(waitUntil([&] {
        link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
        registers = RxD(link, 1, 5, 1);
        return !registers.isEmpty();
    }));
    EXPECT_EQ(registers, registerString({0x1005}));
    EXPECT_TRUE(link.isConnected());
    EXPECT_EQ(link.Comm1->baudRate(), 9600);
}

}  // namespace
