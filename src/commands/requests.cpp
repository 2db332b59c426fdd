#include "requests.h"

#include "link.h"
#include "register_map.h"
#include "transactions.h"
#include "value_split.h"

namespace {

constexpr int kWriteAttempts = 3;

// The key letters of the front panel, left to right.
constexpr char kKeyLetters[] = {'S', 'Z', 'M', 'P', 'F'};

int setpointRegister(Setpoint setpoint) {
    switch (setpoint) {
        case Setpoint::BCero:
            return RegBCero;
        case Setpoint::Grueso:
            return RegGrueso;
        case Setpoint::Fino:
            return RegFino;
        case Setpoint::Teor:
            return RegTeor;
        case Setpoint::Porc:
            return RegPorc;
    }
    return RegPorc;
}

// Consecutive registers from `address`, lowest first: for a 32-bit value the module
// takes the low word at the lower address.
std::optional<WriteRequest> consecutive(int address,
                                        const std::optional<std::vector<QByteArray>>& words) {
    if (!words) return std::nullopt;
    WriteRequest request;
    for (const QByteArray& word : *words)
        request.writes.append(
            RegisterWrite{address + static_cast<int>(request.writes.size()), word});
    return request;
}

}  // namespace

std::optional<WriteRequest> setpointRequest(Setpoint setpoint, double value) {
    const int address = setpointRegister(setpoint);
    if (setpoint == Setpoint::Porc) return consecutive(address, splitValue16(value));
    return consecutive(address, splitValue32(value));
}

std::optional<WriteRequest> commandRequest(double value) {
    return consecutive(RegComando, splitValue16(value));
}

std::optional<WriteRequest> dataRequest(double value) {
    return consecutive(RegDato, splitValue32(value));
}

std::optional<WriteRequest> keyRequest(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kKeyLetters))) return std::nullopt;
    // The module reads the letter's code from the low byte; the high byte stays 0.
    QByteArray letter(2, '\0');
    letter[0] = kKeyLetters[index];
    return WriteRequest{{RegisterWrite{RegTecla, letter}}};
}

bool retriedWrite(Link& link, int slave, const RegisterWrite& write) {
    // Any well-formed echo counts as done: its value is not compared with what was sent.
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (stopRequested()) return false;
        if (!TxD(link, slave, write.address, write.value).isEmpty()) return true;
    }
    return false;
}
