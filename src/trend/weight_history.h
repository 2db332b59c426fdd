#pragma once

#include <QtGlobal>
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

    // Times never go backwards in the history (a clock set back is held at the last
    // time), so it stays sorted for the look-ups below.
    void append(qint64 ms, double gross, double net);
    // A break before the next reading. Consecutive breaks count as one.
    void appendGap(qint64 ms);

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
