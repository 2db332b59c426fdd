#include "counters.h"

#include <QStringList>
#include <utility>

namespace sim {

void Counters::countServed(RequestKind kind) {
    switch (kind) {
        case RequestKind::WeightRead:
            ++readsWeight;
            break;
        case RequestKind::DisplayRead:
            ++readsDisplay;
            break;
        case RequestKind::CommandRead:
            ++readsCommand;
            break;
        case RequestKind::Setpoints1Read:
            ++readsSetpoints1;
            break;
        case RequestKind::Setpoints2Read:
            ++readsSetpoints2;
            break;
        case RequestKind::OtherRead:
            ++readsOther;
            break;
        case RequestKind::Write:
            ++writes;
            break;
        case RequestKind::Refused:
            ++exceptions;
            break;
    }
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
        {"faults.close", faultsClose},
    };
    QStringList parts;
    for (const auto& [name, value] : fields)
        parts << QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(value);
    return QStringLiteral("counters: ") + parts.join(QLatin1Char(' '));
}

}  // namespace sim
