#pragma once

#include <QDateTime>
#include <QLocale>
#include <functional>
#include <optional>

#include "readers.h"

class WeightLog;

// Where a poll cycle reports, step by step, in order. Every successful read clears the
// no-communication label; communicationLost shows it.
class PollSink {
public:
    virtual ~PollSink() = default;
    virtual void displayRead(const DisplayImage& image) = 0;
    virtual void weightsRead(const WeightReading& weights) = 0;
    // Just before and right after a log line of weights is handed to the log: what is
    // kept over the log's lines is told of it first and follows it with no poll
    // between, so that a kill in between is known to what keeps them.
    virtual void weightsLogging() {}
    virtual void weightsLogged(const QDateTime& when, const WeightReading& weights) {
        (void)when, (void)weights;
    }
    virtual void setpointsRead(const Setpoints& setpoints) = 0;
    virtual void readbackRead(const CommandReadback& readback) = 0;
    virtual void communicationLost() = 0;
};

struct PollContext {
    Instrument& instrument;
    WeightLog& log;
    PollSink& sink;
    QLocale locale;  // date, time and decimal separator
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
};

// What a poll took, for the records kept over its readings: the time of its log line
// (or of its failure, when it got no weights), and the blocks it read.
struct PollOutcome {
    QDateTime when;
    std::optional<WeightReading> weights;
    std::optional<Setpoints> setpoints;
    bool moving = false;  // the display read showed the motion sign
};

// One poll: display, weights, log line, setpoints, command readback. A block that
// cannot be read reports communicationLost and ends the cycle. What each block brings
// is reported and logged once the next request is out (Instrument::afterNextRequest):
// the sink and the log must outlive that; Instrument::runHeldWork() lets it out now.
PollOutcome pollCycle(PollContext& context);
