#include "faults.h"

#include <algorithm>

namespace sim {

namespace {
constexpr int kBitsPerChar = 10;  // 8N1: start, 8 data, stop
}

FaultPlan::FaultPlan(const FaultOptions& options, quint32 randomStart)
    : options_(options), random_(randomStart) {}

bool FaultPlan::fires(double probability, quint64 n) {
    if (probability <= 0) return false;
    if (options_.every > 0) return n % static_cast<quint64>(options_.every) == 0;
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

Fault FaultPlan::faultFor(quint64 n) {
    if (fires(options_.drop, n)) return Fault::Drop;
    if (fires(options_.exception, n)) return Fault::Exception;
    if (fires(options_.late, n)) return Fault::Late;
    if (fires(options_.badCrc, n)) return Fault::BadCrc;
    if (fires(options_.extraByte, n)) return Fault::ExtraByte;
    if (fires(options_.split, n)) return Fault::Split;
    return Fault::None;
}

bool FaultPlan::staleAfter(quint64 n) {
    return fires(options_.stale, n);
}

QByteArray FaultPlan::staleBytes() {
    std::uniform_int_distribution<int> count(1, 5), byte(0, 255);
    QByteArray junk;
    for (int i = count(random_); i > 0; --i) junk.append(static_cast<char>(byte(random_)));
    return junk;
}

QList<QByteArray> FaultPlan::pieces(const QByteArray& reply) {
    const int size = static_cast<int>(reply.size());
    const int wanted = std::min(size, std::uniform_int_distribution<int>(2, 4)(random_));
    QList<QByteArray> parts;
    int from = 0;
    for (int i = 0; i < wanted; ++i) {
        const int to = (i == wanted - 1) ? size : (size * (i + 1)) / wanted;
        parts.append(reply.mid(from, to - from));
        from = to;
    }
    return parts;
}

QByteArray withBadCrc(const QByteArray& reply) {
    QByteArray spoilt = reply;
    if (!spoilt.isEmpty()) spoilt[spoilt.size() - 1] = static_cast<char>(spoilt.back() ^ 0x5A);
    return spoilt;
}

QByteArray withExtraByte(const QByteArray& reply) {
    return reply + QByteArray(1, '\0');
}

qint64 wireTimeUs(int requestChars, int replyChars, int baud, int gaps) {
    if (baud <= 0) return 0;
    const double charUs = kBitsPerChar * 1e6 / baud;
    return static_cast<qint64>((requestChars + replyChars + gaps * 3.5) * charUs);
}

int silenceMs(int baud) {
    if (baud <= 0) return 5;
    const double ms = 3.5 * kBitsPerChar * 1000.0 / baud;
    return std::max(5, static_cast<int>(ms + 0.999));
}

}  // namespace sim
