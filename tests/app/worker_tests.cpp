// The link worker on its own thread against a scripted module, wired to the window the
// way the station wires them: where operator writes go among the poll's transactions,
// and what a module that does not answer costs the operator and the window.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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
#include "frm_peso.h"
#include "harness.h"
#include "link_worker.h"
#include "operator_entries.h"
#include "register_map.h"
#include "station_module.h"
#include "station_window.h"

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
    // A request went out from the window's thread, which must never wait on the module.
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
class WorkerTest : public ::testing::Test {
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
        module = station.core().modules().front();
        QMetaObject::invokeMethod(
            worker,
            [this] {
                auto scripted = std::make_unique<ScriptedModule>();
                script = scripted.get();
                worker->useLink(std::move(scripted));
            },
            Qt::BlockingQueuedConnection);
        QObject::connect(module, &StationModule::writeFailed, &form, [this] { ++failures; });
        QObject::connect(module, &StationModule::stateChanged, &form,
                         [this](const ModuleState& state) { losses += state.silent() ? 1 : 0; });
        QObject::connect(worker, &LinkWorker::pollFinished, &form, [this] { ++polls; });
        form.show();
    }
    void TearDown() override {
        if (script) {
            EXPECT_FALSE(script->sentFromWindowThread) << "the window waited on the module";
            script->go.release();
        }
        station.Form_Unload();
    }

    // Sent with the button, or with Enter where there is none.
    void send(QLineEdit* box, const QString& text, QPushButton* button = nullptr) {
        box->setText(text);
        if (button)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            QTest::keyClick(box, Qt::Key_Return);
    }
    QList<QMessageBox*> openBoxes() const {
        QList<QMessageBox*> open;
        for (QMessageBox* box : form.findChildren<QMessageBox*>())
            if (box->isVisible()) open << box;
        return open;
    }
    void startPolling() { station.core().startPolling(10); }
    // Everything queued to the worker so far has run.
    void drainWorker() {
        QMetaObject::invokeMethod(
            worker, [] {}, Qt::BlockingQueuedConnection);
    }

    QTemporaryDir dir;
    QTcpServer listener;
    StationWindow station;
    frmPeso& form = station.form();
    LinkWorker* worker = nullptr;
    StationModule* module = nullptr;
    ScriptedModule* script = nullptr;  // owned by the worker
    int polls = 0, failures = 0, losses = 0;
};

TEST_F(WorkerTest, WritesGoOutBetweenThePollsTransactionsInTheOrderPressed) {
    form.setNumberFormat(2, QLocale(QLocale::Spanish, QLocale::Spain));  // the entries' commas
    script->holdAt = kDisplayBlock.start;
    station.Timer1_Timer();
    ASSERT_TRUE(script->held.tryAcquire(1, 30000));

    // Everything the operator types, two presses of the same box among them, and a key,
    // all while the display read waits for its reply.
    QStringList expected{"R10", "<"};
    for (const TypedEntry& e : kOperatorEntries) {
        enterAsOperator(form, e);
        for (const QString& w : e.writes) expected << 'W' + QString(w).replace(' ', '=') << "<";
    }
    form.Tecla_Click(1);
    expected << "W6=90"
             << "<";
    script->go.release();
    ASSERT_TRUE(waitFor([&] { return polls == 1; }));

    expected << QStringList{"R0", "<", "R14", "<", "R20", "<", "R7", "<"};
    EXPECT_EQ(text(script->log()), text(expected));
    EXPECT_EQ(failures, 0);
}

TEST_F(WorkerTest, ModuleThatRejectsEveryReplyCostsOneErrorPerPressAndPollingGoesOn) {
    {
        std::lock_guard lock(script->mutex);
        for (int address = 0; address < 23; ++address) script->deadBlocks << address;
    }
    startPolling();
    ASSERT_TRUE(waitFor([&] { return losses >= 1; }));

    // A 32-bit value whose low word fails: its high word is not sent either.
    send(form.txtTeor, QStringLiteral("70000"), form.cmdTeor);
    ASSERT_TRUE(waitFor([&] { return failures == 1; }));
    // A press after the failure is a new request, with its own attempts and box.
    form.Tecla_Click(1);
    ASSERT_TRUE(waitFor([&] { return failures == 2; }));
    const int pollsAfterWrites = polls;
    EXPECT_TRUE(waitFor([&] { return polls > pollsAfterWrites; }));
    EXPECT_FALSE(form.lblError->isHidden());
    EXPECT_EQ(text(script->writes()), "W20=4464 W20=4464 W20=4464 W6=90 W6=90 W6=90");

    for (int k = 0; k < 2; ++k) {
        const QList<QMessageBox*> open = openBoxes();
        ASSERT_EQ(open.size(), 1) << "box " << k;
        EXPECT_EQ(open.front()->text(), "Error");
        open.front()->accept();
    }
    EXPECT_TRUE(openBoxes().isEmpty());
    EXPECT_EQ(failures, 2);
}

TEST_F(WorkerTest, KeysPressedWhileTheModuleIsOffAreGivenUpWithOneErrorBox) {
    script->setSilent(true);
    // The presses first: the rounds start at once, and a press that found a round's
    // attempt under way would wait out its reply time before its own first attempt.
    for (int k = 0; k < 5; ++k) form.Tecla_Click(0);
    startPolling();
    ASSERT_TRUE(waitFor([&] { return failures == 1; }));
    // The red label shows no later than the failure.
    EXPECT_GE(losses, 1);
    EXPECT_FALSE(form.lblError->isHidden());

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
    EXPECT_EQ(openBoxes().size(), 1);
    EXPECT_EQ(failures, 1);
}

// The write waits for the module on the worker's thread: meanwhile the window takes the
// station's tick and a second press, and both are served once the module answers.
TEST_F(WorkerTest, WindowStaysLiveWhileAWriteWaitsOnTheModule) {
    script->holdAt = 6;  // the key register
    form.Tecla_Click(1);
    ASSERT_FALSE(script->sentFromWindowThread);
    ASSERT_TRUE(script->held.tryAcquire(1, 30000));
    station.Timer1_Timer();
    form.Tecla_Click(4);
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
TEST_F(WorkerTest, RoundsAskedByHandWhileOneIsQueuedOrRunningAreDropped) {
    const auto displayReads = [&] { return script->log().count(QStringLiteral("R10")); };
    script->holdAt = kDisplayBlock.start;
    station.Timer1_Timer();
    station.Timer1_Timer();  // queued
    ASSERT_TRUE(script->held.tryAcquire(1, 30000));
    station.Timer1_Timer();  // running
    script->go.release();
    drainWorker();
    EXPECT_EQ(displayReads(), 1);

    ASSERT_TRUE(waitFor([&] { return polls >= 1; }));  // the window heard the end
    station.Timer1_Timer();
    drainWorker();
    EXPECT_EQ(displayReads(), 2);
}

// The worker paces its rounds: one that is due starts as the last ends, and what that
// one's last block brought goes out behind the next one's first request; one due later
// waits with all of it out. Either way a round's reports come before its end.
TEST_F(WorkerTest, PacedRoundsReportEachRoundBeforeItsEndWhetherTheNextIsDueOrNot) {
    int readbacks = 0;
    QList<int> readbacksAtEnds;
    QObject::connect(module, &StationModule::readbackRead, &form, [&] { ++readbacks; });
    QObject::connect(worker, &LinkWorker::pollFinished, &form,
                     [&] { readbacksAtEnds << readbacks; });
    const QStringList cycle{"R10", "<", "R0", "<", "R14", "<", "R20", "<", "R7", "<"};
    // Each request takes a millisecond on the line: a round at Timer=1 is always due.
    script->onRequest = [](int) { QThread::msleep(1); };

    station.core().startPolling(60000);
    ASSERT_TRUE(waitFor([&] { return polls == 1; }));
    EXPECT_EQ(text(script->log()), text(cycle));

    station.core().startPolling(1);
    ASSERT_TRUE(waitFor([&] { return polls >= 6; }));
    QStringList cycles;
    for (int round = 0; round < 6; ++round) cycles << cycle;
    EXPECT_EQ(text(script->log().mid(0, cycles.size())), text(cycles));
    EXPECT_EQ(readbacksAtEnds.mid(0, 6), QList<int>({1, 2, 3, 4, 5, 6}));
}

TEST_F(WorkerTest, TimerZeroNeverPolls) {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
        drainWorker();
    }
    EXPECT_FALSE(station.core().polling());
    EXPECT_TRUE(script->log().isEmpty());
    EXPECT_EQ(polls, 0);
}

// Decimales_1 reaches the labels from modbus.ini, in the system's locale (C here).
TEST_F(WorkerTest, WeightsShowTheDecimalsOfTheIni) {
    QMetaObject::invokeMethod(
        worker, [this] { script->setPair(0, 12345); }, Qt::BlockingQueuedConnection);
    station.Timer1_Timer();
    ASSERT_TRUE(waitFor([&] { return polls == 1; }));
    EXPECT_EQ(form.lblBruto->text().toStdString(), "123,45");
}

// The notice comes with the poll that settles a final weight out of tolerance, while
// the module still holds it, not with the cycle's end; the line comes at the emptying.
TEST_F(WorkerTest, DoseOutOfToleranceShowsAtItsFinalWeightAndIsRecordedAtTheEmptying) {
    QList<DoseRecord> ended;
    QObject::connect(module, &StationModule::doseEnded, &form,
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
    ASSERT_TRUE(waitFor([&] { return form.FraDosis->isVisible(); }));
    EXPECT_TRUE(ended.isEmpty());
    EXPECT_EQ(form.lblDosis->text(),
              "Dosificación fuera de tolerancia: 97,20 kg (\u2212"
              "2,8 %)");

    setNet(0);
    ASSERT_TRUE(waitFor([&] { return ended.size() == 1; }));
    EXPECT_EQ(ended[0].result, DoseResult::Falta);
    const QStringList lines = logLines(dir.path(), QStringLiteral("Dosificaciones.csv"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(";97,20;-2,80;Falta")) << lines[0].toStdString();
}

}  // namespace
