#include "socket_link.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <QCoreApplication>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "frames.h"
#include "peers.h"
#include "transactions.h"

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

const QList<quint16> kWeights = {0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C, 0x0D0E, 0x0F10};

// A scripted module on loopback and the station's link to it, connected.
struct Connected {
    explicit Connected(Responder responder, quint16 port = 0)
        : peer(std::move(responder), port), link(QStringLiteral("127.0.0.1"), peer.port()) {
        link.ensureOpen(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    }
    ScriptedTcpPeer peer;
    SocketLink link;
};

TEST(SocketLink, ReplyInPiecesAndWriteEcho) {
    Connected c([](const QByteArray& request) -> PeerReply {
        if (request[1] == char(modbus::kWriteSingleRegister))
            return {{request.left(5), request.mid(5)}};
        const QByteArray reply = readReplyFor(1, kWeights);
        return {{reply.left(3), reply.mid(3, 9), reply.mid(12)}};
    });
    ASSERT_TRUE(c.link.isConnected());
    EXPECT_EQ(RxD(c.link, 1, 0, 8), registerString(kWeights));
    EXPECT_EQ(TxD(c.link, 1, 16, hex("6400")), hex("6400"));
    EXPECT_EQ(c.peer.requests(), 2);
}

TEST(SocketLink, FaultyAndMissingRepliesAreRejected) {
    const QByteArray good = readReplyFor(1, {0x1234});
    QByteArray badCrc = good;
    badCrc[6] = static_cast<char>(badCrc[6] ^ 0x10);
    const QList<PeerReply> script = {
        {{good + '\x00'}},                   // one byte too long
        {{badCrc}},                          // wrong CRC
        {{modbus::withCrc(hex("018302"))}},  // exception
        {},                                  // no reply at all
        {{good.left(3), good.mid(3)}},       // and a good one again
    };
    std::atomic<int> turn{0};
    Connected c([&](const QByteArray&) { return script[turn++ % script.size()]; });
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(RxD(c.link, 1, 0, 1).isEmpty()) << i;
    EXPECT_EQ(RxD(c.link, 1, 0, 1), hex("3412"));
    EXPECT_TRUE(c.link.isConnected());
}

// A peer that sends faster than the link reads: the attempt fails and the link holds no
// more than its budget, instead of reading for ever.
TEST(SocketLink, AFloodFailsTheAttemptWithinTheBudget) {
    Connected c([](const QByteArray&) { return PeerReply{}; });
    ASSERT_TRUE(waitUntil([&c] { return c.peer.hasClient(); }));
    c.peer.flood(true);
    ASSERT_TRUE(waitUntil([&c] { return c.link.waitForData(linkexchange::kWaitSliceMs); }));
    EXPECT_TRUE(RxD(c.link, 1, 0, 8).isEmpty());
    // What comes meanwhile waits in the kernel, a budget at a time for the link.
    c.link.waitForData(linkexchange::kWaitSliceMs);
    EXPECT_LE(c.link.takeAvailable().size(), linkexchange::kInputBudgetBytes);
}

TEST(SocketLink, StaleBytesBeforeTheRequestAreDiscarded) {
    Connected c([](const QByteArray&) { return PeerReply{{readReplyFor(1, {0x1234})}}; });
    ASSERT_TRUE(waitUntil([&c] { return c.peer.hasClient(); }));
    // A complete late reply with other values, written before the request: nothing has
    // read it in, so it is still in the kernel, where Qt's buffer does not show it.
    c.peer.sendRaw(readReplyFor(1, {0xBAD0}));
    ASSERT_TRUE(waitUntil([&c] { return c.peer.rawSent() == 1; }));
    ASSERT_EQ(c.link.Winsock1->bytesAvailable(), 0);
    EXPECT_EQ(RxD(c.link, 1, 0, 1), hex("3412"));
}

// Up to three attempts, like a block read.
QByteArray blockRead(Link& link, int address, int count) {
    QByteArray registers;
    for (int attempt = 0; attempt < 3 && registers.isEmpty(); ++attempt)
        registers = RxD(link, 1, address, count);
    return registers;
}

TEST(SocketLink, HangUpsEndTheAttemptAndTheNextReconnects) {
    RegisterBank bank;
    std::atomic<bool> hangUpAfterReply{true};
    std::atomic<bool> hangUpInstead{false};
    Connected c([&](const QByteArray& request) {
        if (hangUpInstead.exchange(false)) return PeerReply{{}, true};
        PeerReply reply = bank.answer(request);
        reply.closeAfter = hangUpAfterReply.exchange(false);
        return reply;
    });
    // The reply that comes just before the hang-up is still delivered.
    EXPECT_EQ(RxD(c.link, 1, 0, 1), registerString({0x1000}));
    // The next attempt, once the module has hung up, finds the connection closed and
    // makes a new one (sent before the hang-up, the request would be lost with it).
    ASSERT_TRUE(waitUntil([&c] { return !c.peer.hasClient(); }));
    EXPECT_EQ(RxD(c.link, 1, 3, 2), registerString({0x1003, 0x1004}));
    EXPECT_EQ(c.peer.connections(), 2);

    // The module drops the connection in the middle of a block: the attempt it left
    // unanswered fails, and the block's next attempt reconnects.
    hangUpInstead = true;
    EXPECT_EQ(blockRead(c.link, 0, 1), registerString({0x1000}));
    EXPECT_EQ(c.peer.connections(), 3);

    // A hang-up the link has not seen yet: the first attempt sees it and reconnects.
    c.peer.dropClient();
    ASSERT_TRUE(waitUntil([&c] { return !c.peer.hasClient(); }));
    EXPECT_EQ(RxD(c.link, 1, 0, 1), registerString({0x1000}));
    EXPECT_EQ(c.peer.connections(), 4);
}

// Work held for the next request that outlasts the reply time (a stalled disk under the
// records) costs no reply: the one that came meanwhile is taken.
TEST(SocketLink, HeldWorkLongerThanTheReplyTimeKeepsTheReply) {
    RegisterBank bank;
    Connected c([&](const QByteArray& request) { return bank.answer(request); });
    c.link.afterNextRequest([&c] {
        // Until the reply is in the kernel, unread, then past the reply time.
        pollfd socket{static_cast<int>(c.link.Winsock1->socketDescriptor()), POLLIN, 0};
        poll(&socket, 1, 30000);
        QThread::msleep(150);
    });
    EXPECT_EQ(RxD(c.link, 1, 0, 1, 100), registerString({0x1000}));
}

// Kept awake around the moment the last reply to the same request came, the link still
// takes a reply that comes much later than that, in pieces, and one that comes earlier.
TEST(SocketLink, KeptAwakeItTakesRepliesLaterAndEarlierThanTheLastOne) {
    RegisterBank bank;
    std::atomic<int> turn{0};
    Connected c([&](const QByteArray& request) {
        PeerReply reply = bank.answer(request);
        const int now = turn++;
        if (now == 1) {
            QThread::msleep(300);
            const QByteArray whole = reply.pieces.value(0);
            reply.pieces = {whole.left(2), whole.mid(2)};
        }
        return reply;
    });
    c.link.setKeepAwake(true);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(RxD(c.link, 1, 0, 1), registerString({0x1000})) << i;
    EXPECT_EQ(c.peer.requests(), 3);
}

TEST(SocketLink, RefusedThenTheModuleAppears) {
    quint16 port = 0;
    {
        QTcpServer probe;  // borrow a free port, then give it back
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    SocketLink link(QStringLiteral("127.0.0.1"), port);
    link.connectToModule();
    link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    EXPECT_FALSE(link.isConnected());
    EXPECT_TRUE(RxD(link, 1, 0, 1).isEmpty());

    RegisterBank bank;
    ScriptedTcpPeer peer([&bank](const QByteArray& request) { return bank.answer(request); }, port);
    ASSERT_TRUE(peer.listening()) << "port " << port << " was taken meanwhile";
    EXPECT_EQ(RxD(link, 1, 0, 1), registerString({0x1000}));
}

// The connection is made off this thread, which never runs an event loop: a host given by
// its name is looked up.
TEST(SocketLink, AHostByName) {
    // A bare chroot has no /etc/hosts, and there no name resolves at all.
    if (QHostInfo::fromName(QStringLiteral("localhost")).addresses().isEmpty())
        GTEST_SKIP() << "this machine resolves no name for its loopback (no /etc/hosts)";
    RegisterBank bank;
    ScriptedTcpPeer peer([&bank](const QByteArray& request) { return bank.answer(request); });
    SocketLink named(QStringLiteral("localhost"), peer.port());
    EXPECT_EQ(RxD(named, 1, 0, 1), registerString({0x1000}));
}

// A host that takes the connection late (its backlog full, the handshake dropped and sent
// again) is taken by a later wait, the attempt having carried on past the wait that gave up.
TEST(SocketLink, AHostThatAcceptsLate) {
    QTcpServer host;
    host.setListenBacklogSize(0);
    ASSERT_TRUE(host.listen(QHostAddress::LocalHost));
    host.pauseAccepting();
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, host.serverPort());
    ASSERT_TRUE(filler.waitForConnected(5000));
    SocketLink late(QStringLiteral("127.0.0.1"), host.serverPort());
    late.connectToModule();
    late.waitConnected(QDeadlineTimer(linkexchange::kWaitSliceMs));
    ASSERT_FALSE(late.isConnected());
    // The host takes the filler in: room for the handshake's next try.
    host.resumeAccepting();
    EXPECT_TRUE(waitUntil([&] {
        QCoreApplication::processEvents();
        late.waitConnected(QDeadlineTimer(linkexchange::kWaitSliceMs));
        return late.isConnected();
    }));
}

TEST(SocketLink, HandlersKeepWhatCameBeforeTheHangUpThenDoNothing) {
    Connected c([](const QByteArray&) { return PeerReply{}; });
    ASSERT_TRUE(waitUntil([&c] { return c.peer.hasClient(); }));
    c.peer.sendRaw("kept");
    ASSERT_TRUE(waitUntil([&c] { return c.peer.rawSent() == 1; }));
    c.peer.dropClient();
    ASSERT_TRUE(waitUntil([&c] { return !c.peer.hasClient(); }));
    // The bytes reach Qt's buffer, then the next wait sees the hang-up.
    QTcpSocket& socket = *c.link.Winsock1;
    ASSERT_TRUE(waitUntil([&socket] {
        socket.waitForReadyRead(linkexchange::kWaitSliceMs);
        return socket.state() != QAbstractSocket::ConnectedState;
    }));
    ASSERT_EQ(socket.bytesAvailable(), 4);
    c.link.Winsock1_Close();
    EXPECT_EQ(c.link.RxBuffer, QByteArray("kept"));
    EXPECT_FALSE(c.link.isConnected());

    c.link.Winsock1_Error();
    c.link.Winsock1_Close();
    c.link.Winsock1_DataArrival();
    EXPECT_EQ(c.link.RxBuffer, QByteArray("kept"));
    EXPECT_FALSE(c.link.isConnected());
    EXPECT_FALSE(c.link.send(hex("010300000001840A")));
    EXPECT_EQ(c.peer.connections(), 1);
}

}  // namespace
