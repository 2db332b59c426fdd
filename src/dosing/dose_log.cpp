#include "dose_log.h"

#include <utility>

namespace {

// The start of the open cycle as its instant in UTC, readable beside the file. An older
// station kept the log's wall-clock milliseconds there: read as the local time they show.
QByteArray openCycleText(qint64 startMs) {
    return fromInstant(startMs).toUTC().toString(Qt::ISODate).toLatin1();
}

std::optional<qint64> readOpenCycle(const QByteArray& text) {
    const QDateTime instant = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    if (instant.isValid()) return instantMs(instant);
    bool ok = false;
    const qint64 logMs = text.toLongLong(&ok);
    if (!ok) return std::nullopt;
    const QDateTime shown = fromLogClock(logMs);
    return instantMs(QDateTime(shown.date(), shown.time()));
}

// The lot's file: its name, the doses planned and those done, a line each.
QByteArray lotText(const Lot& lot) {
    return lot.name.toUtf8() + '\n' + QByteArray::number(lot.planned) + '\n' +
           QByteArray::number(lot.done) + '\n';
}

Lot readLot(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 3) return {};
    return {QString::fromUtf8(lines[0]), lines[1].toInt(), lines[2].toInt()};
}

}  // namespace

DoseLog::DoseLog(const QString& path, double tolerancePercent, int decimals, QLocale locale)
    : journal_(path),
      openCycle_(openCyclePath(path)),
      lotFile_(lotPath(path)),
      tolerancePercent_(tolerancePercent),
      decimals_(decimals),
      locale_(std::move(locale)) {
    if (const auto startMs = readOpenCycle(openCycle_.read().trimmed())) detector_.resume(*startMs);
    lot_ = readLot(lotFile_.read());
}

bool DoseLog::setLot(const Lot& lot) {
    lot_ = lot;
    return lot.name.isEmpty() ? lotFile_.remove() || !lotFile_.exists()
                              : lotFile_.write(lotText(lot));
}

DoseLog::Events DoseLog::poll(const QDateTime& when, const std::optional<WeightReading>& weights,
                              const std::optional<Setpoints>& setpoints, bool moving) {
    // Instants, not the wall clock: a cycle under way when summer time ends is not cut.
    const qint64 ms = instantMs(when);
    const DoseStep step = detector_.feed(
        weights ? DoseReading{ms, true, displaySteps(weights->net, decimals_), moving}
                : DoseReading{ms, false, 0});
    if (setpoints) detector_.setSetpoints(doseSetpoints(*setpoints, decimals_));

    Events events;
    // The product is the one in force at the final weight, or at the end without one.
    if (product_ && (step.finalTaken || (step.ended && !step.ended->finalNet)))
        cycleTrace_.product = *product_;
    if (step.finalTaken) {
        events.finalTaken = doseRecord(*step.finalTaken, tolerancePercent_, fromInstant);
        if (product_) events.finalTaken->trace = cycleTrace_;
    }
    if (step.ended) {
        events.ended = doseRecord(*step.ended, tolerancePercent_, fromInstant);
        if (product_) events.ended->trace = cycleTrace_;
        journal_.append(doseLine(*events.ended, decimals_, locale_).toLocal8Bit());
        // Only once the line is the journal's: a kill in between records the cycle again
        // as Incompleta rather than not at all.
        openCycle_.remove();
        events.lotCounted = countForLot(*events.ended);
    }
    // After the end of the one before: a silence can end one cycle and begin the next at
    // the same reading. A start that cannot be kept costs only the record of a kill in
    // this cycle.
    if (step.began) {
        cycleTrace_ = DoseTrace{{}, lot_.name};
        openCycle_.write(openCycleText(detector_.open()->startMs));
    }
    return events;
}

bool DoseLog::countForLot(const DoseRecord& dose) {
    // A lot counts the doses it delivered: an aborted or broken cycle is none of them.
    if (lot_.name.isEmpty() || cycleTrace_.lot != lot_.name ||
        dose.result == DoseResult::Incompleta)
        return false;
    ++lot_.done;
    lotFile_.write(lotText(lot_));
    return true;
}

QString lotPath(const QString& dosePath) {
    return dosePath + QStringLiteral(".lote");
}

QString openCyclePath(const QString& dosePath) {
    return dosePath + QStringLiteral(".ciclo");
}
