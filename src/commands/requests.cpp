#include "requests.h"

#include "frames.h"
#include "link.h"
#include "register_map.h"
#include "transactions.h"
#include "value_split.h"

namespace {

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

quint16 registerWord(const RegisterWrite& write) {
    const auto byte = [&](qsizetype i) {
        return i < write.value.size() ? static_cast<quint8>(write.value[i]) : 0u;
    };
    return static_cast<quint16>(byte(0) | byte(1) << 8);
}

quint32 requestValue(const WriteRequest& request) {
    quint32 value = 0;
    for (qsizetype i = request.writes.size() - 1; i >= 0; --i)
        value = value << 16 | registerWord(request.writes[i]);
    return value;
}

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
    WriteRequest request;
    request.writes << RegisterWrite{RegTecla, letter};
    return request;
}

namespace {

// A register's attempts: the last one's reply, `sent` when any went out; Late when the
// deadline was over before the first could. With `firstAttemptDue` the first goes out
// whatever the deadline.
WriteReply retriedWrite(Link& link, int slave, const RegisterWrite& write, QDeadlineTimer sendBy,
                        bool firstAttemptDue) {
    // Any well-formed echo counts as done: its value is not compared with what was sent.
    // A refusal is the module's answer and stands, unless it only said it was busy.
    WriteReply last{WriteReply::Kind::Late, false, 0, {}};
    bool sent = false;
    for (int attempt = 0; attempt < linkexchange::kWriteAttempts && !stopRequested(); ++attempt) {
        const QDeadlineTimer by =
            attempt == 0 && firstAttemptDue ? QDeadlineTimer(QDeadlineTimer::Forever) : sendBy;
        const WriteReply reply = writeRegister(link, slave, write.address, write.value, by);
        if (reply.kind == WriteReply::Kind::Late) break;
        last = reply;
        sent = sent || reply.sent;
        if (reply.kind == WriteReply::Kind::Echoed) break;
        if (reply.kind == WriteReply::Kind::Refused && reply.exceptionCode != modbus::kSlaveBusy)
            break;
    }
    last.sent = sent;
    return last;
}

WriteResult resultOf(const WriteReply& reply) {
    switch (reply.kind) {
        case WriteReply::Kind::Late:
            return WriteResult::Descartado;
        case WriteReply::Kind::Refused:
            return WriteResult::Rechazado;
        case WriteReply::Kind::Echoed:
            return WriteResult::Enviado;
        case WriteReply::Kind::NoAnswer:
            break;
    }
    return WriteResult::Error;
}

}  // namespace

WriteOutcome sendRequest(Link& link, int slave, const WriteRequest& request,
                         QDeadlineTimer sendBy) {
    WriteOutcome outcome{request, {}, WriteResult::Enviado, 0};
    for (const RegisterWrite& write : request.writes) {
        // The module took the first half of the value a moment ago: the second goes out
        // now, late or not, since half a value is worse than a late one; only its retries
        // keep to the deadline.
        const bool completesValue = !outcome.attempted.isEmpty();
        const WriteReply reply = retriedWrite(link, slave, write, sendBy, completesValue);
        if (reply.sent) outcome.attempted << write;
        outcome.result = resultOf(reply);
        if (outcome.result == WriteResult::Enviado) continue;
        outcome.exceptionCode = reply.exceptionCode;
        return outcome;
    }
    return outcome;
}

QString exceptionMeaning(int code) {
    switch (code) {
        case 1:
            return QStringLiteral("función no admitida");
        case 2:
            return QStringLiteral("dirección no válida");
        case 3:
            return QStringLiteral("valor no válido");
        case 4:
            return QStringLiteral("fallo del módulo");
        case 5:
            return QStringLiteral("petición aceptada, en curso");
        case 6:
            return QStringLiteral("módulo ocupado");
        case 8:
            return QStringLiteral("error de paridad en la memoria del módulo");
        default:
            return QStringLiteral("código desconocido");
    }
}
