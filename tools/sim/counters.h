#pragma once

#include <QString>
#include <QtGlobal>

#include "faults.h"
#include "slave_protocol.h"

namespace sim {

// What the simulator has done, printed as one line of key=value pairs so that
// scripts can compare it with what the station saw. A block read counts only when
// its reply went out intact and in time.
struct Counters {
    quint64 requests = 0;  // addressed to this module
    quint64 ignored = 0;   // addressed to another slave
    quint64 garbageBytes = 0;
    quint64 connections = 0;
    quint64 readsWeight = 0;
    quint64 readsDisplay = 0;
    quint64 readsCommand = 0;
    quint64 readsSetpoints1 = 0;
    quint64 readsSetpoints2 = 0;
    quint64 readsOther = 0;
    quint64 writes = 0;
    quint64 exceptions = 0;  // refusals of requests outside the map or protocol
    quint64 faultsSilent = 0;
    quint64 faultsDrop = 0;
    quint64 faultsLate = 0;
    quint64 faultsBadCrc = 0;
    quint64 faultsExtraByte = 0;
    quint64 faultsSplit = 0;
    quint64 faultsException = 0;
    quint64 faultsStale = 0;
    quint64 spoiledByStale = 0;  // intact replies to requests sent just as unasked junk went out
    quint64 faultsClose = 0;

    void countFault(Fault fault);
    // A reply of `kind` sent with `fault`; one the master may have read mixed with unasked
    // junk counts apart.
    void countReply(Fault fault, RequestKind kind, bool spoiledByJunk);
    QString line() const;

private:
    quint64& served(RequestKind kind);
};

}  // namespace sim
