#pragma once

#include <QtGlobal>
#include <vector>

// What one stretch of time holds, enough to draw it as faithfully as every reading in
// it: the extremes for the vertical stroke, the first and last for the joins.
struct Bucket {
    qint64 firstMs = 0;
    qint64 lastMs = 0;
    double grossMin = 0, grossMax = 0, grossFirst = 0, grossLast = 0;
    double netMin = 0, netMax = 0, netFirst = 0, netLast = 0;
    qint64 count = 0;
    // The line is broken between the previous bucket with readings and this one.
    bool gapBefore = false;
};

// Folds readings, in time order, into at most `maxBuckets` buckets of equal width from
// `originMs`. When a reading falls beyond the last bucket the width doubles and pairs of
// buckets merge, so any number of readings takes the same memory and the result still
// has at least half of `maxBuckets` buckets across the readings' time.
class Decimator {
public:
    Decimator(qint64 originMs, qint64 widthMs, int maxBuckets);

    void add(qint64 ms, double gross, double net);
    // The next reading is not joined to the one before.
    void addGap();

    // Buckets with readings, in time order.
    std::vector<Bucket> buckets() const;

private:
    void widen();

    qint64 origin_;
    qint64 width_;
    std::vector<Bucket> slots_;
    bool pendingGap_ = false;
    qint64 lastIndex_ = 0;  // the bucket of the last reading,
    qint64 lastFrom_ = 0;   // which starts this far from the origin
};

// Joins b into a, the earlier of the two.
void mergeBucket(Bucket& a, const Bucket& b);
