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
    std::function<void(int)> onWait;  // hook run at every wait

    QByteArray drainInput() override { return std::exchange(input, {}); }
    bool send(const QByteArray& frame) override {
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
    bool isConnected() const override { return true; }
    void close() override {}
};

// Registers 0..7 hold 0x1011, 0x1213, ...: the reply and the register string.
const QByteArray kWeightReply = modbus::withCrc(hex("010310101112131415161718191A1B1C1D1E1F"));
const QByteArray kWeightRegisters = hex("111013121514171619181B1A1D1C1F1E");
const QByteArray kReadException = modbus::withCrc(hex("018302"));
const QByteArray kWriteException = modbus::withCrc(hex("018602"));

struct ExchangeCase {
    const char* name;
    bool write;  // TxD(1, 16, 100) instead of RxD(1, 0, 8)
    QByteArray stale;
    std::deque<QByteArray> pieces;
    QByteArray expected;
    int waits;  // until the reply is judged complete
};

QByteArray flipped(QByteArray bytes, int at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

TEST(Exchange, RepliesAsTheyArrive) {
    const ExchangeCase cases[] = {
        {"read in pieces",
         false,
         {},
         {kWeightReply.left(3), kWeightReply.mid(3, 10), kWeightReply.mid(13)},
         kWeightRegisters,
         3},
        {"late reply to an earlier read discarded",
         false,
         modbus::withCrc(hex("0103020BAD")),
         {kWeightReply},
         kWeightRegisters,
         1},
        {"one byte too long", false, {}, {kWeightReply + '\0'}, {}, 1},
        {"wrong CRC", false, {}, {flipped(kWeightReply, 20)}, {}, 1},
        {"write echo in pieces", true, {}, {hex("0106"), hex("0010006489E4")}, hex("6400"), 2},
        {"write echo with one more byte", true, {}, {hex("01060010006489E4FF")}, {}, 1},
        // An exception ends the wait at once: the bytes scripted after it stay unread.
        {"exception", false, {}, {kReadException, hex("AAAA"), hex("BBBB")}, {}, 1},
        {"exception in pieces",
         false,
         {},
         {kReadException.left(2), kReadException.mid(2), hex("DD")},
         {},
         2},
        {"write exception in pieces",
         true,
         {},
         {kWriteException.left(4), kWriteException.mid(4), hex("CC")},
         {},
         2},
    };
    for (const ExchangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLink link;
        link.input = c.stale;
        link.pieces = c.pieces;
        const QByteArray result = c.write ? TxD(link, 1, 16, hex("6400")) : RxD(link, 1, 0, 8);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(link.waits, c.waits);
        ASSERT_EQ(link.sent.size(), 1u);
        EXPECT_EQ(link.sent[0], c.write ? hex("01060010006489E4") : hex("010300000008440C"));
    }
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

TEST(Exchange, StopRequestEndsTheWait) {
    int waits = 0;
    std::unique_ptr<QThread> worker(QThread::create([&waits] {
        ScriptedLink link;
        link.onWait = [](int n) {
            if (n == 3) QThread::currentThread()->requestInterruption();
        };
        // Long enough that only the stop request can end it early.
        linkExchange(link, modbus::readRequest(1, 0, 8), 21, 10000);
        waits = link.waits;
    }));
    worker->start();
    ASSERT_TRUE(worker->wait());
    EXPECT_EQ(waits, 3);
}

}  // namespace
