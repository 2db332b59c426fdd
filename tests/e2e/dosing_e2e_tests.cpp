// The dosing record of the real station against an independent dosing module
// (pymodbus, tests/e2e/dosing_slave.py) whose cycles' final weights are known, each
// cycle pausing above the fine cut-off across a second's edge on its way there, with the
// station killed in the middle of a cycle and started again.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <span>

#include "dose_log.h"
#include "dose_record.h"
#include "harness.h"
#include "log_reader.h"

namespace {

struct Expected {
    const char* played;  // the slave's argument
    std::optional<qint64> finalNet;
    DoseResult result;
};

// Theoretical 100,0 kg, tolerance 0,5 %: 99,5 and 100,5 are the limits, both OK.
const Expected kCycles[] = {
    {"1000", 1000, DoseResult::Ok},    {"1003", 1003, DoseResult::Ok},
    {"993", 993, DoseResult::Falta},   {"995", 995, DoseResult::Ok},
    {"A", {}, DoseResult::Incompleta}, {"1009", 1009, DoseResult::Exceso},
    {"H", {}, DoseResult::Incompleta}, {"1005", 1005, DoseResult::Ok},
    {"994", 994, DoseResult::Falta},   {"1012", 1012, DoseResult::Exceso},
    {"A", {}, DoseResult::Incompleta}, {"1001", 1001, DoseResult::Ok},
};
constexpr qsizetype kCycleCount = std::size(kCycles);
constexpr int kKilledCycle = 7;  // the "H" cycle, held until the station is back

// The lines without the one that starts like `start` (date;time).
QStringList without(const QStringList& lines, const QString& start) {
    QStringList kept;
    for (const QString& line : lines)
        if (!line.startsWith(start)) kept << line;
    return kept;
}

// The record's lines read back; each must be `cycles`' own, in order.
void expectCycles(const QStringList& lines, std::span<const Expected> cycles) {
    ASSERT_EQ(lines.size(), qsizetype(cycles.size())) << lines.join('\n').toStdString();
    QDateTime lastStart = fromLogClock(0);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        const auto record = parseDoseLine(lines[i].toLocal8Bit(), systemDateOrder(), 1);
        ASSERT_TRUE(record);
        EXPECT_GT(record->start, lastStart);
        lastStart = record->start;
        EXPECT_EQ(record->finalNet, cycles[i].finalNet);
        EXPECT_EQ(record->result, cycles[i].result);
    }
}

QStringList played(const QString& pause, std::span<const Expected> cycles) {
    QStringList args{QStringLiteral("--pause=") + pause};
    for (const Expected& e : cycles) args << QString::fromLatin1(e.played);
    return args;
}

TEST(DosingRecord, OneLinePerCycleThroughAKillAndAsTheOfflineCommandFindsThem) {
    QProcess slave;
    const int port = startPymodbus(slave, played(QStringLiteral("0.35"), kCycles),
                                   QStringLiteral("tests/e2e/dosing_slave.py"));
    ASSERT_GT(port, 0);
    QString said;
    auto slaveSaid = [&](const QString& text) {
        slave.waitForReadyRead(20);
        said += QString::fromUtf8(slave.readAllStandardOutput());
        return said.contains(text);
    };

    StationProcess station;
    QMap<QString, QString> ini = tcpIni(port);
    ini.insert("Decimales_1", "1");
    ini.insert("Tolerancia_1", "0.5");
    station.writeIni(ini);
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 3; }));
    slave.write("go\n");
    auto doseLines = [&] { return logLines(station.dir(), "Dosificaciones.csv"); };
    const QString openCycle = openCyclePath(QDir(station.dir()).filePath("Dosificaciones.csv"));

    // Killed once the cycle is under way and its start kept, before its final weight.
    ASSERT_TRUE(waitFor(
        [&] {
            return slaveSaid(QStringLiteral("cycle %1 start").arg(kKilledCycle)) &&
                   doseLines().size() == kKilledCycle - 1 && QFile::exists(openCycle);
        },
        120000));
    const QDateTime killedStart =
        QDateTime::fromString(QString::fromLatin1(StateFile(openCycle).read()), Qt::ISODate);
    ASSERT_TRUE(killedStart.isValid());
    station.process().kill();
    ASSERT_TRUE(station.process().waitForFinished(30000));
    // Back in a later second than the cycle's start: a cycle the new run took up as its
    // own would start later.
    ASSERT_TRUE(waitFor(
        [&] { return instantMs(QDateTime::currentDateTime()) > instantMs(killedStart) + 1000; }));
    const qsizetype loggedBefore = station.logLines().size();
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() > loggedBefore + 5; }));
    slave.write("go\n");
    ASSERT_TRUE(
        waitFor([&] { return slaveSaid("done") && doseLines().size() >= kCycleCount; }, 120000));
    station.stop();
    EXPECT_FALSE(QFile::exists(openCycle));

    const QStringList lines = doseLines();
    expectCycles(lines, kCycles);
    ASSERT_EQ(lines.size(), kCycleCount);
    const auto killed = parseDoseLine(lines[kKilledCycle - 1].toLocal8Bit(), systemDateOrder(), 1);
    ASSERT_TRUE(killed);
    EXPECT_EQ(killed->start, fromLogClock(logClockMs(killedStart.toLocalTime())));

    // Offline, the gap of the kill is no gap of the module's: the killed cycle may come
    // out complete there. Every other line is the live one, field for field.
    QProcess offline;
    offline.setWorkingDirectory(station.dir());
    offline.start(stationPath(), {"--cycles", "Peso.csv", "--zero-band", "2", "--coarse", "90",
                                  "--fine", "99", "--target", "100", "--tolerance", "0.5"});
    ASSERT_TRUE(offline.waitForFinished(120000));
    EXPECT_EQ(offline.exitCode(), 0) << offline.readAllStandardError().toStdString();
    const QStringList offlineLines = QString::fromLocal8Bit(offline.readAllStandardOutput())
                                         .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const QString killedLine = lines[kKilledCycle - 1].section(u';', 0, 1);
    EXPECT_EQ(without(offlineLines, killedLine).join('\n').toStdString(),
              without(lines, killedLine).join('\n').toStdString());
}

// At the default poll period, a pause of 0.6 s is two readings half a second apart in two
// different seconds: still no final weight, and no notice of a dose off its tolerance.
TEST(DosingRecord, APauseInFlightAtTheDefaultPeriodIsNoFinalWeight) {
    const Expected cycles[] = {{"1000", 1000, DoseResult::Ok},
                               {"1003", 1003, DoseResult::Ok},
                               {"1009", 1009, DoseResult::Exceso}};
    QProcess slave;
    const int port = startPymodbus(slave, played(QStringLiteral("0.6"), cycles),
                                   QStringLiteral("tests/e2e/dosing_slave.py"));
    ASSERT_GT(port, 0);
    StationProcess station;
    QMap<QString, QString> ini = tcpIni(port);
    ini.insert("Timer", "500");
    ini.insert("Decimales_1", "1");
    ini.insert("Tolerancia_1", "0.5");
    station.writeIni(ini);
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 2; }));
    slave.write("go\n");
    ASSERT_TRUE(
        waitFor([&] { return logLines(station.dir(), "Dosificaciones.csv").size() >= 3; }, 60000));
    station.stop();
    expectCycles(logLines(station.dir(), "Dosificaciones.csv"), cycles);
}

}  // namespace
