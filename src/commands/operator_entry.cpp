#include "operator_entry.h"

#include <array>

#include "entry.h"
#include "register_map.h"
#include "weight_format.h"

namespace {

const std::array<QString, 5> kKeyNames{
    QStringLiteral("Tecla SI•NO/MODO"), QStringLiteral("Tecla cero"), QStringLiteral("Tecla tara"),
    QStringLiteral("Tecla 4"),          QStringLiteral("Tecla F"),
};

bool isSetpoint(Control control) {
    return control <= Control::Porc;
}

// The percentage is a plain number; the other setpoints are weights, kept by the module
// in display steps and shown scaled.
bool isWeight(Control control) {
    return isSetpoint(control) && control != Control::Porc;
}

Setpoint setpointOf(Control control) {
    return static_cast<Setpoint>(static_cast<int>(control));
}

std::optional<WriteRequest> requestFor(Control control, double value) {
    if (control == Control::Comando) return commandRequest(value);
    if (control == Control::Dato) return dataRequest(value);
    return setpointRequest(setpointOf(control), value);
}

// A setpoint as the panel shows it once read back.
QString shownSetpoint(Control control, const Setpoints& s, int decimals, const QLocale& locale) {
    switch (control) {
        case Control::BCero:
            return formatWeight(s.zeroBand, decimals, locale);
        case Control::Grueso:
            return formatWeight(s.coarse, decimals, locale);
        case Control::Fino:
            return formatWeight(s.fine, decimals, locale);
        case Control::Teor:
            return formatWeight(s.target, decimals, locale);
        case Control::Porc:
            return QString::number(s.percentage);
        default:
            return {};
    }
}

}  // namespace

QString controlName(Control control) {
    switch (control) {
        case Control::BCero:
            return QStringLiteral("B. Cero");
        case Control::Grueso:
            return QStringLiteral("Grueso");
        case Control::Fino:
            return QStringLiteral("Fino");
        case Control::Teor:
            return QStringLiteral("Teorico");
        case Control::Porc:
            return QStringLiteral("Porcent");
        case Control::Comando:
            return QStringLiteral("Comando");
        case Control::Dato:
            return QStringLiteral("Dato");
    }
    return {};
}

QString keyName(int index) {
    return index >= 0 && index < int(kKeyNames.size()) ? kKeyNames[size_t(index)] : QString();
}

EntryRequest entryRequest(const OperatorEntry& entry, const std::optional<Setpoints>& readBack,
                          int decimals, const QLocale& locale) {
    const NormalizedEntry normalized = normalizeEntry(entry.text, locale);
    const auto request = requestFor(entry.control, normalized.value);
    EntryRequest out;
    out.sendable = request.has_value();
    out.labelled = request.value_or(WriteRequest{});
    out.labelled.campo = controlName(entry.control);
    if (readBack && isSetpoint(entry.control))
        out.labelled.antes = shownSetpoint(entry.control, *readBack, decimals, locale);
    // Nothing goes out of an entry out of range: the record keeps what was typed, as the
    // box shows it.
    if (!request)
        out.labelled.valor = normalized.text;
    else if (isWeight(entry.control))
        out.labelled.valor =
            formatWeight(stepsWeight(requestValue(*request), decimals), decimals, locale);
    else
        out.labelled.valor = QString::number(requestValue(*request));
    return out;
}

std::optional<WriteRequest> keyPressRequest(int index) {
    auto request = keyRequest(index);
    if (!request) return std::nullopt;
    request->campo = keyName(index);
    request->valor = QChar(registerWord(request->writes.front()));
    return request;
}
