#include <gtest/gtest.h>

#include <QProcess>

#include "peers.h"
#include "serial_link.h"
#include "socket_link.h"
#include "transactions.h"

namespace {

quint16 registerValue(int k) {
    return static_cast<quint16>((0x0101 * k + 0x1234) & 0xFFFF);
}

QList<quint16> registerValues(int first, int count) {
    QList<quint16> values;
    for (int k = first; k < first + count; ++k) values.append(registerValue(k));
    return values;
}

// pymodbus as the module: RTU frames over TCP, a slave the station did not write.
class PymodbusPeer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(startServer({})); }
    // Starts the slave; its first line is the TCP port, or "ready" on a serial device.
    void startServer(const QStringList& options) {
        server.setProgram(QStringLiteral("/usr/bin/python3"));
        server.setArguments(QStringList{QStringLiteral(LINK_TEST_DIR "/modbus_rtu_tcp_server.py")} +
                            options);
        server.start();
        ASSERT_TRUE(server.waitForStarted());
        ASSERT_TRUE(waitUntil([this] {
            server.waitForReadyRead(50);
            return server.canReadLine() || server.state() == QProcess::NotRunning;
        }));
        const QByteArray first = server.readLine().trimmed();
        bool ok = false;
        port = static_cast<quint16>(first.toUInt(&ok));
        ASSERT_TRUE(first == "ready" || (ok && port != 0))
            << server.readAllStandardError().toStdString();
    }
    void restartServer(const QStringList& options) {
        TearDown();
        ASSERT_NO_FATAL_FAILURE(startServer(options));
    }
    void TearDown() override {
        server.closeWriteChannel();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished();
        }
    }

    QProcess server;
    quint16 port = 0;
};

TEST_F(PymodbusPeer, ReadsKnownRegistersAndWritesOne) {
    SocketLink link(QStringLiteral("127.0.0.1"), port);
    link.connectToModule();
    link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    ASSERT_TRUE(link.isConnected());

    EXPECT_EQ(RxD(link, 1, 0, 8), registerString(registerValues(0, 8)));
    EXPECT_EQ(RxD(link, 1, 10, 3), registerString(registerValues(10, 3)));
    // Twenty registers make a 45-byte reply.
    EXPECT_EQ(RxD(link, 1, 20, 20), registerString(registerValues(20, 20)));

    const QByteArray value = registerString({0x0064});
    EXPECT_EQ(TxD(link, 1, 16, value), value);
    EXPECT_EQ(RxD(link, 1, 16, 1), value);
    EXPECT_EQ(RxD(link, 1, 15, 3), registerString({registerValue(15), 0x0064, registerValue(17)}));
}

// Up to three attempts, like a block read.
QByteArray blockRead(Link& link, int address, int count) {
    QByteArray registers;
    for (int attempt = 0; attempt < 3 && registers.isEmpty(); ++attempt)
        registers = RxD(link, 1, address, count);
    return registers;
}

// The setpoint block at 20 and the readback at 7 have replies of the same length,
// function and byte count. Reads 1, 2 and 4 come 2.1 s late: the first block's reply
// arrives during its retry and the retry's own reply after that; then a single late one.
void lateRepliesNeverShiftTheBlocks(Link& link) {
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(blockRead(link, 20, 3), registerString(registerValues(20, 3))) << round;
        EXPECT_EQ(blockRead(link, 7, 3), registerString(registerValues(7, 3))) << round;
    }
}

const QStringList kLateReads{QStringLiteral("--late-reads"), QStringLiteral("1,2,4")};

TEST_F(PymodbusPeer, LateRepliesOverTcpNeverShiftTheBlocks) {
    ASSERT_NO_FATAL_FAILURE(restartServer(kLateReads));
    SocketLink link(QStringLiteral("127.0.0.1"), port);
    lateRepliesNeverShiftTheBlocks(link);
}

TEST_F(PymodbusPeer, LateRepliesOverAPtyNeverShiftTheBlocks) {
    PtyPair pty;
    ASSERT_TRUE(pty.start());
    ASSERT_NO_FATAL_FAILURE(restartServer(kLateReads + QStringList{"--serial", pty.b()}));
    SerialLink link(pty.a(), QStringLiteral("9600"));
    ASSERT_EQ(link.open(), QString());
    lateRepliesNeverShiftTheBlocks(link);
}

}  // namespace
