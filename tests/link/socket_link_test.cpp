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

void connectLink(SocketLink& link) {
    link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
    ASSERT_TRUE(link.isConnected());
}

// Waits (through the link's own waits) until the link has noticed a hang-up.
bool noticesHangUp(SocketLink& link) {
    return waitUntil([&link] {
        link.waitForData(linkexchange::kWaitSliceMs);
        return !link.isConnected();
    });
}

TEST(SocketLink, ReplyInPiecesAndWriteEcho) {
    ScriptedTcpPeer peer([](const QByteArray& request) -> PeerReply {
        if (request[1] == char(modbus::kWriteSingleRegister))
            return {{request.left(5), request.mid(5)}};
        const QByteArray reply = readReplyFor(1, kWeights);
        return {{reply.left(3), reply.mid(3, 9), reply.mid(12)}};
    });
    SocketLink link(QStringLiteral("127.0.0.1"), peer.port());
    link.connectToModule();
    connectLink(link);
    EXPECT_EQ(RxD(link, 1, 0, 8), registerString(kWeights));
    EXPECT_EQ(TxD(link, 1, 16, hex("6400")), hex("6400"));
    EXPECT_EQ(peer.requests(), 2);
}

TEST(SocketLink, FaultyRepliesAreRejected) {
    const QByteArray good = readReplyFor(1, {0x1234});
    QByteArray badCrc = good;
    badCrc[6] = static_cast<char>(badCrc[6] ^ 0x10);
    const QList<PeerReply> script = {
        {{good + '\x00'}},                   // one byte too long
        {{badCrc}},                          // wrong CRC
        {{modbus::withCrc(hex("018302"))}},  // exception
        {{good.left(3), good.mid(3)}},       // and a good one again
    };
    std::atomic<int> turn{0};
    ScriptedTcpPeer peer([&](const QByteArray&) { return script[turn++ % script.size()]; });
    SocketLink link(QStringLiteral("127.0.0.1"), peer.port());
    connectLink(link);
    EXPECT_TRUE(RxD(link, 1, 0, 1).isEmpty());
    EXPECT_TRUE(RxD(link, 1, 0, 1).isEmpty());
    EXPECT_TRUE(RxD(link, 1, 0, 1).isEmpty());
    EXPECT_EQ(RxD(link, 1, 0, 1), hex("3412"));
}

// Passes every call through and counts the waits made once bytes have arrived.
class WaitCounter : public Link {
public:
    explicit WaitCounter(Link& inner) : inner_(inner) {}
    int waitsAfterData = 0;

    void discardInput() override { inner_.discardInput(); }
    bool send(const QByteArray& frame) override { return inner_.send(frame); }
    QByteArray takeAvailable() override {
        QByteArray bytes = inner_.takeAvailable();
        received_ += bytes.size();
        return bytes;
    }
    bool waitForData(int ms) override {
        if (received_ > 0) ++waitsAfterData;
        return inner_.waitForData(ms);
    }
    void waitConnected(QDeadlineTimer deadline) override { inner_.waitConnected(deadline); }
    bool isConnected() const override { return inner_.isConnected(); }
    void close() override { inner_.close(); }

private:
    Link& inner_;
    qsizetype received_ = 0;
};

TEST(SocketLink, ExceptionReplyEndsTheWait) {
    const QByteArray exception = modbus::withCrc(hex("018302"));
    ScriptedTcpPeer peer([&](const QByteArray&) {
        return PeerReply{{exception.left(2), exception.mid(2)}};
    });
    SocketLink socket(QStringLiteral("127.0.0.1"), peer.port());
    connectLink(socket);
    WaitCounter link(socket);
    const QByteArray reply = linkExchange(link, modbus::readRequest(1, 0, 8), 21, 10000);
    EXPECT_EQ(reply, exception);
    EXPECT_LE(link.waitsAfterData, 1);  // only the wait for the second piece
}

TEST(SocketLink, NoReplyGivesEmpty) {
    ScriptedTcpPeer peer([](const QByteArray&) { return PeerReply{}; });
    SocketLink link(QStringLiteral("127.0.0.1"), peer.port());
    connectLink(link);
    EXPECT_TRUE(RxD(link, 1, 0, 8).isEmpty());
    EXPECT_EQ(peer.requests(), 1);
    EXPECT_TRUE(link.isConnected());
}

TEST(SocketLink, StaleBytesBeforeTheRequestAreDiscarded) {
    ScriptedTcpPeer peer([](const QByteArray&) { return PeerReply{{readReplyFor(1, {0x1234})}}; });
    SocketLink link(QStringLiteral("127.0.0.1"), peer.port());
    connectLink(link);
    ASSERT_TRUE(waitUntil([&peer] { return peer.hasClient(); }));
    // A complete late reply with other values sits in the socket before the request.
    peer.sendRaw(readReplyFor(1, {0xBAD0}));
    // Wait for it in the socket itself, not in RxBuffer: discarding must also take
    // in what the socket holds.
    ASSERT_TRUE(waitUntil([&link] {
        return link.Winsock1->bytesAvailable() > 0 ||
               link.Winsock1->waitForReadyRead(linkexchange::kWaitSliceMs);
    }));
    ASSERT_TRUE(link.RxBuffer.isEmpty());
    EXPECT_EQ(RxD(link, 1, 0, 1), hex("3412"));
}

TEST(SocketLink, ReplyFollowedByHangUpIsDelivered) {
    ScriptedTcpPeer peer([](const QByteArray&) {
        return PeerReply{{readReplyFor(1, kWeights)}, true};
    });
    SocketLink link(QStringLiteral("127.0.0.1"), peer.port());
    connectLink(link);
    EXPECT_EQ(RxD(link, 1, 0, 8), registerString(kWeights));
    EXPECT_TRUE(noticesHangUp(link));
}

TEST(SocketLink, HangUpThenReconnect) {
    RegisterBank bank;
    ScriptedTcpPeer peer([&bank](const QByteArray& request) { return bank.answer(request); });
    SocketLink link(QStringLiteral("127.0.0.1"), peer.port());
    connectLink(link);
    EXPECT_EQ(RxD(link, 1, 0, 1), registerString({0x1000}));

    peer.dropClient();
    ASSERT_TRUE(waitUntil([&peer] { return !peer.hasClient(); }));
    ASSERT_TRUE(noticesHangUp(link));
    // Down: nothing is sent and the transaction fails.
    EXPECT_TRUE(linkExchange(link, modbus::readRequest(1, 0, 1), 7, 100).isEmpty());

    connectLink(link);
    EXPECT_EQ(RxD(link, 1, 3, 2), registerString({0x1003, 0x1004}));
    EXPECT_EQ(peer.connections(), 2);
}

TEST(SocketLink, HangUpNoticedByTheConnectionWait) {
    RegisterBank bank;
    ScriptedTcpPeer peer([&bank](const QByteArray& request) { return bank.answer(request); });
    SocketLink link(QStringLiteral("127.0.0.1"), peer.port());
    connectLink(link);
    peer.dropClient();
    ASSERT_TRUE(waitUntil([&peer] { return !peer.hasClient(); }));
    // Like a reader before each block: wait for the connection, then read. The
    // hang-up may not have reached the socket when the first wait looks.
    QByteArray registers;
    for (int attempt = 0; attempt < 3 && registers.isEmpty(); ++attempt) {
        link.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
        registers = RxD(link, 1, 0, 1);
    }
    EXPECT_EQ(registers, registerString({0x1000}));
    EXPECT_EQ(peer.connections(), 2);
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
    connectLink(link);
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
