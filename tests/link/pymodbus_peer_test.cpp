#include <gtest/gtest.h>

#include <QProcess>

#include "peers.h"
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
    void SetUp() override {
        server.setProgram(QStringLiteral("/usr/bin/python3"));
        server.setArguments({QStringLiteral(LINK_TEST_DIR "/modbus_rtu_tcp_server.py")});
        server.start();
        ASSERT_TRUE(server.waitForStarted());
        ASSERT_TRUE(waitUntil([this] {
            server.waitForReadyRead(50);
            return server.canReadLine() || server.state() == QProcess::NotRunning;
        }));
        bool ok = false;
        port = static_cast<quint16>(server.readLine().trimmed().toUInt(&ok));
        ASSERT_TRUE(ok && port != 0) << server.readAllStandardError().toStdString();
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

}  // namespace
