#pragma once

#include <QList>
#include <QStringList>

#include "operator_entry.h"

// What an operator types, in a Spanish locale (decimal comma), and the register writes
// it must produce: shared by the station's test and the window's against pymodbus.
struct TypedEntry {
    Control control;
    bool withButton;  // false: Enter in the box
    QString typed;
    QString shown;       // the box once normalized
    QStringList writes;  // "register value", in order
};

inline const QList<TypedEntry> kOperatorEntries{
    {Control::Grueso, false, "125", "125", {"16 125", "17 0"}},
    {Control::Fino, true, "65536", "65536", {"18 0", "19 1"}},
    {Control::BCero, false, "4294967295", "4294967295", {"14 65535", "15 65535"}},
    {Control::Porc, true, "300", "300", {"22 300"}},
    {Control::Porc, false, "77", "77", {}},  // Enter here sends nothing
    {Control::Teor, false, "77", "77", {}},
    {Control::Teor, true, "", "0", {"20 0", "21 0"}},
    {Control::BCero, true, "abc", "0", {"14 0", "15 0"}},
    {Control::Teor, true, "12abc", "12", {"20 12", "21 0"}},
    {Control::Fino, false, "1 2", "12", {"18 12", "19 0"}},
    {Control::Porc, true, "1,5", "1", {"22 1"}},
    {Control::Teor, true, "12.9", "12,9", {"20 12", "21 0"}},
    {Control::Comando, false, "5", "5", {"7 5"}},
    {Control::Comando, true, "258", "258", {"7 258"}},
    {Control::Dato, false, "70000", "70000", {"8 4464", "9 1"}},
};

// Whether the entry reaches the station: Enter in the theoretical weight's and the
// percentage's boxes does nothing.
inline bool reachesStation(const TypedEntry& e) {
    return e.withButton || !e.writes.isEmpty();
}
