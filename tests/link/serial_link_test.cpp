#include "serial_link.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>
#include <atomic>
#include <memory>
#include <vector>

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

TEST_F(SerialLinkTest, LineStaysSilentFor3Point5CharactersBeforeEachRequest) {
    ASSERT_TRUE(pty.start());
    ASSERT_EQ(link.open(), QString());
    // A module that answers at once, timing the silence from the last byte of each of its
    // replies to the first byte of the next request.
    std::vector<qint64> silencesNs;
    std::atomic<bool> opened{false}, stop{false};
    RegisterBank bank;
    std::unique_ptr<QThread> module(QThread::create([&] {
        QSerialPort port(pty.b());
        if (!port.open(QIODevice::ReadWrite)) return;
        opened = true;
        QByteArray input;
        QElapsedTimer sinceReply;
        while (!stop) {
            if (port.bytesAvailable() == 0 && !port.waitForReadyRead(20)) continue;
            if (input.isEmpty() && sinceReply.isValid())
                silencesNs.push_back(std::exchange(sinceReply, {}).nsecsElapsed());
            input += port.readAll();
            while (input.size() >= 8) {
                // Timed from before the write: a pause of this thread after it (a busy
                // machine) must not shorten the silence it measures.
                sinceReply.start();
                port.write(bank.answer(input.left(8)).pieces.value(0));
                input.remove(0, 8);
                while (port.bytesToWrite() > 0 && port.waitForBytesWritten(20)) {
                }
            }
        }
    }));
    module->start();
    ASSERT_TRUE(waitUntil([&] { return opened.load() || module->isFinished(); }));
    ASSERT_TRUE(opened);
    // Asleep through the silence and awake at its end, as while the poll runs back to back.
    for (int i = 0; i < 6; ++i) {
        link.setKeepAwake(i % 2 == 1);
        EXPECT_EQ(RxD(link, 1, i, 1), registerString({quint16(0x1000 + i)}));
    }
    stop = true;
    module->wait();
    // 3.5 characters of 10 bits at 9600 baud.
    ASSERT_EQ(silencesNs.size(), 5u);
    for (qint64 ns : silencesNs) EXPECT_GE(ns, 3646000) << ns;
}

// Nobody reads the far end, so the frame cannot leave within its time: it is dropped
// with whatever still waited in front of it, not sent once the line moves again.
TEST_F(SerialLinkTest, AFrameTheSendGaveUpOnNeverGoesOutLater) {
    ASSERT_TRUE(pty.start());
    ASSERT_EQ(link.open(), QString());
    QSerialPort far(pty.b());
    ASSERT_TRUE(far.open(QIODevice::ReadWrite));
    link.Comm1->write(QByteArray(1 << 18, 'x'));  // more than the line holds
    const QByteArray frame = hex("010300000008440C");
    ASSERT_FALSE(link.send(frame));

    QByteArray heard;
    // The station's waits would push out what its port still holds.
    for (;;) {
        link.waitForData(1);
        const bool more = far.waitForReadyRead(200);
        heard += far.readAll();
        if (!more && link.Comm1->bytesToWrite() == 0) break;
    }
    EXPECT_FALSE(heard.contains(frame));
    EXPECT_LT(heard.size(), 1 << 18);
}

}  // namespace
