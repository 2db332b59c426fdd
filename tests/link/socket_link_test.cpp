#include "socket_link.h"

#include <gtest/gtest.h>

#include <QTcpServer>

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
        link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
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

TEST(SocketLink, StaleBytesBeforeTheRequestAreDiscarded) {
    Connected c([](const QByteArray&) { return PeerReply{{readReplyFor(1, {0x1234})}}; });
    ASSERT_TRUE(waitUntil([&c] { return c.peer.hasClient(); }));
    // A complete late reply with other values sits in the socket before the request.
    c.peer.sendRaw(readReplyFor(1, {0xBAD0}));
    // Wait for it in the socket itself, not in RxBuffer: discarding must also take
    // in what the socket holds.
    ASSERT_TRUE(waitUntil([&c] {
        return c.link.Winsock1->bytesAvailable() > 0 ||
               c.link.Winsock1->waitForReadyRead(linkexchange::kWaitSliceMs);
    }));
    ASSERT_TRUE(c.link.RxBuffer.isEmpty());
    EXPECT_EQ(RxD(c.link, 1, 0, 1), hex("3412"));
}

TEST(SocketLink, HangUpsAndReconnects) {
    RegisterBank bank;
    std::atomic<bool> hangUpAfterReply{true};
    Connected c([&](const QByteArray& request) {
        PeerReply reply = bank.answer(request);
        reply.closeAfter = hangUpAfterReply.exchange(false);
        return reply;
    });
    // The reply that comes just before the hang-up is still delivered.
    EXPECT_EQ(RxD(c.link, 1, 0, 1), registerString({0x1000}));
    ASSERT_TRUE(waitUntil([&c] {
        c.link.waitForData(linkexchange::kWaitSliceMs);
        return !c.link.isConnected();
    }));
    // Down: nothing is sent and the transaction fails.
    EXPECT_TRUE(linkExchange(c.link, modbus::readRequest(1, 0, 1), 7, 100).isEmpty());
    c.link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    EXPECT_EQ(RxD(c.link, 1, 3, 2), registerString({0x1003, 0x1004}));
    EXPECT_EQ(c.peer.connections(), 2);

    // A hang-up the link has not seen yet: like a reader before each block, wait for
    // the connection, then read. It may not have reached the socket at the first look.
    c.peer.dropClient();
    ASSERT_TRUE(waitUntil([&c] { return !c.peer.hasClient(); }));
    QByteArray registers;
    for (int attempt = 0; attempt < 3 && registers.isEmpty(); ++attempt) {
        c.link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
        registers = RxD(c.link, 1, 0, 1);
    }
    EXPECT_EQ(registers, registerString({0x1000}));
    EXPECT_EQ(c.peer.connections(), 3);
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
    link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    EXPECT_EQ(RxD(link, 1, 0, 1), registerString({0x1000}));
}

TEST(SocketLink, HandlersOnAClosedSocketDoNothing) {
    SocketLink link(QStringLiteral("127.0.0.1"), 1);
    link.RxBuffer = "kept";
    link.Winsock1_Error();
    link.Winsock1_Close();
    link.Winsock1_DataArrival();
    EXPECT_EQ(link.RxBuffer, QByteArray("kept"));
    EXPECT_FALSE(link.isConnected());
    EXPECT_FALSE(link.send(hex("010300000001840A")));
}

}  // namespace
