#include "trend_recorder.h"

#include <QDateTime>

#include "decimator.h"

TrendRecorder::TrendRecorder(QObject* parent)
    : QObject(parent), now_([] { return QDateTime::currentMSecsSinceEpoch(); }) {}

void TrendRecorder::setNumberFormat(int decimals, const QLocale& locale) {
    decimals_ = decimals;
    locale_ = locale;
    emit changed();
}

void TrendRecorder::addWeights(const WeightReading& weights) {
    const qint64 now = now_();
    if (lastMs_ && gaps_.isGap(*lastMs_, now)) {
        // The chart's axis is the clock's: what a clock set back makes future goes.
        history_.rewindTo(now);
        std::erase_if(marks_, [now](const ChartMark& m) { return m.ms > now; });
        history_.appendGap(now);
    }
    lastMs_ = now;
    history_.append(now, weights.gross, weights.net);
    emit changed();
}

void TrendRecorder::setSetpoints(const Setpoints& s) {
    const ChartSetpoints next{s.coarse, s.fine, s.target};
    if (setpoints_ == next) return;
    setpoints_ = next;
    emit changed();
}

void TrendRecorder::markFinal(double value, bool alarm) {
    const qint64 now = now_();
    // The marks go with the readings they sit on.
    if (history_.size() > 0) {
        const qint64 oldest = history_.at(0).ms;
        std::erase_if(marks_, [oldest](const ChartMark& m) { return m.ms < oldest; });
    }
    std::erase_if(marks_, [now](const ChartMark& m) { return m.ms > now; });
    marks_.push_back({now, value, alarm});
    emit changed();
}

ChartInput TrendRecorder::chart(qint64 fromMs, qint64 toMs, int columns) const {
    ChartInput input;
    input.fromMs = fromMs;
    input.toMs = toMs;
    input.decimals = decimals_;
    input.locale = locale_;
    input.zone = QTimeZone::systemTimeZone();
    input.setpoints = setpoints_;
    const int count = 2 * std::max(1, columns);
    Decimator decimator(fromMs, (toMs - fromMs) / count + 1, count);
    // The entry just before the window tells whether the first reading in it follows a
    // break.
    qsizetype i = history_.lowerBound(fromMs);
    if (i > 0 && history_.at(i - 1).gap) decimator.addGap();
    for (; i < history_.size(); ++i) {
        const TrendSample& s = history_.at(i);
        if (s.ms > toMs) break;
        if (s.gap)
            decimator.addGap();
        else
            decimator.add(s.ms, s.gross, s.net);
    }
    input.buckets = decimator.buckets();
    for (const ChartMark& m : marks_)
        if (m.ms >= fromMs && m.ms <= toMs) input.marks.push_back(m);
    return input;
}
