// Closing the window while the link is busy: the worker stops, the link is released,
// whatever was under way. The peer is a module that accepts the connection and never
// answers, one whose host never completes the connection at all, or a serial line that
// never falls silent, so there is always a transaction or a connection wait in progress
// when the window closes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "close_request.h"
#include "frm_peso.h"
#include "harness.h"
#include "peers.h"
#include "station_window.h"

namespace {

enum class Busy {
    Transaction,   // a read waits for a reply that never comes
    WriteQueued,   // and an operator write waits behind it
    ErrorBoxOpen,  // a failed write's "Error" box is on the screen
    Connecting,    // the host never completes the connection
    Flooded,       // a serial line flooded with zeros never falls silent
    Babbling,      // nor one that carries a byte every 2 ms
};

struct ShutdownCase {
    const char* name;
    Busy busy;
    bool serial;
};

void PrintTo(const ShutdownCase& c, std::ostream* out) {
    *out << c.name;
}

class Shutdown : public ::testing::TestWithParam<ShutdownCase> {};

TEST_P(Shutdown, ClosingTheWindowStopsTheWorkerAndReleasesTheLink) {
    const ShutdownCase& c = GetParam();
    QTemporaryDir dir;
    CurrentDir cwd(dir.path());
    QTcpServer server;
    QTcpSocket filler;
    SimProcess sim;
    PtyPair pty;
    std::unique_ptr<Babbler> flood;
    QString ptyLink = QDir(dir.path()).filePath(QStringLiteral("module"));
    if (c.busy == Busy::Flooded || c.busy == Busy::Babbling) {
        ASSERT_TRUE(pty.start());
        flood = c.busy == Busy::Flooded
                    ? std::make_unique<Babbler>(pty.b(), QByteArray(1 << 16, '\0'), 0)
                    : std::make_unique<Babbler>(pty.b(), QByteArray(1, '\x55'), 2);
        ptyLink = pty.a();
        // A slow line wants a long silence (128 ms) before each request: the line never
        // leaves one, however the machine schedules the peer.
        writeIni(dir.path(), serialIni(ptyLink, "300"));
    } else if (c.serial) {
        ASSERT_TRUE(sim.start({"--pty", ptyLink, "--silent"}));
        writeIni(dir.path(), serialIni(ptyLink, "9600"));
    } else {
        server.setListenBacklogSize(0);
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        if (c.busy == Busy::Connecting) {
            // A backlog of one taken by a connection nobody accepts: the kernel drops
            // every further handshake, as a host behind a pulled cable would.
            server.pauseAccepting();
            filler.connectToHost(QHostAddress::LocalHost, server.serverPort());
            ASSERT_TRUE(filler.waitForConnected(5000));
        }
        writeIni(dir.path(), tcpIni(server.serverPort()));
    }

    StationWindow station;
    ASSERT_EQ(station.Form_Load(), QString());
    frmPeso& form = station.form();
    form.show();

    QTcpSocket* peer = nullptr;
    if (!c.serial && c.busy != Busy::Connecting) {
        ASSERT_TRUE(waitFor([&] { return server.hasPendingConnections(); }));
        peer = server.nextPendingConnection();
        // Requests arriving prove a transaction is waiting for its reply.
        ASSERT_TRUE(waitFor([&] { return peer->bytesAvailable() > 0; }));
    }
    if (c.serial && !flood) {
        ASSERT_TRUE(waitFor([&] { return sim.counters().value("faults.silent") > 0; }));
    }
    if (c.busy == Busy::WriteQueued || c.busy == Busy::ErrorBoxOpen) {
        form.Tecla_Click(0);
    }
    if (c.busy == Busy::ErrorBoxOpen) {
        ASSERT_TRUE(waitFor([&] { return !form.findChildren<QMessageBox*>().isEmpty(); }));
    }
    if (c.busy == Busy::Connecting || flood) {
        // A whole cycle has failed; the next one starts with a fresh connection wait, or
        // on a line that never falls silent, with attempts that must not read for ever.
        ASSERT_TRUE(waitFor([&] { return !form.lblError->isHidden(); }));
    }

    if (c.serial) {
        QSerialPort other(ptyLink);
        EXPECT_FALSE(other.open(QIODevice::ReadWrite)) << "the station holds the port";
    }
    // As the window system asks: a modal box would have it dropped.
    systemCloseRequest(form);
    EXPECT_EQ(station.worker(), nullptr);  // the worker thread has ended
    if (peer != nullptr) {
        EXPECT_TRUE(waitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
    }
    if (c.serial) {
        // Released: the device can be opened by someone else at once.
        QSerialPort port(ptyLink);
        EXPECT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    }
}

const ShutdownCase kCases[] = {
    {"MidTransaction", Busy::Transaction, false},
    {"WithAWriteQueued", Busy::WriteQueued, false},
    {"WithAnErrorBoxOpen", Busy::ErrorBoxOpen, false},
    {"WhileConnecting", Busy::Connecting, false},
    {"SerialMidTransaction", Busy::Transaction, true},
    {"SerialWithAWriteQueued", Busy::WriteQueued, true},
    {"SerialFlooded", Busy::Flooded, true},
    {"SerialBabbling", Busy::Babbling, true},
};

INSTANTIATE_TEST_SUITE_P(Close, Shutdown, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
