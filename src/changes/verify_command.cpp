#include "verify_command.h"

#include <QFile>
#include <cstdio>

#include "change_line.h"

namespace {

constexpr int kUsageError = 2;

void print(std::FILE* stream, const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

}  // namespace

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

std::optional<int> runVerifyCommand(const QStringList& args) {
    if (!args.contains(QLatin1String("--verify"))) return std::nullopt;
    if (args.size() != 2 || args[0] != QLatin1String("--verify")) {
        print(stderr, QStringLiteral("vormelq: uso: vormelq --verify Cambios.csv"));
        return kUsageError;
    }
    QFile file(args[1]);
    if (!file.open(QIODevice::ReadOnly)) {
        print(stderr,
              QStringLiteral("vormelq: no se puede leer %1: %2").arg(args[1], file.errorString()));
        return kUsageError;
    }
    const ChainCheck check = checkChain(file);
    if (check.firstBroken == 0) {
        print(stdout,
              QStringLiteral("%1: cadena completa, %2 líneas").arg(args[1]).arg(check.lines));
        return 0;
    }
    print(stdout, QStringLiteral("%1: la cadena se rompe en la línea %2: la línea se cambió o "
                                 "falta la anterior")
                      .arg(args[1])
                      .arg(check.firstBroken));
    return 1;
}
