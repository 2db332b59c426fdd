#pragma once

#include <QDateTime>
#include <QtGlobal>
#include <optional>

// Dosing cycles found in the readings the station takes anyway. Weights are counted in
// display steps (the net weight times 10^decimals), so "unchanged within one step" and
// the comparisons with the setpoints are exact whatever the decimals.
//
// Times are the log's clock: the wall-clock time as Peso.csv writes it, whole seconds,
// no time zone (milliseconds since 1970-01-01 00:00 of that clock, as log_parse.h
// reads it back). The live station feeds the time of the line it logs, so the cycles it
// finds are the cycles `vormelq --cycles` finds in its Peso.csv, to the second.

struct DoseSetpoints {
    qint64 zeroBand = 0;
    qint64 coarse = 0;
    qint64 fine = 0;    // the fine cut-off: the weight at which the fine feed stops
    qint64 target = 0;  // the theoretical weight
    bool operator==(const DoseSetpoints&) const = default;
};

struct DoseReading {
    qint64 ms = 0;         // log clock
    bool answered = true;  // false: the poll did not get the weights (`net` unused)
    qint64 net = 0;        // display steps
};

struct DoseCycle {
    qint64 startMs = 0;              // the first reading above the zero band
    qint64 endMs = 0;                // the first reading back within it; 0 while open
    DoseSetpoints setpoints;         // in force at the final weight, or at the end without one
    std::optional<qint64> finalNet;  // display steps, once settled
    qint64 finalMs = 0;
    // The station cannot vouch for the cycle: it ended before a final weight, the module
    // was silent too long inside it, the clock went back, or the station was not there
    // for all of it.
    bool interrupted = false;

    bool complete() const { return finalNet && !interrupted; }
};

// What one reading changed.
struct DoseStep {
    bool began = false;                   // a cycle opened: persist its start
    std::optional<DoseCycle> finalTaken;  // the open cycle, just given its final weight
    std::optional<DoseCycle> ended;       // a cycle closed: record it
};

// The rule of a cycle, fed one reading at a time, the same for the live station (per
// poll) and for a log read back (per line):
// - it begins with the first reading above the zero band after one within it (a first
//   reading above it, with nothing known before, opens one the station joined late);
// - its final weight is the net weight once, at or above the fine cut-off, it has stayed
//   within one display step for at least kSettleMs of log time;
// - it ends with the first reading back within the zero band;
// - it is interrupted when it ends without a final weight, when no weights came for more
//   than kSilenceMs inside it, when the clock went back, or when it was resumed.
class CycleDetector {
public:
    static constexpr qint64 kSettleMs = 1000;
    static constexpr qint64 kSilenceMs = 10000;

    // Until the setpoints are known no reading is judged.
    void setSetpoints(const DoseSetpoints& setpoints) { setpoints_ = setpoints; }
    DoseStep feed(const DoseReading& reading);

    // The cycle under way, if any; its start is what the station keeps on disk to record
    // a cycle it was killed in.
    const std::optional<DoseCycle>& open() const { return open_; }
    // Before the first reading: carries on the cycle a previous run left open. It ends
    // as usual, interrupted.
    void resume(qint64 startMs);

private:
    // Whether this reading completes the settled run that makes the final weight.
    bool settles(qint64 ms, qint64 net);

    std::optional<DoseSetpoints> setpoints_;
    std::optional<DoseCycle> open_;
    std::optional<bool> lastWithinBand_;  // unknown before the first reading
    std::optional<qint64> lastMs_;        // of the last reading with weights
    // The run of readings within one step of each other, at or above the fine cut-off.
    qint64 runStartMs_ = 0;
    qint64 runLow_ = 0;
    qint64 runHigh_ = 0;
    bool inRun_ = false;
};

// A weight as a whole number of display steps.
qint64 displaySteps(double value, int decimals);
// And back.
double stepsWeight(qint64 steps, int decimals);

// The log's clock for a wall-clock time: its date and time to the whole second.
qint64 logClockMs(const QDateTime& when);
// Back to a date and time to write (no time zone: the log's own clock).
QDateTime fromLogClock(qint64 ms);
