#include "decimator.h"

#include <algorithm>

Decimator::Decimator(qint64 originMs, qint64 widthMs, int maxBuckets)
    : origin_(originMs),
      width_(std::max<qint64>(1, widthMs)),
      slots_(static_cast<size_t>(std::max(2, maxBuckets) & ~1)) {}

void mergeBucket(Bucket& a, const Bucket& b) {
    if (b.count == 0) return;
    if (a.count == 0) {
        a = b;
        return;
    }
    a.lastMs = b.lastMs;
    a.grossMin = std::min(a.grossMin, b.grossMin);
    a.grossMax = std::max(a.grossMax, b.grossMax);
    a.grossLast = b.grossLast;
    a.netMin = std::min(a.netMin, b.netMin);
    a.netMax = std::max(a.netMax, b.netMax);
    a.netLast = b.netLast;
    a.count += b.count;
}

void Decimator::widen() {
    const size_t half = slots_.size() / 2;
    for (size_t i = 0; i < half; ++i) {
        Bucket merged = slots_[2 * i];
        mergeBucket(merged, slots_[2 * i + 1]);
        slots_[i] = merged;
    }
    std::fill(slots_.begin() + static_cast<std::ptrdiff_t>(half), slots_.end(), Bucket{});
    width_ *= 2;
}

void Decimator::add(qint64 ms, double gross, double net) {
    // A reading before the origin (a clock set back) is drawn at the start.
    const qint64 offset = std::max<qint64>(0, ms - origin_);
    // Readings come in time order, hundreds to a bucket: the last one's bucket is
    // nearly always this one's too, found without a division.
    if (offset < lastFrom_ || offset >= lastFrom_ + width_) {
        lastIndex_ = offset / width_;
        for (; lastIndex_ >= static_cast<qint64>(slots_.size()); lastIndex_ = offset / width_)
            widen();
        lastFrom_ = lastIndex_ * width_;
    }
    const qint64 index = lastIndex_;
    // As mergeBucket would join a bucket of this one reading, without making one: this
    // runs for every reading of a log.
    Bucket& slot = slots_[static_cast<size_t>(index)];
    if (slot.count == 0) {
        slot.firstMs = slot.lastMs = ms;
        slot.grossMin = slot.grossMax = slot.grossFirst = slot.grossLast = gross;
        slot.netMin = slot.netMax = slot.netFirst = slot.netLast = net;
        slot.count = 1;
        // A break inside a bucket is narrower than what the bucket stands for on screen.
        slot.gapBefore = pendingGap_;
    } else {
        slot.lastMs = ms;
        slot.grossMin = std::min(slot.grossMin, gross);
        slot.grossMax = std::max(slot.grossMax, gross);
        slot.grossLast = gross;
        slot.netMin = std::min(slot.netMin, net);
        slot.netMax = std::max(slot.netMax, net);
        slot.netLast = net;
        ++slot.count;
    }
    pendingGap_ = false;
}

void Decimator::addGap() {
    pendingGap_ = true;
}

std::vector<Bucket> Decimator::buckets() const {
    std::vector<Bucket> out;
    for (const Bucket& b : slots_)
        if (b.count > 0) out.push_back(b);
    return out;
}
