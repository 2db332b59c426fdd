#pragma once

#include <QDateTime>
#include <QtGlobal>
#include <optional>

#include "readers.h"
#include "weight_format.h"

// Dosing cycles found in the readings the station takes anyway. Weights are counted in
// display steps (the net weight times 10^decimals), so "unchanged within one step" and
// the comparisons with the setpoints are exact whatever the decimals.
//
// Times are milliseconds on one of two clocks. The live station counts the instants of
// its polls (since 1970-01-01 00:00 UTC, to the millisecond): the clock put back an hour
// at the end of summer time is no step back for it. A log read back has only the
// wall-clock times Peso.csv writes (log_parse.h), in whole seconds, which do step back
// then. Whole seconds cannot tell a pause of 0.3 s that straddles a second's edge from a
// second of stillness, so a log proves a settled weight only with its first and last still
// readings two whole seconds apart: where the feed pauses for about a second, the live
// record (which counts) and `vormelq --cycles` may differ.

struct DoseSetpoints {
    qint64 zeroBand = 0;
    qint64 coarse = 0;
    qint64 fine = 0;    // the fine cut-off: the weight at which the fine feed stops
    qint64 target = 0;  // the theoretical weight
    bool operator==(const DoseSetpoints&) const = default;
};

struct DoseReading {
    qint64 ms = 0;         // the detector's clock
    bool answered = true;  // false: the poll did not get the weights (`net` unused)
    qint64 net = 0;        // display steps
    bool moving = false;   // the module's own motion sign was lit
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
//   within one display step, with the module's motion sign dark, for at least the settle
//   time on its clock (kSettleMs live, kLogSettleMs on a log's whole seconds);
// - it ends with the first reading back within the zero band;
// - it is interrupted when it ends without a final weight, when no weights came for more
//   than kSilenceMs inside it, when the clock went back, or when it was resumed;
// - it ends at a silence (polls without weights) after which the net weight is lower than
//   before it by more than the zero band, interrupted: the module was off while the
//   weight fell, so what comes after may be another dose. The readings after it start
//   afresh, as the first ones of a run do.
class CycleDetector {
public:
    static constexpr qint64 kSettleMs = 1000;
    static constexpr qint64 kLogSettleMs = 2000;
    static constexpr qint64 kSilenceMs = 10000;

    explicit CycleDetector(qint64 settleMs = kSettleMs) : settleMs_(settleMs) {}

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
    bool settles(const DoseReading& reading);

    // Whether a silence cuts the open cycle short at this reading.
    bool cutBySilence(const DoseReading& reading) const;

    qint64 settleMs_;
    std::optional<DoseSetpoints> setpoints_;
    std::optional<DoseCycle> open_;
    std::optional<bool> lastWithinBand_;  // unknown before the first reading
    std::optional<qint64> lastMs_;        // of the last reading with weights
    qint64 lastNet_ = 0;                  // of that reading
    bool silenceSince_ = false;           // a poll without weights came after it
    // The run of readings within one step of each other, at or above the fine cut-off.
    qint64 runStartMs_ = 0;
    qint64 runLow_ = 0;
    qint64 runHigh_ = 0;
    bool inRun_ = false;
};

// The setpoints as the detector counts them.
DoseSetpoints doseSetpoints(const Setpoints& setpoints, int decimals);

// The live clock: the instant `when` stands for, to the millisecond.
qint64 instantMs(const QDateTime& when);
// Back to that instant's whole second, in local time (the date and time Peso.csv writes
// for it): the record's times read as the log's.
QDateTime fromInstant(qint64 ms);
// The log's clock for a wall-clock time: its date and time to the whole second.
qint64 logClockMs(const QDateTime& when);
// Back to a date and time to write, with no time zone: the log's own clock, no instant.
QDateTime fromLogClock(qint64 ms);
