// Several modules on one line, the whole station in this process: an independent slave
// (pymodbus) answering three addresses on one RTU-over-TCP listener, one of them switched
// off for a while, the simulated line at 9600 baud on a serial pty, and one address of the
// simulated line switched off.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <array>

#include "frm_peso.h"
#include "harness.h"
#include "line_window.h"
#include "link.h"
#include "peers.h"
#include "station_module.h"
#include "station_window.h"

namespace {

// A three-module modbus.ini for the modules at addresses 1, 2 and 3 of one line.
void writeLineIni(const QString& dir, QMap<QString, QString> link,
                  const QString& timer = QStringLiteral("100")) {
    link.insert({{"Modulos", "3"}, {"ID_2", "2"}, {"ID_3", "3"}, {"Timer", timer}});
    writeIni(dir, link);
}

// The weights of each line of a module's Peso.csv: date and time cut off.
QSet<QString> weightsLogged(const QString& dir, int module) {
    const QString file =
        module == 1 ? QStringLiteral("Peso.csv") : QStringLiteral("Modulo%1/Peso.csv").arg(module);
    QSet<QString> weights;
    for (const QString& line : logLines(dir, file)) weights << line.section(u';', 2);
    return weights;
}

qsizetype linesLogged(const QString& dir, int module) {
    return logLines(dir, module == 1 ? QStringLiteral("Peso.csv")
                                     : QStringLiteral("Modulo%1/Peso.csv").arg(module))
        .size();
}

class Line : public ::testing::Test {
protected:
    void load() {
        CurrentDir cwd(dir.path());
        ASSERT_EQ(station.Form_Load(), "");
    }
    void TearDown() override { station.Form_Unload(); }
    StationModule& module(int number) { return *station.core().modules().at(number - 1); }
    // Each module's Peso.csv holds its own address's readings and none of another's.
    void expectEachModuleLogsItsOwnAddress() {
        ASSERT_TRUE(waitFor([&] {
            return linesLogged(dir.path(), 1) >= 3 && linesLogged(dir.path(), 2) >= 3 &&
                   linesLogged(dir.path(), 3) >= 3;
        }));
        QSet<QString> seen;
        for (int m = 1; m <= 3; ++m) {
            const QSet<QString> weights = weightsLogged(dir.path(), m);
            EXPECT_EQ(weights.size(), 1) << "module " << m;
            EXPECT_FALSE(seen.intersects(weights)) << "module " << m;
            seen += weights;
        }
    }

    QTemporaryDir dir;
    StationWindow station;
};

TEST_F(Line, ThreeAddressesBehindOneListenerEachToItsOwnRecordAndWrites) {
    QProcess server;
    const int port = startPymodbus(server, {"--ids", "1,2,3", "--log-writes"});
    ASSERT_GT(port, 0) << server.readAllStandardError().toStdString();
    writeLineIni(dir.path(), tcpIni(port));
    load();
    ASSERT_EQ(station.core().modules().size(), 3);
    EXPECT_EQ(module(2).name(), "Módulo 2");
    expectEachModuleLogsItsOwnAddress();

    // A value half typed for module 1, then module 2 selected: nothing is left to send.
    LineWindow& window = *station.line();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.panel(0)->txtGrueso->setText(QStringLiteral("125"));
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    ASSERT_EQ(window.selected(), 1);
    EXPECT_EQ(window.windowTitle(), "Vormel-Q - Módulo 2");
    for (int m = 0; m < 3; ++m)
        for (QLineEdit* box : window.panel(m)->findChildren<QLineEdit*>())
            EXPECT_TRUE(box->text().isEmpty()) << m;

    // A value typed for module 2, a switch to module 3 and an Enter in the box the switch
    // left the focus in, emptied: nothing goes to any module.
    window.panel(1)->txtFino->setFocus();
    QTest::keyClicks(window.panel(1)->txtFino, QStringLiteral("333"));
    QTest::keyClick(&window, Qt::Key_3, Qt::ControlModifier);
    ASSERT_EQ(window.selected(), 2);
    auto* focused = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(focused, nullptr);
    EXPECT_TRUE(window.panel(2)->isAncestorOf(focused));
    QTest::keyClick(focused, Qt::Key_Return);
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    ASSERT_EQ(window.selected(), 1);

    // A key clicked on the panel shown reaches address 2, and no other.
    int finished = 0;
    QObject::connect(&module(2), &StationModule::writeFinished, &station.form(),
                     [&] { ++finished; });
    QTest::mouseClick(window.panel(1)->Tecla[1], Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_TRUE(waitFor([&] { return finished == 1; }));
    station.Form_Unload();
    server.closeWriteChannel();
    ASSERT_TRUE(server.waitForFinished(10000));
    const QStringList writes =
        QString::fromUtf8(server.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(writes.join(" | ").toStdString(), "2: write 6 6 90");
}

// Readings a second of modules 1 and 3 while `wait` runs.
std::array<double, 2> readingRates(const QString& dir, const std::function<void()>& wait) {
    const qsizetype first = linesLogged(dir, 1);
    const qsizetype third = linesLogged(dir, 3);
    QElapsedTimer clock;
    clock.start();
    wait();
    const double seconds = static_cast<double>(clock.elapsed()) / 1000;
    return {static_cast<double>(linesLogged(dir, 1) - first) / seconds,
            static_cast<double>(linesLogged(dir, 3) - third) / seconds};
}

// Address 2 of the independent slave switched off for two of its turns to be asked again:
// modules 1 and 3 keep at least 85 % of the readings they got while it answered, and its
// own come back once it answers again. At Timer=200 each round is mostly wait, so the
// others' readings are lost only to the silent module's attempts, not to a busy line.
TEST_F(Line, TheOthersKeepTheirReadingsWhileOneIsSilent) {
    QProcess server;
    const int port = startPymodbus(server, {"--ids", "1,2,3"});
    ASSERT_GT(port, 0) << server.readAllStandardError().toStdString();
    writeLineIni(dir.path(), tcpIni(port), QStringLiteral("200"));
    load();
    std::optional<bool> answering2;
    QObject::connect(&module(2), &StationModule::answeringChanged, &station.form(),
                     [&](const QDateTime&, bool a) { answering2 = a; });
    ASSERT_TRUE(waitFor(
        [&] { return linesLogged(dir.path(), 2) >= 3 && linesLogged(dir.path(), 3) >= 3; }));

    const qsizetype before = linesLogged(dir.path(), 1);
    const auto answered = readingRates(
        dir.path(), [&] { waitFor([&] { return linesLogged(dir.path(), 1) >= before + 50; }); });
    server.write("silent 2\n");
    ASSERT_TRUE(waitFor([&] { return answering2 == false; }));
    const qsizetype silent2 = linesLogged(dir.path(), 2);
    QElapsedTimer silence;
    silence.start();
    const auto kept = readingRates(dir.path(), [&] {
        waitFor([&] { return silence.elapsed() >= 2 * linkexchange::kSilentRetryMs; },
                3 * linkexchange::kSilentRetryMs);
    });
    for (int m : {0, 1})
        EXPECT_GE(kept[m], 0.85 * answered[m])
            << "module " << 2 * m + 1 << ": " << kept[m] << " against " << answered[m] << " a s";
    EXPECT_EQ(linesLogged(dir.path(), 2), silent2);

    server.write("answer 2\n");
    ASSERT_TRUE(waitFor([&] { return answering2 == true; }));
    EXPECT_TRUE(waitFor([&] { return linesLogged(dir.path(), 2) > silent2; }));
    station.Form_Unload();
    server.closeWriteChannel();
    server.waitForFinished(10000);
}

TEST_F(Line, ThreeModulesOnOneSerialLineAt9600Baud) {
    PtyPair pty;
    ASSERT_TRUE(pty.start());
    QProcess server;
    startPymodbus(server, {"--serial", pty.b(), "--ids", "1,2,3"});
    ASSERT_EQ(server.state(), QProcess::Running) << server.readAllStandardError().toStdString();
    writeLineIni(dir.path(), serialIni(pty.a(), "9600"));
    load();
    expectEachModuleLogsItsOwnAddress();
    station.Form_Unload();
    server.closeWriteChannel();
    server.waitForFinished(10000);
}

// Address 2 of the simulated line switched off: modules 1 and 3 are read on, address 2 is asked
// again only now and then, its button's state says so, and its readings come back with it.
TEST_F(Line, ASilentModuleDoesNotStarveTheOthersAndComesBack) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--ids", "1,2,3", "--toggle", "2"}));
    writeLineIni(dir.path(), tcpIni(sim.port()));
    load();
    std::optional<bool> answering2;
    QObject::connect(&module(2), &StationModule::answeringChanged, &station.form(),
                     [&](const QDateTime&, bool a) { answering2 = a; });
    ASSERT_TRUE(waitFor([&] { return answering2 == true; }));

    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return answering2 == false; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(station.line()->button(1)->styleSheet().contains("#d00000"));
    EXPECT_FALSE(station.line()->button(0)->styleSheet().contains("#d00000"));
    const qint64 askedBefore = sim.counters().value("faults.silent");
    const qsizetype before1 = linesLogged(dir.path(), 1);
    const qsizetype before2 = linesLogged(dir.path(), 2);
    // A healthy module is read every round; one that is off is asked again only after
    // ten seconds, so the others get many readings per request the silent one costs.
    ASSERT_TRUE(waitFor([&] { return linesLogged(dir.path(), 1) >= before1 + 30; }));
    const qint64 asked = sim.counters().value("faults.silent") - askedBefore;
    EXPECT_LE(asked * 10, linesLogged(dir.path(), 1) - before1) << asked << " requests";
    EXPECT_EQ(linesLogged(dir.path(), 2), before2);

    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return answering2 == true; }));
    EXPECT_TRUE(waitFor([&] { return linesLogged(dir.path(), 2) >= before2 + 3; }));
}

}  // namespace
