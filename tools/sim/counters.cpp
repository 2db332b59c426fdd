#include "counters.h"

#include <QStringList>
#include <utility>

namespace sim {

quint64& Counters::served(RequestKind kind) {
    switch (kind) {
        case RequestKind::WeightRead:
            return readsWeight;
        case RequestKind::DisplayRead:
            return readsDisplay;
        case RequestKind::CommandRead:
            return readsCommand;
        case RequestKind::Setpoints1Read:
            return readsSetpoints1;
        case RequestKind::Setpoints2Read:
            return readsSetpoints2;
        case RequestKind::OtherRead:
            return readsOther;
        case RequestKind::Write:
            return writes;
        case RequestKind::Refused:
            break;
    }
    return exceptions;
}

void Counters::countReply(Fault fault, RequestKind kind, bool spoiledByJunk) {
    countFault(fault);
    if (fault != Fault::None && fault != Fault::Split) return;
    if (spoiledByJunk)
        ++spoiledByStale;
    else
        ++served(kind);
}

void Counters::countFault(Fault fault) {
    switch (fault) {
        case Fault::None:
            break;
        case Fault::Drop:
            ++faultsDrop;
            break;
        case Fault::Exception:
            ++faultsException;
            break;
        case Fault::Late:
            ++faultsLate;
            break;
        case Fault::BadCrc:
            ++faultsBadCrc;
            break;
        case Fault::ExtraByte:
            ++faultsExtraByte;
            break;
        case Fault::Split:
            ++faultsSplit;
            break;
    }
}

QString Counters::line() const {
    const std::pair<const char*, quint64> fields[] = {
        {"requests", requests},
        {"ignored", ignored},
        {"garbage_bytes", garbageBytes},
        {"connections", connections},
        {"reads.weight", readsWeight},
        {"reads.display", readsDisplay},
        {"reads.command", readsCommand},
        {"reads.setpoints1", readsSetpoints1},
        {"reads.setpoints2", readsSetpoints2},
        {"reads.other", readsOther},
        {"writes", writes},
        {"exceptions", exceptions},
        {"faults.silent", faultsSilent},
        {"faults.drop", faultsDrop},
        {"faults.late", faultsLate},
        {"faults.bad_crc", faultsBadCrc},
        {"faults.extra_byte", faultsExtraByte},
        {"faults.split", faultsSplit},
        {"faults.exception", faultsException},
        {"faults.stale", faultsStale},
        {"stale_spoiled", spoiledByStale},
        {"faults.close", faultsClose},
    };
    QStringList parts;
    for (const auto& [name, value] : fields)
        parts << QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(value);
    return QStringLiteral("counters: ") + parts.join(QLatin1Char(' '));
}

}  // namespace sim
