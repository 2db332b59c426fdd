#pragma once

#include <QDateTime>
#include <QLocale>
#include <QMetaType>
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
// A batch the plant traces: its name, the doses planned (0: no count) and the complete
// doses of it so far.
struct Lot {
    QString name;
    int planned = 0;
    int done = 0;
    bool operator==(const Lot&) const = default;
};

Q_DECLARE_METATYPE(Lot)

class DoseLog {
public:
    DoseLog(const QString& path, double tolerancePercent, int decimals, QLocale locale);

    struct Events {
        std::optional<DoseRecord> finalTaken;  // the open cycle, at its final weight
        std::optional<DoseRecord> ended;       // the cycle just written
        bool lotCounted = false;               // ... was a complete dose of the lot
    };
    // One poll: its time (the time of its log line), its weights when it got them, the
    // setpoints it read, which judge the readings from the next poll on, and whether the
    // module showed its motion sign. What trace() said last goes with the dose.
    Events poll(const QDateTime& when, const std::optional<WeightReading>& weights,
                const std::optional<Setpoints>& setpoints, bool moving = false);

    // With a product table, from now on each line says what its dose was: `product` is
    // the one in force now (empty for none), the lot that of lot(). Without one (nullopt),
    // lines have the nine fields they always had.
    void traceProduct(const std::optional<QString>& product) { product_ = product; }
    // The lot the doses that begin from now on are of, counted from none; kept beside the
    // record ("Dosificaciones.csv.lote") across a close, a kill and a restart. Empty name:
    // none. False when it could not be kept.
    bool setLot(const Lot& lot);
    const Lot& lot() const { return lot_; }

    bool flushPending() { return journal_.flushPending(); }
    int pending() const { return journal_.pending(); }
    // The newest `count` lines of the record, oldest first, wherever they wait.
    QByteArrayList newestLines(int count) const { return journal_.newestLines(count); }

private:
    bool countForLot(const DoseRecord& dose);

    Journal journal_;
    StateFile openCycle_;
    CycleDetector detector_;
    std::optional<QString> product_;
    Lot lot_;
    StateFile lotFile_;
    DoseTrace cycleTrace_;  // the open cycle's
    double tolerancePercent_;
    int decimals_;
    QLocale locale_;
};

// "Dosificaciones.csv.ciclo" beside "Dosificaciones.csv".
QString openCyclePath(const QString& dosePath);
// "Dosificaciones.csv.lote" beside it.
QString lotPath(const QString& dosePath);
