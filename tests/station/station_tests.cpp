// The station without a window, its link worker on its own thread against a scripted
// module: where operator writes go among the poll's transactions, what a module that does
// not answer costs the operator, and the state the station keeps of each module.
#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <string>
#include <utility>

#include "fake_module.h"
#include "harness.h"
#include "link_worker.h"
#include "register_map.h"
#include "state_texts.h"
#include "station.h"
#include "station_module.h"
#include "typed_entries.h"

namespace {

// The scripted module, logging for the test what it sees: requests as "R<start>" and
// "W<register>=<value>", and every reply the station takes off the line as "<". It is
// owned by the worker; the test reaches it only under its mutex.
class ScriptedModule : public FakeModule {
public:
    std::mutex mutex;
    QStringList events;
    bool silent = false;
    // When set, the worker stops after sending a request to this address, with the reply
    // (if any) still on the line, until `go` is released; `held` tells the test it got there.
    int holdAt = -1;
    QSemaphore held, go;
    // A request went out from the station's own thread (its front end's), which must
    // never wait on the module.
    std::atomic<bool> sentFromWindowThread = false;

    QStringList log() {
        std::lock_guard lock(mutex);
        return events;
    }
    QStringList writes() { return log().filter(QRegularExpression(QStringLiteral("^W"))); }
    void setSilent(bool s) {
        std::lock_guard lock(mutex);
        silent = s;
    }

    bool send(const QByteArray& frame) override {
        bool hold = false;
        {
            std::lock_guard lock(mutex);
            FakeModule::send(frame);
            if (silent) drainInput();
            const int value = (static_cast<quint8>(frame[4]) << 8) | static_cast<quint8>(frame[5]);
            const bool write = frame[1] == modbus::kWriteSingleRegister;
            events << (write ? QStringLiteral("W%1=%2").arg(addresses.last()).arg(value)
                             : QStringLiteral("R%1").arg(addresses.last()));
            if (QThread::currentThread() == qApp->thread())
                sentFromWindowThread = true;
            else
                hold = addresses.last() == std::exchange(holdAt, -1);
        }
        if (hold) {
            held.release();
            go.acquire();
        }
        return true;
    }
    QByteArray takeAvailable() override {
        std::lock_guard lock(mutex);
        const QByteArray reply = FakeModule::takeAvailable();
        if (!reply.isEmpty()) events << QStringLiteral("<");
        return reply;
    }
    // A silent module costs the reply timeout in real time.
    bool waitForData(int ms) override {
        QThread::msleep(static_cast<unsigned long>(ms));
        return false;
    }
};

// Lists compared as one line of text, so a failure shows the sequence readably.
std::string text(const QStringList& list) {
    return list.join(QLatin1Char(' ')).toStdString();
}

// The station as it runs, read from a modbus.ini with a TCP link and no poll timer, whose
// worker then talks to the scripted module instead of the socket: polls come only from
// Timer1_Timer, called by the test, or from the worker's rounds the test starts.
class StationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
        writeIni(dir.path(), {{"Comunicacion_1", "1"},
                              {"Host_1", "127.0.0.1"},
                              {"Port_1", QString::number(listener.serverPort())},
                              {"Decimales_1", "2"},
                              {"ID_1", "1"},
                              {"Timer", "0"},
                              {"Tolerancia_1", "0.5"}});
        const QString error = [&] {
            CurrentDir cwd(dir.path());
            return station.Form_Load();
        }();
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        worker = station.worker();
        module = station.modules().front();
        QMetaObject::invokeMethod(
            worker,
            [this] {
                auto scripted = std::make_unique<ScriptedModule>();
                script = scripted.get();
                worker->useLink(std::move(scripted));
            },
            Qt::BlockingQueuedConnection);
        QObject::connect(module, &StationModule::writeFailed, &context, [this] { ++failures; });
        QObject::connect(module, &StationModule::stateChanged, &context,
                         [this](const ModuleState& state) { losses += state.silent() ? 1 : 0; });
        QObject::connect(worker, &LinkWorker::pollFinished, &context, [this] { ++polls; });
    }
    void TearDown() override {
        if (script) {
            EXPECT_FALSE(script->sentFromWindowThread) << "the window waited on the module";
            script->go.release();
        }
        station.Form_Unload();
    }

    void enter(Control control, const QString& text) { module->enter({control, text}); }
    void startPolling() { station.startPolling(10); }
    // Everything queued to the worker so far has run.
    void drainWorker() {
        QMetaObject::invokeMethod(
            worker, [] {}, Qt::BlockingQueuedConnection);
    }

    QTemporaryDir dir;
    QTcpServer listener;
    Station station;
    QObject context;  // the front end's side of the connections
    LinkWorker* worker = nullptr;
    StationModule* module = nullptr;
    ScriptedModule* script = nullptr;  // owned by the worker
    int polls = 0, failures = 0, losses = 0;
};

TEST_F(StationTest, WritesGoOutBetweenThePollsTransactionsInTheOrderPressed) {
    script->holdAt = kDisplayBlock.start;
    station.Timer1_Timer();
    ASSERT_TRUE(script->held.tryAcquire(1, 30000));

    // Everything the operator types, two presses of the same box among them, and a key,
    // all while the display read waits for its reply.
    QStringList expected{"R10", "<"};
    for (const TypedEntry& e : kOperatorEntries) {
        if (!reachesStation(e)) continue;
        enter(e.control, e.typed);
        for (const QString& w : e.writes) expected << 'W' + QString(w).replace(' ', '=') << "<";
    }
    module->pressKey(1);
    expected << "W6=90"
             << "<";
    script->go.release();
    ASSERT_TRUE(waitFor([&] { return polls == 1; }));

    expected << QStringList{"R0", "<", "R14", "<", "R20", "<", "R7", "<"};
    EXPECT_EQ(text(script->log()), text(expected));
    EXPECT_EQ(failures, 0);
}

TEST_F(StationTest, ModuleThatRejectsEveryReplyCostsOneErrorPerPressAndPollingGoesOn) {
    {
        std::lock_guard lock(script->mutex);
        for (int address = 0; address < 23; ++address) script->deadBlocks << address;
    }
    startPolling();
    ASSERT_TRUE(waitFor([&] { return losses >= 1; }));

    // A 32-bit value whose low word fails: its high word is not sent either.
    enter(Control::Teor, QStringLiteral("70000"));
    ASSERT_TRUE(waitFor([&] { return failures == 1; }));
    // A press after the failure is a new request, with its own attempts and report.
    module->pressKey(1);
    ASSERT_TRUE(waitFor([&] { return failures == 2; }));
    const int pollsAfterWrites = polls;
    EXPECT_TRUE(waitFor([&] { return polls > pollsAfterWrites; }));
    EXPECT_TRUE(module->state().silent());
    EXPECT_EQ(text(script->writes()), "W20=4464 W20=4464 W20=4464 W6=90 W6=90 W6=90");
    EXPECT_EQ(failures, 2);
}

TEST_F(StationTest, KeysPressedWhileTheModuleIsOffAreGivenUpWithOneErrorBox) {
    script->setSilent(true);
    // The presses first: the rounds start at once, and a press that found a round's
    // attempt under way would wait out its reply time before its own first attempt.
    for (int k = 0; k < 5; ++k) module->pressKey(0);
    startPolling();
    ASSERT_TRUE(waitFor([&] { return failures == 1; }));
    // The module is silent no later than the failure is told.
    EXPECT_GE(losses, 1);
    EXPECT_TRUE(module->state().silent());

    // The module is back: polling reads again, and none of the four presses queued
    // behind the failed one reaches it.
    script->setSilent(false);
    const int pollsBefore = polls;
    ASSERT_TRUE(waitFor([&] { return polls >= pollsBefore + 2; }));
    // A silent module's replies are never taken, and the rounds go on meanwhile: the log
    // may end in a request whose reply is still on the line.
    EXPECT_TRUE(script->log().contains(QStringLiteral("<")));
    // Two reply timeouts fit in the first press's deadline, a third attempt would not.
    EXPECT_EQ(text(script->writes()), "W6=83 W6=83");
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(module->state().silent());
}

// The write waits for the module on the worker's thread: meanwhile the station's thread
// takes a round asked for and a second press, and both are served once the module answers.
TEST_F(StationTest, TheStationsThreadStaysLiveWhileAWriteWaitsOnTheModule) {
    script->holdAt = 6;  // the key register
    module->pressKey(1);
    ASSERT_FALSE(script->sentFromWindowThread);
    ASSERT_TRUE(script->held.tryAcquire(1, 30000));
    station.Timer1_Timer();
    module->pressKey(4);
    EXPECT_EQ(text(script->writes()), "W6=90");

    // The module answers: the first key, then the second, then the tick's poll.
    script->go.release();
    ASSERT_TRUE(waitFor([&] { return polls == 1; }));
    EXPECT_EQ(text(script->writes()), "W6=90 W6=70");
    EXPECT_EQ(failures, 0);
}

// A round asked of the station by hand (Timer1_Timer; the station's own rounds are the
// worker's, paced by startRounds) never piles up behind a slow module: one asked while a
// round is queued or running is dropped, and the next one after it polls again.
TEST_F(StationTest, RoundsAskedByHandWhileOneIsQueuedOrRunningAreDropped) {
    const auto displayReads = [&] { return script->log().count(QStringLiteral("R10")); };
    script->holdAt = kDisplayBlock.start;
    station.Timer1_Timer();
    station.Timer1_Timer();  // queued
    ASSERT_TRUE(script->held.tryAcquire(1, 30000));
    station.Timer1_Timer();  // running
    script->go.release();
    drainWorker();
    EXPECT_EQ(displayReads(), 1);

    ASSERT_TRUE(waitFor([&] { return polls >= 1; }));  // the station heard the end
    station.Timer1_Timer();
    drainWorker();
    EXPECT_EQ(displayReads(), 2);
}

// The worker paces its rounds: one that is due starts as the last ends, and what that
// one's last block brought goes out behind the next one's first request; one due later
// waits with all of it out. Either way a round's reports come before its end.
TEST_F(StationTest, PacedRoundsReportEachRoundBeforeItsEndWhetherTheNextIsDueOrNot) {
    int readbacks = 0;
    QList<int> readbacksAtEnds;
    QObject::connect(module, &StationModule::readbackRead, &context, [&] { ++readbacks; });
    QObject::connect(worker, &LinkWorker::pollFinished, &context,
                     [&] { readbacksAtEnds << readbacks; });
    const QStringList cycle{"R10", "<", "R0", "<", "R14", "<", "R20", "<", "R7", "<"};
    // Each request takes a millisecond on the line: a round at Timer=1 is always due.
    script->onRequest = [](int) { QThread::msleep(1); };

    station.startPolling(60000);
    ASSERT_TRUE(waitFor([&] { return polls == 1; }));
    EXPECT_EQ(text(script->log()), text(cycle));

    station.startPolling(1);
    ASSERT_TRUE(waitFor([&] { return polls >= 6; }));
    QStringList cycles;
    for (int round = 0; round < 6; ++round) cycles << cycle;
    EXPECT_EQ(text(script->log().mid(0, cycles.size())), text(cycles));
    EXPECT_EQ(readbacksAtEnds.mid(0, 6), QList<int>({1, 2, 3, 4, 5, 6}));
}

TEST_F(StationTest, TimerZeroNeverPolls) {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
        drainWorker();
    }
    EXPECT_FALSE(station.polling());
    EXPECT_TRUE(script->log().isEmpty());
    EXPECT_EQ(polls, 0);
}

// Decimales_1 from modbus.ini scales the readings.
TEST_F(StationTest, WeightsComeScaledByTheDecimalsOfTheIni) {
    std::optional<WeightReading> read;
    QObject::connect(module, &StationModule::weightsRead, &context,
                     [&](const WeightReading& w) { read = w; });
    QMetaObject::invokeMethod(
        worker, [this] { script->setPair(0, 12345); }, Qt::BlockingQueuedConnection);
    station.Timer1_Timer();
    ASSERT_TRUE(waitFor([&] { return polls == 1; }));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->gross, 123.45);
}

// The notice opens with the poll that settles a final weight out of tolerance, while
// the module still holds it, not with the cycle's end; the line comes at the emptying,
// and the dose joins the state's doses and figures. The notice stays open until the
// operator acknowledges it.
TEST_F(StationTest, DoseOutOfToleranceOpensTheNoticeAtItsFinalWeightAndIsRecordedAtTheEmptying) {
    QList<DoseRecord> ended;
    QObject::connect(module, &StationModule::doseEnded, &context,
                     [&](const DoseRecord& r) { ended << r; });
    auto setNet = [&](quint32 steps) {
        QMetaObject::invokeMethod(
            worker,
            [this, steps] {
                script->setPair(RegPeso + 4, steps);
                script->setPair(RegBCero, 200);
                script->setPair(RegFino, 9000);
                script->setPair(RegTeor, 10000);
            },
            Qt::BlockingQueuedConnection);
    };
    setNet(0);
    startPolling();
    ASSERT_TRUE(waitFor([&] { return polls >= 2; }));
    setNet(9720);
    ASSERT_TRUE(waitFor([&] { return module->state().notice.has_value(); }));
    EXPECT_TRUE(ended.isEmpty());
    EXPECT_EQ(*module->state().notice,
              "Dosificación fuera de tolerancia: 97,20 kg (\u2212"
              "2,8 %)");

    setNet(0);
    ASSERT_TRUE(waitFor([&] { return ended.size() == 1; }));
    EXPECT_EQ(ended[0].result, DoseResult::Falta);
    const QStringList lines = logLines(dir.path(), QStringLiteral("Dosificaciones.csv"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(";97,20;-2,80;Falta")) << lines[0].toStdString();
    const ModuleState& state = module->state();
    ASSERT_EQ(state.doses.size(), 1);
    EXPECT_EQ(state.runDoses, 1);
    EXPECT_EQ(state.stats.outOfTolerance, 1);
    EXPECT_TRUE(state.notice);
    module->acknowledgeNotice();
    EXPECT_FALSE(module->state().notice);
}

// Every field of Cambios.csv is the station's own: the control's name, the setpoint as
// last read back, the value as it will read back; an entry that fits no register is
// recorded as typed, sends nothing, and is said.
TEST_F(StationTest, TheRecordOfAnEntryIsBuiltFromTheStationsOwnNames) {
    int refused = 0;
    QObject::connect(module, &StationModule::entryOutOfRange, &context, [&] { ++refused; });
    QMetaObject::invokeMethod(
        worker, [this] { script->setPair(RegFino, 1250); }, Qt::BlockingQueuedConnection);
    station.Timer1_Timer();
    ASSERT_TRUE(waitFor([&] { return polls == 1; }));
    enter(Control::Fino, QStringLiteral("4294967296"));
    enter(Control::Fino, QStringLiteral("13,5"));
    ASSERT_TRUE(waitFor([&] { return logLines(dir.path(), "Cambios.csv").size() == 2; }));
    EXPECT_EQ(refused, 1);
    QStringList fields;
    for (const QString& line : logLines(dir.path(), "Cambios.csv"))
        fields << line.section(u';', 4, 8);
    EXPECT_EQ(fields.join(u'|').toStdString(),
              "Fino;12,50;4294967296;;Fuera de rango|Fino;12,50;0,13;18=13 19=0;Enviado");
}

// A record that cannot be written is in the state with its waiting lines until they are
// in the file.
TEST_F(StationTest, AWaitingRecordIsInTheStateUntilItIsWrittenAgain) {
    QFile::remove(dir.filePath("Peso.csv"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("Peso.csv"));
    startPolling();
    ASSERT_TRUE(waitFor([&] { return module->state().pendingOf(Record::Weights) >= 2; }));
    EXPECT_TRUE(module->state().needsAttention());
    ASSERT_TRUE(QDir(dir.path()).rmdir("Peso.csv"));
    ASSERT_TRUE(waitFor([&] { return module->state().pendingOf(Record::Weights) == 0; }));
    EXPECT_FALSE(module->state().needsAttention());
    EXPECT_FALSE(logLines(dir.path()).isEmpty());
}

}  // namespace
