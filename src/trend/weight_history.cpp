#include "weight_history.h"

#include <algorithm>

WeightHistory::WeightHistory(qsizetype capacity) : capacity_(std::max<qsizetype>(1, capacity)) {}

const TrendSample& WeightHistory::at(qsizetype i) const {
    return ring_[static_cast<size_t>((start_ + i) % capacity())];
}

void WeightHistory::push(TrendSample sample) {
    if (count_ > 0) sample.ms = std::max(sample.ms, at(count_ - 1).ms);
    if (count_ < capacity()) {
        if (ring_.size() == ring_.capacity())
            ring_.reserve(static_cast<size_t>(
                std::min<qsizetype>(capacity(), std::max<qsizetype>(1024, 2 * count_))));
        ring_.push_back(sample);
        ++count_;
        return;
    }
    ring_[static_cast<size_t>(start_)] = sample;
    start_ = (start_ + 1) % capacity();
}

void WeightHistory::append(qint64 ms, double gross, double net) {
    push({ms, gross, net, false});
}

void WeightHistory::appendGap(qint64 ms) {
    if (count_ > 0 && at(count_ - 1).gap) return;
    push({ms, 0, 0, true});
}

qsizetype WeightHistory::lowerBound(qint64 ms) const {
    qsizetype lo = 0;
    qsizetype hi = count_;
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (at(mid).ms < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}
