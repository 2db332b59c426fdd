#include "weight_history.h"

#include <algorithm>
#include <utility>

WeightHistory::WeightHistory(qsizetype capacity) : capacity_(std::max<qsizetype>(1, capacity)) {}

const TrendSample& WeightHistory::at(qsizetype i) const {
    return ring_[static_cast<size_t>((start_ + i) % capacity())];
}

void WeightHistory::push(TrendSample sample) {
    if (count_ > 0) sample.ms = std::max(sample.ms, at(count_ - 1).ms);
    if (count_ < capacity()) {
        // After a rewind the slot may already be there.
        const auto slot = static_cast<size_t>((start_ + count_) % capacity());
        if (slot < ring_.size()) {
            ring_[slot] = sample;
        } else {
            if (ring_.size() == ring_.capacity())
                ring_.reserve(static_cast<size_t>(
                    std::min<qsizetype>(capacity(), std::max<qsizetype>(1024, 2 * count_))));
            ring_.push_back(sample);
        }
        ++count_;
        return;
    }
    ring_[static_cast<size_t>(start_)] = sample;
    start_ = (start_ + 1) % capacity();
}

void WeightHistory::rewindTo(qint64 ms) {
    while (count_ > 0 && at(count_ - 1).ms > ms) --count_;
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

bool GapRule::isGap(qint64 previousMs, qint64 ms) {
    const qint64 interval = ms - previousMs;
    if (interval < 0) return true;
    if (interval == 0) return false;
    if (count_ < kKept) {
        recent_[count_] = interval;
        const auto at = std::upper_bound(sorted_.begin(), sorted_.begin() + count_, interval);
        std::copy_backward(at, sorted_.begin() + count_, sorted_.begin() + count_ + 1);
        *at = interval;
        ++count_;
    } else {
        const qint64 oldest = std::exchange(recent_[next_], interval);
        next_ = (next_ + 1) % kKept;
        replaceSorted(oldest, interval);
    }
    const qint64 usual = sorted_[count_ / 2];
    return interval > std::max<qint64>(3000, 3 * usual);
}

void GapRule::replaceSorted(qint64 oldest, qint64 interval) {
    // A log's intervals are nearly all alike, so this is mostly nothing to do, else a
    // short shift towards where the new one belongs.
    if (interval == oldest) return;
    auto i = static_cast<size_t>(std::lower_bound(sorted_.begin(), sorted_.end(), oldest) -
                                 sorted_.begin());
    if (interval > oldest) {
        for (; i + 1 < kKept && sorted_[i + 1] <= interval; ++i) sorted_[i] = sorted_[i + 1];
    } else {
        for (; i > 0 && sorted_[i - 1] > interval; --i) sorted_[i] = sorted_[i - 1];
    }
    sorted_[i] = interval;
}
