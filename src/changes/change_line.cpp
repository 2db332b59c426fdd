#include "change_line.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSysInfo>

#include "weight_log.h"

namespace {

constexpr char kSeparator = ';';
constexpr int kFields = 10;

// User and computer names are free text: a separator or a line end in one would shift
// every field after it.
QString fieldText(QString text) {
    for (QChar& c : text)
        if (c == QLatin1Char(kSeparator) || c == u'\r' || c == u'\n') c = u' ';
    return text;
}

}  // namespace

SessionOperator thisSession() {
    // The login sets USERNAME on Windows, USER or LOGNAME elsewhere. A station started
    // outside a login session (a service) may have none: its home folder is named for
    // the account it runs as.
    for (const char* name : {"USERNAME", "USER", "LOGNAME"}) {
        const QString user = qEnvironmentVariable(name);
        if (!user.isEmpty()) return {user, QSysInfo::machineHostName()};
    }
    return {QDir::home().dirName(), QSysInfo::machineHostName()};
}

QByteArray chainLink(const QByteArray& previousChain, const QByteArray& body) {
    return QCryptographicHash::hash(previousChain + kSeparator + body, QCryptographicHash::Sha256)
        .toHex()
        .left(16);
}

QByteArray chainField(const QByteArray& line) {
    return line.mid(line.lastIndexOf(kSeparator) + 1);
}

QByteArray changeLineText(const ChangeLine& line, const QByteArray& previousChain) {
    const QStringList fields{line.fecha, line.hora,  line.usuario,   line.equipo,   line.campo,
                             line.antes, line.valor, line.registros, line.resultado};
    QStringList clean;
    for (const QString& field : fields) clean << fieldText(field);
    const QByteArray body = clean.join(QLatin1Char(kSeparator)).toLocal8Bit();
    return body + kSeparator + chainLink(previousChain, body);
}

std::optional<ChangeLine> readChangeLine(const QByteArray& text) {
    const QStringList f = QString::fromLocal8Bit(text).split(QLatin1Char(kSeparator));
    if (f.size() != kFields) return std::nullopt;
    return ChangeLine{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9].toLatin1(), {}};
}

QString registersText(const QList<RegisterWrite>& writes) {
    QStringList parts;
    for (const RegisterWrite& write : writes)
        parts << QStringLiteral("%1=%2").arg(write.address).arg(registerWord(write));
    return parts.join(QLatin1Char(' '));
}

QString resultText(WriteResult result, int exceptionCode) {
    switch (result) {
        case WriteResult::Enviado:
            return QStringLiteral("Enviado");
        case WriteResult::Error:
            return QStringLiteral("Error");
        case WriteResult::Rechazado:
            return QStringLiteral("Rechazado (%1)").arg(exceptionCode);
        case WriteResult::Descartado:
            return QStringLiteral("Descartado");
        case WriteResult::Anotado:
            return QStringLiteral("Anotado");
        case WriteResult::FueraDeRango:
            break;
    }
    return QStringLiteral("Fuera de rango");
}

ChangeLine changeOf(const WriteOutcome& outcome, const QDateTime& when, const SessionOperator& who,
                    const QLocale& locale) {
    const WriteRequest& request = outcome.request;
    return {logDate(when, locale),
            logTime(when, locale),
            who.usuario,
            who.equipo,
            request.campo,
            request.antes,
            request.valor,
            registersText(outcome.attempted),
            resultText(outcome.result, outcome.exceptionCode),
            {},
            when};
}
