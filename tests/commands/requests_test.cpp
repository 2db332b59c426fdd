#include "requests.h"

#include <gtest/gtest.h>

#include <QThread>
#include <deque>
#include <functional>

#include "frames.h"
#include "link.h"

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// (address, register value) of every write, in order.
std::vector<std::pair<int, int>> writes(const std::optional<WriteRequest>& request) {
    std::vector<std::pair<int, int>> result;
    for (const RegisterWrite& w : request.value().writes) {
        EXPECT_EQ(w.value.size(), 2);
        result.emplace_back(
            w.address, static_cast<quint8>(w.value[0]) + 256 * static_cast<quint8>(w.value[1]));
    }
    return result;
}

using Writes = std::vector<std::pair<int, int>>;

TEST(Requests, AddressesAndOrder) {
    EXPECT_EQ(writes(setpointRequest(Setpoint::BCero, 65536)), (Writes{{14, 0}, {15, 1}}));
    EXPECT_EQ(writes(setpointRequest(Setpoint::Grueso, 125)), (Writes{{16, 125}, {17, 0}}));
    EXPECT_EQ(writes(setpointRequest(Setpoint::Fino, 65536)), (Writes{{18, 0}, {19, 1}}));
    EXPECT_EQ(writes(setpointRequest(Setpoint::Teor, 1)), (Writes{{20, 1}, {21, 0}}));
    EXPECT_EQ(writes(setpointRequest(Setpoint::Porc, 65535)), (Writes{{22, 65535}}));
    EXPECT_EQ(writes(commandRequest(258)), (Writes{{7, 258}}));
    EXPECT_EQ(writes(dataRequest(70000)), (Writes{{8, 4464}, {9, 1}}));
    // Out of range for the register width: nothing to send.
    EXPECT_FALSE(setpointRequest(Setpoint::Grueso, 4294967296.0));
    EXPECT_FALSE(setpointRequest(Setpoint::Porc, 65536));
    EXPECT_FALSE(commandRequest(65536));
    EXPECT_FALSE(dataRequest(-1));
}

TEST(Requests, KeysWriteTheirLetterThenZero) {
    const char letters[] = "SZMPF";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(writes(keyRequest(i)), (Writes{{6, letters[i]}}));
    EXPECT_EQ(keyRequest(1)->writes[0].value, QByteArray("Z\0", 2));
    EXPECT_FALSE(keyRequest(-1));
    EXPECT_FALSE(keyRequest(5));
}

// A link that answers each frame with the next scripted reply, at once.
class ScriptedLink : public Link {
public:
    enum class Reply { Echo, BadCrc, Exception, Silence };

    std::deque<Reply> script;
    QList<QByteArray> sent;
    std::function<void()> onWait;

    void discardInput() override { pending_.clear(); }
    bool send(const QByteArray& frame) override {
        sent.append(frame);
        const Reply reply = script.empty() ? Reply::Silence : script.front();
        if (!script.empty()) script.pop_front();
        pending_ = answer(reply, frame);
        return true;
    }
    QByteArray takeAvailable() override { return std::exchange(pending_, {}); }
    bool waitForData(int) override {
        if (onWait) onWait();
        return false;
    }
    void waitConnected(QDeadlineTimer) override {}
    bool isConnected() const override { return true; }
    void close() override {}

private:
    static QByteArray answer(Reply reply, QByteArray frame) {
        switch (reply) {
            case Reply::Echo:
                return frame;
            case Reply::BadCrc:
                frame[7] = static_cast<char>(frame[7] ^ 0x01);
                return frame;
            case Reply::Exception:
                return modbus::withCrc(hex("018602"));
            case Reply::Silence:
                return {};
        }
        return {};
    }
    QByteArray pending_;
};

using Reply = ScriptedLink::Reply;

const RegisterWrite kGruesoLow{16, QByteArray("\x64\x00", 2)};

TEST(RetriedWrite, StopsAtTheFirstEcho) {
    struct Case {
        std::deque<Reply> script;
        int frames;
    };
    for (const Case& c : {Case{{Reply::Echo}, 1}, Case{{Reply::BadCrc, Reply::Echo}, 2},
                          Case{{Reply::Exception, Reply::BadCrc, Reply::Echo}, 3}}) {
        ScriptedLink link;
        link.script = c.script;
        EXPECT_TRUE(retriedWrite(link, 1, kGruesoLow));
        EXPECT_EQ(link.sent.size(), c.frames);
    }
}

TEST(RetriedWrite, ThreeFailuresThenFalse) {
    ScriptedLink link;
    link.script = {Reply::BadCrc, Reply::Exception, Reply::BadCrc, Reply::Echo};
    EXPECT_FALSE(retriedWrite(link, 1, kGruesoLow));
    EXPECT_EQ(link.sent.size(), 3);
    for (const QByteArray& frame : link.sent) EXPECT_EQ(frame, hex("01060010006489e4"));
}

TEST(RetriedWrite, ExactFramesForSlave1) {
    const auto expectFrames = [](const std::optional<WriteRequest>& request,
                                 const QList<QByteArray>& frames) {
        ScriptedLink link;
        link.script = {Reply::Echo, Reply::Echo};
        for (const RegisterWrite& w : request.value().writes) EXPECT_TRUE(retriedWrite(link, 1, w));
        EXPECT_EQ(link.sent, frames);
    };
    expectFrames(setpointRequest(Setpoint::Grueso, 100),
                 {hex("01060010006489e4"), hex("010600110000d9cf")});
    expectFrames(dataRequest(70000), {hex("01060008117005bc"), hex("0106000900019808")});
    expectFrames(setpointRequest(Setpoint::Porc, 300), {hex("01060016012c6843")});
    expectFrames(keyRequest(1), {hex("01060006005ae9f0")});
}

TEST(RetriedWrite, GivesUpWhenTheWorkerIsStopping) {
    ScriptedLink link;
    link.script = {Reply::Silence, Reply::Echo};
    // The stop arrives while the first attempt waits for its echo.
    link.onWait = [] { QThread::currentThread()->requestInterruption(); };
    bool written = true;
    std::unique_ptr<QThread> worker(
        QThread::create([&] { written = retriedWrite(link, 1, kGruesoLow); }));
    worker->start();
    worker->wait();
    EXPECT_FALSE(written);
    EXPECT_EQ(link.sent.size(), 1);
}

}  // namespace
