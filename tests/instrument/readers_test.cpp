#include "readers.h"

#include <gtest/gtest.h>

#include <QThread>
#include <memory>

#include "fake_module.h"
#include "qt_printers.h"

namespace {

constexpr int kSlave = 7;

QByteArray registerString(std::initializer_list<quint16> values) {
    QByteArray s;
    for (quint16 v : values) {
        s.append(static_cast<char>(v & 0xFF));
        s.append(static_cast<char>(v >> 8));
    }
    return s;
}

// --- block read ---------------------------------------------------------------------

TEST(BlockRead, RetriesUntilAnAttemptSucceeds) {
    for (int failures : {0, 1, 2}) {
        FakeModule module;
        module.regs[10] = 0x3F06;
        for (int i = 0; i < failures; ++i) module.script.push_back(false);
        Instrument instrument(module, kSlave, 0);
        // The hook runs before every attempt, so writes queued meanwhile never wait out
        // the block's retries.
        QList<int> sentAtHook;
        instrument.setBetweenTransactions([&] {
            sentAtHook << static_cast<int>(module.sent.size());
            return true;
        });

        const QByteArray data = instrument.blockRead(kDisplayBlock);

        EXPECT_EQ(data, registerString({0x3F06, 0, 0, 0})) << failures;
        ASSERT_EQ(module.sent.size(), failures + 1);
        for (const QByteArray& frame : module.sent)
            EXPECT_EQ(frame, modbus::readRequest(kSlave, 10, 4));
        QList<int> expected;
        for (int i = 0; i <= failures; ++i) expected << i;
        EXPECT_EQ(sentAtHook, expected);
    }
}

TEST(BlockRead, LinkThatJustFailedCostsNoFurtherAttempts) {
    FakeModule module;
    Instrument instrument(module, kSlave, 0);
    instrument.setBetweenTransactions([] { return false; });
    EXPECT_TRUE(instrument.blockRead(kDisplayBlock).isEmpty());
    EXPECT_TRUE(module.sent.isEmpty());
}

TEST(BlockRead, GivesUpAfterThreeFailures) {
    FakeModule module;
    module.deadBlocks << 0;
    Instrument instrument(module, kSlave, 0);
    EXPECT_TRUE(instrument.blockRead(kWeightBlock).isEmpty());
    EXPECT_EQ(module.sent.size(), 3);
}

TEST(BlockRead, StopsRetryingOnceTheThreadIsAskedToStop) {
    FakeModule module;
    module.deadBlocks << 10;
    Instrument instrument(module, kSlave, 0);
    module.onRequest = [](int) { QThread::currentThread()->requestInterruption(); };
    QByteArray data = "not run";
    std::unique_ptr<QThread> worker(
        QThread::create([&] { data = instrument.blockRead(kDisplayBlock); }));
    worker->start();
    worker->wait();
    EXPECT_TRUE(data.isEmpty());
    EXPECT_EQ(module.sent.size(), 1);
}

// --- readers ------------------------------------------------------------------------

TEST(Readers, EachWaitsForTheConnectionOnceAndReadsItsBlocks) {
    FakeModule module;
    module.regs[10] = 0x3F06;
    module.regs[11] = 0x5B4F;
    // The old marker values are readings like any other.
    module.setPair(0, static_cast<quint32>(-999999));
    module.setPair(4, static_cast<quint32>(-999999));
    module.setPair(14, 999999);
    Instrument instrument(module, kSlave, 0);

    const auto image = LeeDisplay(instrument);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(*image, QByteArray("\x06\x3F\x4F\x5B\0\0\0\0", 8));  // low byte first
    const auto weights = LeePeso(instrument);
    ASSERT_TRUE(weights.has_value());
    EXPECT_EQ(weights->gross, -999999.0);
    EXPECT_EQ(weights->net, -999999.0);
    const auto setpoints = LeeCortes(instrument);
    ASSERT_TRUE(setpoints.has_value());
    EXPECT_EQ(setpoints->zeroBand, 999999.0);
    EXPECT_TRUE(LeeComando(instrument).has_value());

    EXPECT_EQ(module.waitConnectedCalls, 4);
    const QList<QByteArray> expected = {
        modbus::readRequest(kSlave, 10, 4), modbus::readRequest(kSlave, 0, 8),
        modbus::readRequest(kSlave, 14, 6), modbus::readRequest(kSlave, 20, 3),
        modbus::readRequest(kSlave, 7, 3)};
    EXPECT_EQ(module.sent, expected);

    // A dark display is an image, not a failure.
    FakeModule dark;
    Instrument darkInstrument(dark, kSlave, 0);
    EXPECT_EQ(LeeDisplay(darkInstrument), QByteArray(8, '\0'));
}

TEST(Readers, CutOffsNeedBothBlocksButAlwaysReadBoth) {
    struct Case {
        bool firstDead;
        bool secondDead;
    };
    for (const Case c : {Case{true, false}, Case{false, true}, Case{true, true}}) {
        FakeModule module;
        if (c.firstDead) module.deadBlocks << 14;
        if (c.secondDead) module.deadBlocks << 20;
        Instrument instrument(module, kSlave, 0);
        EXPECT_FALSE(LeeCortes(instrument).has_value());
        EXPECT_EQ(module.addresses.count(14), c.firstDead ? 3 : 1);
        EXPECT_EQ(module.addresses.count(20), c.secondDead ? 3 : 1);
        EXPECT_EQ(module.waitConnectedCalls, 1);
    }
}

// --- decoders -----------------------------------------------------------------------

TEST(DecodeWeights, SignedGrossAndNetUnsignedTareScaled) {
    WeightReading w = decodeWeights(registerString({0x0064, 0, 0, 0, 0, 0, 0x0205, 0}), 1);
    EXPECT_DOUBLE_EQ(w.gross, 10.0);
    EXPECT_EQ(w.state, 5);
    EXPECT_EQ(w.task, 2);

    w = decodeWeights(registerString({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0}), 0);
    EXPECT_EQ(w.gross, -1.0);
    EXPECT_EQ(w.tare, 4294967295.0);
    EXPECT_EQ(w.net, -1.0);

    // -999999 = 0xFFF0BDC1; top bit boundaries either side of 2^31.
    w = decodeWeights(registerString({0xBDC1, 0xFFF0, 0, 0x8000, 0xFFFF, 0x7FFF, 0, 0}), 0);
    EXPECT_EQ(w.gross, -999999.0);
    EXPECT_EQ(w.tare, 2147483648.0);
    EXPECT_EQ(w.net, 2147483647.0);

    w = decodeWeights(registerString({0, 0x8000, 0xFFFF, 0xFFFF, 0x3039, 0, 0, 0}), 2);
    EXPECT_EQ(w.gross, -2147483648.0 / 100);
    EXPECT_EQ(w.tare, 42949672.95);
    EXPECT_EQ(w.net, 123.45);
}

TEST(DecodeSetpoints, UnsignedPairsScaledPercentageNot) {
    const QByteArray first = registerString({0x0000, 0x0100, 0x04D2, 0x0000, 0xFFFF, 0xFFFF});
    const QByteArray second = registerString({0x3039, 0x0000, 0x0064});
    Setpoints s = decodeSetpoints(first, second, 2);
    EXPECT_EQ(s.zeroBand, 16777216.0 / 100);
    EXPECT_EQ(s.coarse, 12.34);
    EXPECT_EQ(s.fine, 42949672.95);
    EXPECT_EQ(s.target, 123.45);
    EXPECT_EQ(s.percentage, 100);

    s = decodeSetpoints(first, registerString({0, 0, 0xFFFF}), 0);
    EXPECT_EQ(s.zeroBand, 16777216.0);
    EXPECT_EQ(s.fine, 4294967295.0);
    EXPECT_EQ(s.percentage, 65535);
}

TEST(DecodeReadback, BytePairAndUnsignedDataWord) {
    CommandReadback r = decodeReadback(registerString({0x0312, 0x5678, 0x1234}));
    EXPECT_EQ(r.command, 18);
    EXPECT_EQ(r.result, 3);
    EXPECT_EQ(r.data, 305419896u);
    EXPECT_EQ(QList<int>(std::begin(r.dataBytes), std::end(r.dataBytes)),
              QList<int>({120, 86, 52, 18}));

    r = decodeReadback(registerString({0, 0xFFFF, 0xFFFF}));
    EXPECT_EQ(r.data, 4294967295u);
    EXPECT_EQ(r.dataBytes[3], 255);
}

}  // namespace
