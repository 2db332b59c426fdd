#include "command_options.h"

namespace {

const CommandOption* findOption(const QString& arg, const QList<CommandOption>& accepted) {
    for (const CommandOption& option : accepted)
        if (option.names.contains(arg)) return &option;
    return nullptr;
}

}  // namespace

std::variant<QList<GivenOption>, UsageError> readOptions(const QStringList& args,
                                                         const QList<CommandOption>& accepted) {
    QList<GivenOption> given;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const CommandOption* option = findOption(arg, accepted);
        if (!option) return UsageError{QStringLiteral("opción desconocida: %1").arg(arg)};
        if (!option->takesValue) {
            given.append({option->names.front(), {}});
            continue;
        }
        if (i + 1 >= args.size())
            return UsageError{QStringLiteral("falta el valor de %1").arg(arg)};
        given.append({option->names.front(), args[++i]});
    }
    return given;
}

std::optional<QDateTime> parseCommandTime(const QString& text) {
    for (const char* format : {"yyyy-MM-dd HH:mm", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd"}) {
        const QDateTime when = QDateTime::fromString(text.trimmed(), QString::fromLatin1(format));
        if (when.isValid()) return when;
    }
    return std::nullopt;
}

UsageError invalidTime(const QString& option, const QString& value) {
    return {QStringLiteral("fecha no válida para %1: \"%2\" (se espera AAAA-MM-DD HH:MM)")
                .arg(option, value)};
}

UsageError invalidValue(const QString& option, const QString& value, const QString& expected) {
    return {QStringLiteral("valor no válido para %1: \"%2\" (se espera %3)")
                .arg(option, value, expected)};
}

QString cannotRead(const QString& path, const QString& reason) {
    return QStringLiteral("no se puede leer %1: %2").arg(path, reason);
}

QString cannotWrite(const QString& path, const QString& reason) {
    return QStringLiteral("no se puede escribir %1: %2").arg(path, reason);
}
