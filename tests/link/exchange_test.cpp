#include <gtest/gtest.h>

#include <QThread>
#include <deque>
#include <functional>

#include "frames.h"
#include "link.h"
#include "transactions.h"

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// An in-memory link: every wait delivers the next scripted piece of the reply.
class ScriptedLink : public Link {
public:
    QByteArray input;               // bytes waiting on the "line"
    std::deque<QByteArray> pieces;  // delivered one per wait, after a send
    std::vector<QByteArray> sent;
    int waits = 0;
    bool connected = true;
    std::function<void(int)> onWait;  // hook run at every wait

    void discardInput() override { input.clear(); }
    bool send(const QByteArray& frame) override {
        if (!connected) return false;
        sent.push_back(frame);
        return true;
    }
    QByteArray takeAvailable() override { return std::exchange(input, {}); }
    bool waitForData(int ms) override {
        ++waits;
        if (onWait) onWait(waits);
        if (!sent.empty() && !pieces.empty()) {
            input += pieces.front();
            pieces.pop_front();
            return true;
        }
        QThread::msleep(static_cast<unsigned long>(std::max(ms, 0)));
        return false;
    }
    void waitConnected(QDeadlineTimer) override {}
    bool isConnected() const override { return connected; }
    void close() override { connected = false; }
};

QByteArray weightReply() {
    QByteArray body = hex("010310");
    for (int k = 0; k < 16; ++k) body.append(static_cast<char>(0x10 + k));
    return modbus::withCrc(body);
}

QByteArray weightRegisters() {
    QByteArray registers;
    for (int k = 0; k < 16; k += 2) {
        registers.append(static_cast<char>(0x10 + k + 1));
        registers.append(static_cast<char>(0x10 + k));
    }
    return registers;
}

TEST(Exchange, ReplyInPiecesIsJoined) {
    ScriptedLink link;
    const QByteArray reply = weightReply();
    link.pieces = {reply.left(3), reply.mid(3, 10), reply.mid(13)};
    EXPECT_EQ(RxD(link, 1, 0, 8), weightRegisters());
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0], hex("010300000008440C"));
    EXPECT_EQ(link.waits, 3);
}

TEST(Exchange, StaleBytesAreDiscardedBeforeSending) {
    ScriptedLink link;
    link.input = modbus::withCrc(hex("0103020BAD"));  // late reply to an earlier read
    link.pieces = {modbus::withCrc(hex("0103021234"))};
    EXPECT_EQ(RxD(link, 1, 7, 1), hex("3412"));
}

TEST(Exchange, RejectedReplies) {
    const QByteArray reply = weightReply();
    {
        ScriptedLink tooLong;
        tooLong.pieces = {reply + '\0'};
        EXPECT_TRUE(RxD(tooLong, 1, 0, 8).isEmpty());
    }
    {
        ScriptedLink badCrc;
        QByteArray broken = reply;
        broken[20] = static_cast<char>(broken[20] ^ 0x01);
        badCrc.pieces = {broken};
        EXPECT_TRUE(RxD(badCrc, 1, 0, 8).isEmpty());
    }
    {
        // A valid reply followed by one more byte in the same arrival.
        ScriptedLink write;
        write.pieces = {hex("01060010006489E4FF")};
        EXPECT_TRUE(TxD(write, 1, 16, hex("6400")).isEmpty());
    }
}

TEST(Exchange, WriteEchoGivesTheValue) {
    ScriptedLink link;
    link.pieces = {hex("0106"), hex("0010006489E4")};
    EXPECT_EQ(TxD(link, 1, 16, hex("6400")), hex("6400"));
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0], hex("01060010006489E4"));
}

TEST(Exchange, NothingSentForArgumentsThatCannotBeEncoded) {
    ScriptedLink link;
    EXPECT_TRUE(RxD(link, 256, 0, 8).isEmpty());
    EXPECT_TRUE(RxD(link, -1, 0, 8).isEmpty());
    EXPECT_TRUE(TxD(link, 1, 16, hex("64")).isEmpty());
    EXPECT_TRUE(TxD(link, 1, 16, hex("640000")).isEmpty());
    EXPECT_TRUE(link.sent.empty());
    EXPECT_EQ(link.waits, 0);
}

TEST(Exchange, NoReplyRunsToTheDeadline) {
    ScriptedLink link;
    const QByteArray reply = linkExchange(link, modbus::readRequest(1, 0, 8), 21, 150);
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_GE(link.waits, 3);  // 150 ms in slices of at most 50 ms
}

TEST(Exchange, PartialReplyIsHandedBackAndRejected) {
    ScriptedLink link;
    link.pieces = {weightReply().left(12)};
    const QByteArray reply = linkExchange(link, modbus::readRequest(1, 0, 8), 21, 150);
    EXPECT_EQ(reply.size(), 12);
    EXPECT_TRUE(modbus::checkReadReply(reply, 8).isEmpty());
}

TEST(Exchange, NotConnectedStillWaitsAndFails) {
    ScriptedLink link;
    link.connected = false;
    link.pieces = {weightReply()};
    EXPECT_TRUE(linkExchange(link, modbus::readRequest(1, 0, 8), 21, 120).isEmpty());
    EXPECT_TRUE(link.sent.empty());
}

TEST(Exchange, ExceptionReplyEndsTheWaitAtOnce) {
    ScriptedLink link;
    // After the exception the script would go on delivering bytes; none may be taken.
    link.pieces = {modbus::withCrc(hex("018302")), hex("AAAA"), hex("BBBB")};
    EXPECT_TRUE(RxD(link, 1, 0, 8).isEmpty());
    EXPECT_EQ(link.waits, 1);
    EXPECT_EQ(link.pieces.size(), 2u);

    ScriptedLink write;
    const QByteArray writeException = modbus::withCrc(hex("018602"));
    write.pieces = {writeException.left(4), writeException.mid(4), hex("CC")};
    EXPECT_TRUE(TxD(write, 1, 16, hex("6400")).isEmpty());
    EXPECT_EQ(write.waits, 2);  // complete after the second piece
}

TEST(Exchange, ExceptionReplyInPieces) {
    ScriptedLink link;
    const QByteArray exception = modbus::withCrc(hex("018302"));
    link.pieces = {exception.left(2), exception.mid(2), hex("DD")};
    EXPECT_TRUE(RxD(link, 1, 0, 8).isEmpty());
    EXPECT_EQ(link.waits, 2);
}

TEST(Exchange, StopRequestEndsTheWait) {
    int waits = 0;
    QThread* worker = QThread::create([&waits] {
        ScriptedLink link;
        link.onWait = [](int n) {
            if (n == 3) QThread::currentThread()->requestInterruption();
        };
        // Long enough that only the stop request can end it early.
        linkExchange(link, modbus::readRequest(1, 0, 8), 21, 10000);
        waits = link.waits;
    });
    worker->start();
    ASSERT_TRUE(worker->wait());
    delete worker;
    EXPECT_EQ(waits, 3);
}

}  // namespace
