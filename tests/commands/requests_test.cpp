#include "requests.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QThread>

#include "fake_module.h"

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

using Writes = std::vector<std::pair<int, int>>;

// (address, register value) of every write, in order.
Writes writes(const std::optional<WriteRequest>& request) {
    Writes result;
    for (const RegisterWrite& w : request.value().writes) {
        EXPECT_EQ(w.value.size(), 2);
        result.emplace_back(
            w.address, static_cast<quint8>(w.value[0]) + 256 * static_cast<quint8>(w.value[1]));
    }
    return result;
}

TEST(Requests, AddressesAndOrder) {
    EXPECT_EQ(writes(setpointRequest(Setpoint::BCero, 65536)), (Writes{{14, 0}, {15, 1}}));
    EXPECT_EQ(writes(setpointRequest(Setpoint::Grueso, 125)), (Writes{{16, 125}, {17, 0}}));
    EXPECT_EQ(writes(setpointRequest(Setpoint::Fino, 65536)), (Writes{{18, 0}, {19, 1}}));
    EXPECT_EQ(writes(setpointRequest(Setpoint::Teor, 4294967295.0)),
              (Writes{{20, 65535}, {21, 65535}}));
    EXPECT_EQ(writes(setpointRequest(Setpoint::Porc, 300)), (Writes{{22, 300}}));
    EXPECT_EQ(writes(commandRequest(5)), (Writes{{7, 5}}));
    EXPECT_EQ(writes(commandRequest(258)), (Writes{{7, 258}}));
    EXPECT_EQ(writes(dataRequest(70000)), (Writes{{8, 4464}, {9, 1}}));
    const char letters[] = "SZMPF";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(writes(keyRequest(i)), (Writes{{6, letters[i]}}));
    // Out of range for the register width: nothing to send.
    EXPECT_FALSE(setpointRequest(Setpoint::Grueso, 4294967296.0));
    EXPECT_FALSE(setpointRequest(Setpoint::Porc, 65536));
    EXPECT_FALSE(commandRequest(65536));
    EXPECT_FALSE(dataRequest(-1));
    EXPECT_FALSE(keyRequest(-1));
    EXPECT_FALSE(keyRequest(5));
}

TEST(SendRequest, ExactFramesForSlave1) {
    const auto expectFrames = [](const std::optional<WriteRequest>& request,
                                 const QList<QByteArray>& frames) {
        FakeModule module;
        EXPECT_EQ(sendRequest(module, 1, request.value()).result, WriteResult::Enviado);
        EXPECT_EQ(module.sent, frames);
    };
    expectFrames(setpointRequest(Setpoint::Grueso, 100),
                 {hex("01060010006489e4"), hex("010600110000d9cf")});
    expectFrames(dataRequest(70000), {hex("01060008117005bc"), hex("0106000900019808")});
    expectFrames(setpointRequest(Setpoint::Porc, 300), {hex("01060016012c6843")});
    expectFrames(keyRequest(1), {hex("01060006005ae9f0")});
}

const WriteRequest kGruesoLow{{RegisterWrite{16, QByteArray("\x64\x00", 2)}}, {}, {}, {}};

TEST(SendRequest, UpToThreeAttemptsStoppingAtTheFirstEcho) {
    struct Case {
        std::deque<bool> script;  // false: that echo arrives spoilt
        int frames;
        bool written;
    };
    for (const Case& c :
         {Case{{true}, 1, true}, Case{{false, true}, 2, true}, Case{{false, false, true}, 3, true},
          Case{{false, false, false, true}, 3, false}}) {
        FakeModule module;
        module.script = c.script;
        EXPECT_EQ(sendRequest(module, 1, kGruesoLow).result == WriteResult::Enviado, c.written);
        EXPECT_EQ(module.sent, QList<QByteArray>(c.frames, hex("01060010006489e4")));
    }
}

// Busy is worth another attempt, a gateway's "no reply" is silence, and nothing goes out
// past the deadline but the second half of a value the module has just taken, once.
TEST(SendRequest, BusyGatewayAndDeadline) {
    const WriteRequest grueso = setpointRequest(Setpoint::Grueso, 100).value();
    FakeModule busy;
    busy.refusals = {6, 6, 0, 0};
    EXPECT_EQ(sendRequest(busy, 1, grueso).result, WriteResult::Enviado);
    EXPECT_EQ(busy.addresses, (QList<int>{16, 16, 16, 17}));
    FakeModule gateway;
    gateway.refusals = {11, 11, 11};
    EXPECT_EQ(sendRequest(gateway, 1, grueso).result, WriteResult::Error);

    FakeModule late;
    EXPECT_EQ(sendRequest(late, 1, grueso, QDeadlineTimer(0)).result, WriteResult::Descartado);
    EXPECT_TRUE(late.sent.isEmpty());
    FakeModule half;
    half.script = {true, false, false, false};
    const QDeadlineTimer sendBy(200);
    half.onRequest = [&](int) {  // the deadline runs out while the first half goes
        while (!sendBy.hasExpired()) QThread::msleep(5);
    };
    const WriteOutcome outcome = sendRequest(half, 1, grueso, sendBy);
    EXPECT_EQ(outcome.result, WriteResult::Error);
    EXPECT_EQ(half.addresses, (QList<int>{16, 17}));
    EXPECT_EQ(outcome.attempted.size(), 2);
}

TEST(SendRequest, GivesUpWhenTheWorkerIsStopping) {
    FakeModule module;
    module.script = {false, true};
    // The stop arrives while the first attempt is out.
    module.onRequest = [](int) { QThread::currentThread()->requestInterruption(); };
    bool written = true;
    std::unique_ptr<QThread> worker(QThread::create(
        [&] { written = sendRequest(module, 1, kGruesoLow).result == WriteResult::Enviado; }));
    worker->start();
    worker->wait();
    EXPECT_FALSE(written);
    EXPECT_EQ(module.sent.size(), 1);
}

}  // namespace
