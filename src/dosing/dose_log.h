#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <optional>

#include "cycle_detector.h"
#include "dose_record.h"
#include "journal.h"
#include "readers.h"

// Dosificaciones.csv kept by the running station: the cycles found in the readings of
// its polls, a line per cycle as it ends, on a journal of its own (every guarantee of
// Peso.csv). The open cycle's start waits beside the file ("Dosificaciones.csv.ciclo"),
// so a cycle the station was closed or killed in is recorded, Incompleta with its start, by the
// next start in the same directory. Its times are the polls' instants (cycle_detector.h).
class DoseLog {
public:
    DoseLog(const QString& path, double tolerancePercent, int decimals, QLocale locale);

    struct Events {
        std::optional<DoseRecord> finalTaken;  // the open cycle, at its final weight
        std::optional<DoseRecord> ended;       // the cycle just written
    };
    // One poll: its time (the time of its log line), its weights when it got them, the
    // setpoints it read, which judge the readings from the next poll on, and whether the
    // module showed its motion sign.
    Events poll(const QDateTime& when, const std::optional<WeightReading>& weights,
                const std::optional<Setpoints>& setpoints, bool moving = false);

    bool flushPending() { return journal_.flushPending(); }
    int pending() const { return journal_.pending(); }
    // The newest `count` lines of the record, oldest first, wherever they wait.
    QByteArrayList newestLines(int count) const { return journal_.newestLines(count); }

private:
    Journal journal_;
    StateFile openCycle_;
    CycleDetector detector_;
    double tolerancePercent_;
    int decimals_;
    QLocale locale_;
};

// "Dosificaciones.csv.ciclo" beside "Dosificaciones.csv".
QString openCyclePath(const QString& dosePath);
