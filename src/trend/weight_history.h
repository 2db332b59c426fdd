#pragma once

#include <QtGlobal>
#include <array>
#include <vector>

// One entry of the weight history: a reading, or a break where the module did not
// answer. Times are milliseconds since the epoch.
struct TrendSample {
    qint64 ms = 0;
    double gross = 0;
    double net = 0;
    bool gap = false;
};

// The readings of the last day or so, in a fixed ring: the oldest entry goes when a new
// one comes, so a station left running for weeks holds the same memory as on its
// first day.
class WeightHistory {
public:
    // A day at the default 500 ms poll, with room for the breaks of a bad day.
    static constexpr qsizetype kCapacity = 24 * 3600 * 2 + 24 * 3600 / 4;

    explicit WeightHistory(qsizetype capacity = kCapacity);

    // Times never go backwards in the history, so it stays sorted for the look-ups
    // below: a reading earlier than the last is held at the last time (rewindTo first
    // when that is not what you want).
    void append(qint64 ms, double gross, double net);
    // A break before the next reading. Consecutive breaks count as one.
    void appendGap(qint64 ms);

    // Drops the entries after `ms`: for a clock set back, whose axis they are now past.
    void rewindTo(qint64 ms);

    qsizetype size() const { return count_; }
    qsizetype capacity() const { return capacity_; }
    // i = 0 is the oldest entry still held.
    const TrendSample& at(qsizetype i) const;
    // The first entry at or after `ms`, or size() when there is none.
    qsizetype lowerBound(qint64 ms) const;

private:
    void push(TrendSample sample);

    // Grows to the capacity as readings come, so a station just started holds little.
    std::vector<TrendSample> ring_;
    qsizetype capacity_;
    qsizetype start_ = 0;
    qsizetype count_ = 0;
};

// Where the weight curve breaks, the same for the live chart and for a log read back:
// between two readings further apart than three of the usual intervals (the median of
// the last ones), and never less than 3 s since the log's times have whole seconds
// only; and wherever the clock went back, so readings are never joined as if later.
// Time alone decides: a module that did not answer, a station that was not running and
// a PC that was suspended all leave the same mark, a silence.
class GapRule {
public:
    bool isGap(qint64 previousMs, qint64 ms);

private:
    static constexpr size_t kKept = 101;
    // The same multiset of intervals, with the oldest going where the newest comes in.
    void replaceSorted(qint64 oldest, qint64 interval);

    std::array<qint64, kKept> recent_{};  // the last positive intervals, in a ring
    size_t next_ = 0;                     // the oldest of them, once there are kKept
    size_t count_ = 0;
    std::array<qint64, kKept> sorted_{};  // the first count_, sorted
};
