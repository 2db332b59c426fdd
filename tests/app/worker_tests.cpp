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
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <mutex>
#include <string>
#include <utility>

#include "fake_module.h"
#include "frm_peso.h"
#include "link_worker.h"
#include "operator_entries.h"

namespace {

// The scripted module, logging for the test what it sees: requests as "R<start>" and
// "W<register>=<value>", and every reply the station takes off the line as "<". It is
// owned by the worker; the test reaches it only under its mutex.
class ScriptedModule : public FakeModule {
public:
    std::mutex mutex;
    QStringList events;
    bool silent = false;
    // When set, the worker stops after sending a request to this block start, with the
    // reply still on the line, until `go` is released; `held` tells the test it got there.
    int holdAtRead = -1;
    QSemaphore held, go;

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
            hold = !write && addresses.last() == std::exchange(holdAtRead, -1);
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

bool waitFor(const std::function<bool()>& condition) {
    // Only a guard against a hang; nothing here depends on how long it takes.
    return QTest::qWaitFor(condition, 30000);
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerLinkWorkerTypes();
        form.setNumberFormat(0, QLocale(QLocale::Spanish, QLocale::Spain));
        worker = new LinkWorker;
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
        const QString logPath = dir.filePath(QStringLiteral("Peso.csv"));
        QMetaObject::invokeMethod(
            worker,
            [this, logPath] {
                auto module = std::make_unique<ScriptedModule>();
                script = module.get();
                worker->useLink(std::move(module));
                worker->configure(1, 0, QLocale(QLocale::Spanish, QLocale::Spain), logPath);
            },
            Qt::BlockingQueuedConnection);
        // The station's wiring: the window asks, the worker reports back queued.
        QObject::connect(&form, &frmPeso::writeRequested, worker, &LinkWorker::enqueueWrite,
                         Qt::DirectConnection);
        QObject::connect(worker, &LinkWorker::writeFailed, &form, &frmPeso::showWriteFailed);
        QObject::connect(worker, &LinkWorker::communicationLost, &form,
                         &frmPeso::showCommunicationLost);
        QObject::connect(worker, &LinkWorker::writeFailed, &form, [this] { ++failures; });
        QObject::connect(worker, &LinkWorker::communicationLost, &form, [this] { ++losses; });
        QObject::connect(worker, &LinkWorker::pollFinished, &form, [this] { ++polls; });
        form.show();
    }
    void TearDown() override {
        pollTimer.stop();
        script->go.release();
        thread.requestInterruption();
        thread.quit();
        thread.wait();
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
    void pollNow() { QMetaObject::invokeMethod(worker, &LinkWorker::poll, Qt::QueuedConnection); }
    // Polls like the station's timer: a tick while a cycle is still running is dropped.
    void startPolling() {
        QObject::connect(&pollTimer, &QTimer::timeout, &form, [this] {
            if (polls < requestedPolls) return;
            ++requestedPolls;
            pollNow();
        });
        pollTimer.start(10);
    }

    QTemporaryDir dir;
    ScriptedModule* script = nullptr;  // owned by the worker
    frmPeso form;
    QThread thread;
    LinkWorker* worker = nullptr;
    QTimer pollTimer;
    int requestedPolls = 0;
    int polls = 0, failures = 0, losses = 0;
};

TEST_F(WorkerTest, WritesGoOutBetweenThePollsTransactionsInTheOrderPressed) {
    script->holdAtRead = kDisplayBlock.start;
    pollNow();
    ASSERT_TRUE(script->held.tryAcquire(1, 30000));

    // Everything the operator types, two presses of the same box among them, and a key,
    // all while the display read waits for its reply.
    QStringList expected{"R10", "<"};
    for (const OperatorEntry& e : kOperatorEntries) {
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
    const int lossesAfterWrites = losses;
    EXPECT_TRUE(waitFor([&] { return losses > lossesAfterWrites; }));
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
    startPolling();
    for (int k = 0; k < 5; ++k) form.Tecla_Click(0);
    ASSERT_TRUE(waitFor([&] { return failures == 1; }));
    // The red label shows no later than the failure.
    EXPECT_GE(losses, 1);
    EXPECT_FALSE(form.lblError->isHidden());

    // The module is back: polling reads again, and none of the four presses queued
    // behind the failed one reaches it.
    script->setSilent(false);
    const int pollsBefore = polls;
    ASSERT_TRUE(waitFor([&] { return polls >= pollsBefore + 2; }));
    EXPECT_EQ(script->log().last(), "<");
    EXPECT_EQ(text(script->writes()), "W6=83 W6=83 W6=83");
    EXPECT_EQ(openBoxes().size(), 1);
    EXPECT_EQ(failures, 1);
}

TEST_F(WorkerTest, WindowStaysLiveWhileAWriteWaitsOnASilentModule) {
    script->setSilent(true);
    form.Tecla_Click(1);
    ASSERT_TRUE(waitFor([&] { return script->writes().size() == 1; }));

    // The window's own timer keeps running and a second press is taken while the first
    // write still waits for its reply.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(5);
    ASSERT_TRUE(waitFor([&] { return ticks >= 3; }));
    form.Tecla_Click(4);
    EXPECT_EQ(text(script->writes()), "W6=90");

    // The module wakes up: the first key goes through on its second attempt, then the
    // second key.
    script->setSilent(false);
    ASSERT_TRUE(
        waitFor([&] { return script->writes().size() == 3 && script->log().last() == "<"; }));
    EXPECT_EQ(text(script->writes()), "W6=90 W6=90 W6=70");
    EXPECT_EQ(failures, 0);
}

}  // namespace
