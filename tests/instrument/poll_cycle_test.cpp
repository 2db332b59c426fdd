#include "poll_cycle.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "fake_module.h"
#include "qt_printers.h"
#include "weight_log.h"

namespace {

class RecordingSink : public PollSink {
public:
    QStringList events;
    DisplayImage image;
    WeightReading weights;
    Setpoints setpoints;
    CommandReadback readback;

    void displayRead(const DisplayImage& i) override {
        events << "display";
        image = i;
    }
    void weightsRead(const WeightReading& w) override {
        events << "weights";
        weights = w;
    }
    void setpointsRead(const Setpoints& s) override {
        events << "setpoints";
        setpoints = s;
    }
    void readbackRead(const CommandReadback& r) override {
        events << "readback";
        readback = r;
    }
    void communicationLost() override { events << "lost"; }
};

// One station's poll cycle against a scripted module, logging into a fresh directory.
struct Cycle {
    QByteArray logContents() const {
        QFile file(dir.filePath("Peso.csv"));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return file.readAll();
    }
    void run() {
        PollContext context{instrument, log, sink, QLocale(QLocale::Spanish, QLocale::Spain)};
        context.now = [] { return QDateTime(QDate(2026, 7, 12), QTime(7, 54, 31)); };
        pollCycle(context);
        // What the last block brought, as the worker lets it out when no round follows.
        instrument.runHeldWork();
    }

    QTemporaryDir dir;
    FakeModule module;
    Instrument instrument{module, 1, 1};
    WeightLog log{dir.filePath("Peso.csv")};
    RecordingSink sink;
};

class PollCycleTest : public ::testing::Test, protected Cycle {};

TEST_F(PollCycleTest, ReadsEveryBlockInOrderAndLogsTheWeights) {
    module.regs[10] = 0x3F06;
    module.setPair(0, 125);
    module.setPair(2, 5);
    module.setPair(4, 120);
    module.regs[6] = 0x0205;
    module.setPair(14, 10);
    module.regs[22] = 100;
    module.regs[7] = 0x0312;
    run();

    EXPECT_EQ(sink.events, QStringList({"display", "weights", "setpoints", "readback"}));
    EXPECT_EQ(module.addresses, QList<int>({10, 0, 14, 20, 7}));
    EXPECT_EQ(sink.image.left(2), QByteArray("\x06\x3F"));
    EXPECT_EQ(sink.weights.gross, 12.5);
    EXPECT_EQ(sink.weights.state, 5);
    EXPECT_EQ(sink.setpoints.zeroBand, 1.0);
    EXPECT_EQ(sink.setpoints.percentage, 100);
    EXPECT_EQ(sink.readback.command, 0x12);
    EXPECT_EQ(logContents(), "12/7/26;7:54:31;12,5;0,5;12,0\r\n");
}

TEST(PollCycleFailures, AFailedBlockEndsTheCycleThere) {
    const struct {
        int deadBlock;
        QStringList events;
        bool logged;
    } cases[] = {
        {10, {"lost"}, false},  // a silent module: nothing past the display
        {0, {"display", "lost"}, false},
        {7, {"display", "weights", "setpoints", "lost"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deadBlock);
        Cycle cycle;
        cycle.module.deadBlocks << c.deadBlock;
        cycle.run();
        EXPECT_EQ(cycle.sink.events, c.events);
        EXPECT_EQ(cycle.module.addresses.count(c.deadBlock), 3);
        EXPECT_EQ(QFile::exists(cycle.dir.filePath("Peso.csv")), c.logged);
    }
}

// Each block's report and the log line wait for the next request to go out, never for a
// reply, and the line stays when the later blocks fail.
TEST_F(PollCycleTest, ReportsGoOutBehindTheNextRequestAndTheLineStaysWhenTheSetpointsFail) {
    module.deadBlocks << 20;
    QList<QStringList> eventsAtRequest;
    QByteArray logAtSecondSetpointRequest;
    module.onRequest = [&](int address) {
        eventsAtRequest << sink.events;
        if (address == 20) logAtSecondSetpointRequest = logContents();
    };
    run();
    EXPECT_EQ(sink.events, QStringList({"display", "weights", "lost"}));
    // At each request: what the blocks before the previous one brought.
    const QStringList display{"display"}, weights{"display", "weights"};
    EXPECT_EQ(eventsAtRequest, QList<QStringList>({{}, {}, display, weights, weights, weights}));
    EXPECT_EQ(logAtSecondSetpointRequest, "12/7/26;7:54:31;0,0;0,0;0,0\r\n");
    EXPECT_EQ(logContents(), logAtSecondSetpointRequest);
    // The readback block is not read once the cycle has ended.
    EXPECT_FALSE(module.addresses.contains(7));
}

TEST_F(PollCycleTest, UnwritableLogDoesNotHoldUpThePoll) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("Peso.csv"));
    run();
    EXPECT_EQ(sink.events, QStringList({"display", "weights", "setpoints", "readback"}));
    EXPECT_EQ(log.pending(), 1);
}

}  // namespace
