#pragma once

#include <QLocale>
#include <QMetaType>
#include <QString>
#include <optional>

#include "readers.h"
#include "requests.h"

// What the operator asks of a module, as a front end hands it on: which control and the
// raw entry. The station alone turns it into registers and into the words of Cambios.csv,
// from its own names: what a window's caption says never reaches the record.
enum class Control { BCero, Grueso, Fino, Teor, Porc, Comando, Dato };

struct OperatorEntry {
    Control control = Control::BCero;
    QString text;  // as typed
};

// The record's name for a control ("B. Cero", "Grueso", ... "Comando", "Dato").
QString controlName(Control control);
// And for a front-panel key, 0..4 ("Tecla SI•NO/MODO", "Tecla cero", ...).
QString keyName(int index);

// An entry worked out: the write it asks for, labelled for the record with the control's
// name, the value last read back for it (setpoints only, as the panel shows it; empty
// before the first reading) and the value sent, as it will read back.
struct EntryRequest {
    WriteRequest labelled;  // its registers empty when `sendable` is false
    bool sendable = false;  // false: out of range for its register, nothing may be sent
};
EntryRequest entryRequest(const OperatorEntry& entry, const std::optional<Setpoints>& readBack,
                          int decimals, const QLocale& locale);
// The key press at area `index`, labelled; nullopt for no key.
std::optional<WriteRequest> keyPressRequest(int index);

Q_DECLARE_METATYPE(OperatorEntry)
