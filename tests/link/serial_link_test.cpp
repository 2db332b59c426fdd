#include "serial_link.h"

#include <gtest/gtest.h>

#include "harness.h"
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
    EXPECT_TRUE(
        error.startsWith(QStringLiteral("El puerto serie /dev/vormelq-no-such-port no existe")))
        << error.toStdString();
    // Never opened: the link does not keep trying on its own.
    missing.waitConnected(QDeadlineTimer(100));
    EXPECT_FALSE(missing.isConnected());
    EXPECT_FALSE(missing.send(hex("010300000001840A")));

    SerialLink badBaud(QStringLiteral("/dev/vormelq-no-such-port"), QStringLiteral("96x"));
    EXPECT_EQ(badBaud.open(), QStringLiteral("Velocidad no válida en Baudios_1: '96x'"));
}

// The simulated module on one end of a socat pair, the station's link on the other.
class SerialLinkTest : public ::testing::Test {
protected:
    bool plugIn(const QStringList& faults = {}) {
        return pty.start() && sim.start(QStringList{"--serial", pty.b()} + faults);
    }

    PtyPair pty;
    SimProcess sim;
    SerialLink link{pty.a(), QStringLiteral("9600")};
};

TEST_F(SerialLinkTest, ReadsAndWritesOverAPtyPairDiscardingStaleBytes) {
    // Junk follows every second reply.
    ASSERT_TRUE(plugIn({"--stale", "1", "--fault-every", "2"}));
    ASSERT_EQ(link.open(), QString());
    EXPECT_EQ(link.Comm1->baudRate(), 9600);
    EXPECT_EQ(link.Comm1->parity(), QSerialPort::NoParity);
    EXPECT_EQ(link.Comm1->dataBits(), QSerialPort::Data8);
    EXPECT_EQ(link.Comm1->stopBits(), QSerialPort::OneStop);

    EXPECT_EQ(RxD(link, 1, 0, 8).size(), 16);
    EXPECT_EQ(TxD(link, 1, 16, hex("6400")), hex("6400"));
    // The junk sits at the link before the next request: it must not spoil the reply.
    ASSERT_TRUE(waitUntil([this] { return link.waitForData(linkexchange::kWaitSliceMs); }));
    EXPECT_EQ(RxD(link, 1, 16, 1), hex("6400"));
}

TEST_F(SerialLinkTest, PortVanishesAndComesBack) {
    ASSERT_TRUE(plugIn());
    ASSERT_EQ(link.open(), QString());
    EXPECT_EQ(TxD(link, 1, 22, hex("2C01")), hex("2C01"));

    sim.stop();
    pty.stop();  // the adapter is pulled out
    EXPECT_TRUE(RxD(link, 1, 22, 1).isEmpty());
    ASSERT_TRUE(waitUntil([this] {
        link.waitForData(linkexchange::kWaitSliceMs);
        return !link.isConnected();
    }));
    link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    EXPECT_FALSE(link.isConnected());

    ASSERT_TRUE(plugIn());  // and plugged back in
    QByteArray registers;
    ASSERT_TRUE(waitUntil([&] {
        link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
        registers = TxD(link, 1, 22, hex("2C01"));
        return !registers.isEmpty();
    }));
    EXPECT_EQ(RxD(link, 1, 22, 1), hex("2C01"));
    EXPECT_EQ(link.Comm1->baudRate(), 9600);
}

}  // namespace
