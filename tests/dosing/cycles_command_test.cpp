#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <map>

#include "dose_record.h"
#include "log_reader.h"
#include "module_model.h"
#include "weight_log.h"

namespace {

constexpr int kDecimals = 1;
constexpr double kTolerance = 0.5;

// What the station would have: the module polled every 500 ms, each reading logged as
// Peso.csv writes it and fed to the detector with the instant of its line.
struct StationRun {
    QByteArray log;
    QByteArray liveLines;
    std::map<int, qint32> settled;  // the module's own word for each cycle's final weight
};

StationRun dose(int cycles) {
    StationRun run;
    sim::ModuleModel module(kDecimals, 7);
    module.setAutoCycle(true);
    module.setForced({{2, 30}, {3, -15}});
    module.setSettledReport([&](int cycle, qint32 net) { run.settled[cycle] = net; });
    const QLocale locale = QLocale::system();
    CycleDetector detector;
    detector.setSetpoints({20, 800, 980, 1000});
    // Started just before midnight, so the cycles cross into the next day.
    QDateTime now(QDate(2026, 12, 7), QTime(23, 58, 30, 250));
    while (static_cast<int>(run.settled.size()) < cycles || module.net() > 20) {
        module.advance(500);
        now = now.addMSecs(500);
        // The station is away for 12 s in the middle of cycle 4.
        if (run.settled.size() == 3 && module.phase() == sim::Phase::Coarse && module.net() > 300) {
            module.advance(12000);
            now = now.addMSecs(12000);
        }
        const WeightReading weights{module.gross() / 10.0, module.tare() / 10.0,
                                    module.net() / 10.0, 0, 0};
        run.log += logLine(now, weights, kDecimals, locale).toLocal8Bit() + "\r\n";
        const DoseStep step = detector.feed({instantMs(now), true, module.net()});
        if (step.ended)
            run.liveLines +=
                doseLine(doseRecord(*step.ended, kTolerance, fromInstant), kDecimals, locale)
                    .toLocal8Bit() +
                "\r\n";
        if (run.settled.size() == 1 && run.log.count('\n') == 30)
            run.log += "no es una lectura\r\n";
    }
    return run;
}

}  // namespace

TEST(CyclesCommand, FindsInTheLogTheCyclesTheStationFoundLive) {
    const StationRun run = dose(6);
    QTemporaryDir dir;
    QFile log(dir.filePath("Peso.csv"));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write(run.log);
    log.close();

    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(VORMELQ_BINARY_DIR "/src/app/vormelq"),
            {"--cycles", "Peso.csv", "--zero-band", "2", "--fine", "98", "--coarse", "80",
             "--target", "100", "--tolerance", "0.5", "-o", "ciclos.csv"});
    ASSERT_TRUE(p.waitForFinished(120000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains("1 líneas ilegibles")) << err.toStdString();

    QFile out(dir.filePath("ciclos.csv"));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray offline = out.readAll();
    EXPECT_EQ(offline, run.liveLines);

    // Every complete cycle's final weight is the one the module settled at; the forced
    // ones fall outside the tolerance, the one the station was away for is incomplete.
    const QList<QByteArray> lines = offline.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 6);
    const std::map<int, DoseResult> expected = {
        {2, DoseResult::Exceso}, {3, DoseResult::Falta}, {4, DoseResult::Incompleta}};
    for (int cycle = 1; cycle <= 6; ++cycle) {
        SCOPED_TRACE(cycle);
        const auto r = parseDoseLine(lines[cycle - 1], systemDateOrder(), kDecimals);
        ASSERT_TRUE(r);
        const auto result = expected.find(cycle);
        EXPECT_EQ(r->result, result == expected.end() ? DoseResult::Ok : result->second);
        if (r->result != DoseResult::Incompleta) {
            EXPECT_EQ(r->finalNet, run.settled.at(cycle));
        }
    }
}
