// CPU of the station polling the simulated module every 500 ms, with a day of history
// and the chart window open or not. Not a test: scripts/bench-chart.sh runs it under Xvfb
// and prints the figures.
//   bench_chart_cost SIM SECONDS none|1min|10min|1h HISTORY_HOURS
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "chart_window.h"
#include "station_window.h"
#include "trend_recorder.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SIM SECONDS none|1min|10min|1h HISTORY_HOURS\n", argv[0]);
        return 2;
    }
    const QString simPath = QString::fromLocal8Bit(argv[1]);
    const int seconds = std::atoi(argv[2]);
    const QString chart = QString::fromLatin1(argv[3]);
    const int hours = std::atoi(argv[4]);

    QProcess sim;
    sim.start(simPath,
              {"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1", "--auto-cycle"});
    QString address;
    while (address.isEmpty() && sim.waitForReadyRead(5000)) {
        const QString line = QString::fromUtf8(sim.readLine()).trimmed();
        if (line.startsWith("listening on ")) address = line.mid(13);
    }
    if (address.isEmpty()) return 1;
    QTemporaryDir dir;
    QFile ini(dir.filePath("modbus.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[Global]\nComunicacion_1=1;\nHost_1=%1;\nPort_1=%2;\nDecimales_1=1;\n"
                             "ID_1=1;\nTimer=500;\n")
                  .arg(address.section(':', 0, 0), address.section(':', 1))
                  .toLatin1());
    ini.close();
    QDir::setCurrent(dir.path());

    StationWindow station;
    if (!station.Form_Load().isEmpty()) return 1;
    frmPeso& form = station.form();
    form.show();

    // A day of dosing cycles before now, as the history would hold after 24 h.
    TrendRecorder* trend = form.trend();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 fake = now - qint64(hours) * 3600000;
    trend->setClock([&fake] { return fake; });
    for (qint64 i = 0; fake < now; ++i, fake += 500) {
        const double phase = std::fmod(i / 40.0, 1.0);
        const double w = phase < 0.6 ? 100 * phase / 0.6 : phase < 0.8 ? 100 : 0;
        trend->addWeights({w, 0, w, 0, 0});
        trend->endCycle();
    }
    trend->setClock([] { return QDateTime::currentMSecsSinceEpoch(); });

    if (chart != QLatin1String("none")) {
        form.cmdGrafico_Click();
        const int span = chart == QLatin1String("1min")    ? 0
                         : chart == QLatin1String("10min") ? 1
                                                           : 2;
        form.chartWindow()->spanButton(span)->click();
    }

    // Warm up, then measure the process's CPU time (both threads) against the wall.
    std::clock_t cpu0 = 0;
    QElapsedTimer wall;
    QTimer::singleShot(5000, [&] {
        cpu0 = std::clock();
        wall.start();
    });
    QTimer::singleShot(5000 + seconds * 1000, [&] {
        const double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
        std::printf("chart=%s history=%lld cpu=%.3f%% wall=%.1fs\n", qPrintable(chart),
                    static_cast<long long>(trend->history().size()),
                    100.0 * cpu / (wall.elapsed() / 1000.0), wall.elapsed() / 1000.0);
        std::fflush(stdout);
        station.Form_Unload();
        app.quit();
    });
    const int status = app.exec();
    sim.kill();
    sim.waitForFinished();
    return status;
}
