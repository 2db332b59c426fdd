#include "cycle_detector.h"

#include <QTimeZone>
#include <algorithm>
#include <cmath>

#include "log_parse.h"

DoseStep CycleDetector::feed(const DoseReading& reading) {
    DoseStep step;
    if (!setpoints_) return step;
    const bool silentTooLong = lastMs_ && reading.ms - *lastMs_ > kSilenceMs;
    if (open_ && silentTooLong) open_->interrupted = true;
    if (!reading.answered) {
        silenceSince_ = lastMs_.has_value();
        return step;
    }
    if (cutBySilence(reading)) {
        // It ends with the last reading that was surely its own.
        open_->endMs = *lastMs_;
        open_->interrupted = true;
        step.ended = open_;
        open_.reset();
        lastWithinBand_.reset();
        inRun_ = false;
    }
    silenceSince_ = false;

    // A clock set back makes the weights before and after it two stories: a run of
    // equal weights across it proves nothing, and the cycle's times no longer add up.
    if (lastMs_ && reading.ms < *lastMs_) {
        if (open_) open_->interrupted = true;
        inRun_ = false;
    }
    lastMs_ = reading.ms;
    lastNet_ = reading.net;

    const bool within = reading.net <= setpoints_->zeroBand;
    const std::optional<bool> before = lastWithinBand_;
    lastWithinBand_ = within;
    if (!open_) {
        if (within) return step;
        open_ = DoseCycle{};
        open_->startMs = reading.ms;
        open_->interrupted = !before.has_value();
        inRun_ = false;
        step.began = true;
    }
    if (!open_->finalNet) open_->setpoints = *setpoints_;
    if (within) {
        open_->endMs = reading.ms;
        if (!open_->finalNet) open_->interrupted = true;
        step.ended = open_;
        open_.reset();
        return step;
    }
    if (!open_->finalNet && settles(reading)) {
        open_->finalNet = reading.net;
        open_->finalMs = reading.ms;
        step.finalTaken = open_;
    }
    return step;
}

bool CycleDetector::cutBySilence(const DoseReading& reading) const {
    return open_ && silenceSince_ && reading.net < lastNet_ - setpoints_->zeroBand;
}

bool CycleDetector::settles(const DoseReading& reading) {
    const qint64 ms = reading.ms;
    const qint64 net = reading.net;
    // The module knows its own scale best: while it says the weight moves, nothing
    // read now proves stillness.
    if (net < setpoints_->fine || reading.moving) {
        inRun_ = false;
        return false;
    }
    const qint64 low = std::min(runLow_, net);
    const qint64 high = std::max(runHigh_, net);
    if (!inRun_ || high - low > 1) {
        inRun_ = true;
        runStartMs_ = ms;
        runLow_ = runHigh_ = net;
    } else {
        runLow_ = low;
        runHigh_ = high;
    }
    return ms - runStartMs_ >= settleMs_;
}

void CycleDetector::resume(qint64 startMs) {
    open_ = DoseCycle{};
    open_->startMs = startMs;
    open_->interrupted = true;
    lastWithinBand_ = false;
}

DoseSetpoints doseSetpoints(const Setpoints& setpoints, int decimals) {
    return {displaySteps(setpoints.zeroBand, decimals), displaySteps(setpoints.coarse, decimals),
            displaySteps(setpoints.fine, decimals), displaySteps(setpoints.target, decimals)};
}

qint64 instantMs(const QDateTime& when) {
    return when.toMSecsSinceEpoch();
}

QDateTime fromInstant(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms - ms % 1000);
}

qint64 logClockMs(const QDateTime& when) {
    return logMs(when.date(), when.time().msecsSinceStartOfDay() / 1000 * 1000);
}

QDateTime fromLogClock(qint64 ms) {
    // Qt::UTC rather than a QTimeZone: a zone is a shared object each date and time would
    // hold, and a year's record read back makes two million of them.
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}
