#pragma once

#include <QDateTime>
#include <QLocale>
#include <functional>

#include "readers.h"

class WeightLog;

// Where a poll cycle reports, step by step, in order. Every successful read clears the
// no-communication label; communicationLost shows it.
class PollSink {
public:
    virtual ~PollSink() = default;
    virtual void displayRead(const DisplayImage& image) = 0;
    virtual void weightsRead(const WeightReading& weights) = 0;
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

// One poll: display, weights, log line, setpoints, command readback. A block that
// cannot be read reports communicationLost and ends the cycle.
void pollCycle(PollContext& context);
