#include "dose_log.h"

#include <utility>

DoseLog::DoseLog(const QString& path, double tolerancePercent, int decimals, QLocale locale)
    : journal_(path),
      openCycle_(openCyclePath(path)),
      tolerancePercent_(tolerancePercent),
      decimals_(decimals),
      locale_(std::move(locale)) {
    bool ok = false;
    const qint64 startMs = openCycle_.read().trimmed().toLongLong(&ok);
    if (ok) detector_.resume(startMs);
}

DoseLog::Events DoseLog::poll(const QDateTime& when, const std::optional<WeightReading>& weights,
                              const std::optional<Setpoints>& setpoints) {
    const qint64 ms = logClockMs(when);
    const DoseStep step =
        detector_.feed(weights ? DoseReading{ms, true, displaySteps(weights->net, decimals_)}
                               : DoseReading{ms, false, 0});
    if (setpoints) detector_.setSetpoints(doseSetpoints(*setpoints, decimals_));

    Events events;
    // A start that cannot be kept costs only the record of a kill in this cycle.
    if (step.began) openCycle_.write(QByteArray::number(detector_.open()->startMs));
    if (step.finalTaken) events.finalTaken = doseRecord(*step.finalTaken, tolerancePercent_);
    if (step.ended) {
        events.ended = doseRecord(*step.ended, tolerancePercent_);
        journal_.append(doseLine(*events.ended, decimals_, locale_).toLocal8Bit());
        // Only once the line is the journal's: a kill in between records the cycle again
        // as Incompleta rather than not at all.
        openCycle_.remove();
    }
    return events;
}

DoseSetpoints doseSetpoints(const Setpoints& setpoints, int decimals) {
    return {displaySteps(setpoints.zeroBand, decimals), displaySteps(setpoints.coarse, decimals),
            displaySteps(setpoints.fine, decimals), displaySteps(setpoints.target, decimals)};
}

QString openCyclePath(const QString& dosePath) {
    return dosePath + QStringLiteral(".ciclo");
}
