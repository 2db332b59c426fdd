#include "dose_log.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "journal.h"

// The open cycle's start kept beside the record, as the next run reads it: the instant in
// UTC; the next cycle's when a silence ends one and begins another at a single poll; and
// the wall-clock milliseconds an older station kept, as the local time they show.
TEST(DoseLog, TheOpenCyclesStartKeptForTheNextRun) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Dosificaciones.csv");
    StateFile openCycle(openCyclePath(path));
    const QDateTime t0(QDate(2026, 12, 7), QTime(10, 0, 0));
    const auto run = [&](const QList<std::pair<int, std::optional<double>>>& polls) {
        DoseLog log(path, 0.5, 1, QLocale(QLocale::Spanish, QLocale::Spain));
        for (const auto& [second, net] : polls)
            log.poll(t0.addSecs(second),
                     net ? std::optional(WeightReading{*net, 0, *net, 0, 0}) : std::nullopt,
                     Setpoints{2.0, 80.0, 98.0, 100.0, 0});
    };
    run({{0, 0.0}, {1, 0.0}, {2, 50.0}, {3, 99.0}, {4, std::nullopt}, {10, 30.0}});
    EXPECT_EQ(openCycle.read(), t0.addSecs(10).toUTC().toString(Qt::ISODate).toLatin1());
    run({{20, 0.0}, {21, 0.0}});
    openCycle.write(QByteArray::number(logClockMs(t0.addSecs(-3600))));
    run({{30, 0.0}, {31, 0.0}});

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              "7/12/26;10:00:02;10:00:03;100,0;80,0;98,0;;;Incompleta\r\n"
              "7/12/26;10:00:10;10:00:21;100,0;80,0;98,0;;;Incompleta\r\n"
              "7/12/26;9:00:00;10:00:31;100,0;80,0;98,0;;;Incompleta\r\n");
    EXPECT_FALSE(openCycle.exists());
}
