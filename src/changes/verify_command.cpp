#include "verify_command.h"

#include <QFile>
#include <cstdio>

#include "change_line.h"
#include "command_options.h"
#include "console.h"

ChainCheck checkChain(QIODevice& record) {
    ChainCheck check;
    QByteArray previous = kChainStart;
    while (!record.atEnd()) {
        QByteArray line = record.readLine();
        if (line.endsWith('\n')) line.chop(1);
        if (line.endsWith('\r')) line.chop(1);
        ++check.lines;
        const QByteArray chain = chainField(line);
        const QByteArray body = line.left(line.size() - chain.size() - 1);
        // An edited line no longer matches its own link; a deleted one leaves the next
        // line linked to a predecessor that is not there.
        const bool linked = readChangeLine(line) && chain == chainLink(previous, body);
        if (!linked && check.firstBroken == 0) check.firstBroken = check.lines;
        previous = chain;
    }
    return check;
}

std::variant<QString, UsageError> parseVerifyArguments(const QStringList& args) {
    const auto given = readOptions(args, {{{"--verify"}}});
    if (const auto* usage = std::get_if<UsageError>(&given)) return *usage;
    return std::get<QList<GivenOption>>(given).constLast().value;
}

QString chainVerdict(const QString& path, const ChainCheck& check) {
    return check.firstBroken == 0
               ? QStringLiteral("%1: cadena completa, %2 líneas").arg(path).arg(check.lines)
               : QStringLiteral(
                     "%1: la cadena se rompe en la línea %2: la línea se cambió o falta "
                     "la anterior")
                     .arg(path)
                     .arg(check.firstBroken);
}

int runVerify(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        tellUser(cannotRead(path, file.errorString()));
        return kCommandFailed;
    }
    const ChainCheck check = checkChain(file);
    const QString verdict = chainVerdict(path, check);
    std::printf("%s\n", qUtf8Printable(verdict));
    return check.firstBroken == 0 ? 0 : 1;
}
