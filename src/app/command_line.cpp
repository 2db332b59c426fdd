#include "command_line.h"

#include <QDir>
#include <cstdio>

QString usageText() {
    return QStringLiteral(
        "Uso: vormelq [--help | --version | --servicio]\n"
        "     vormelq --plot Peso.csv -o peso.png [--from \"AAAA-MM-DD HH:MM\"]\n"
        "             [--to \"AAAA-MM-DD HH:MM\"] [--size 1600x900]\n"
        "     vormelq --verify Cambios.csv\n"
        "     vormelq --cycles Peso.csv --zero-band Z --fine F [--coarse C]\n"
        "             [--target T [--tolerance P]] [-o ciclos.csv]\n"
        "     vormelq --informe [CARPETA] [--desde \"AAAA-MM-DD HH:MM\"]\n"
        "             [--hasta \"AAAA-MM-DD HH:MM\" | --turno N] [-o informe.pdf]\n"
        "             [--csv resumen.csv]\n");
}

namespace {

QString versionText(const char* program) {
    return QStringLiteral("%1 " VORMELQ_VERSION "\n").arg(QLatin1String(program));
}

QString helpText(const QString& workingDir) {
    const QString dir = QDir::toNativeSeparators(workingDir);
    return usageText() +
           QStringLiteral(
               "\n"
               "Puesto de operador Vormel-Q para un módulo de pesaje y dosificación: lee el\n"
               "módulo por Modbus RTU (puerto serie o TCP), muestra los pesos, las consignas\n"
               "y el panel frontal del módulo, y envía consignas, comandos y teclas.\n"
               "\n"
               "Al arrancar lee la configuración de modbus.ini en el directorio actual\n"
               "  %1\n"
               "y añade cada lectura de peso a Peso.csv en ese mismo directorio. Sin\n"
               "modbus.ini usa el puerto serie 2 a 9600 baudios. Las claves están en\n"
               "'man vormelq'.\n"
               "\n"
               "  -h, --help     muestra esta ayuda y termina\n"
               "  -v, --version  muestra la versión y termina\n"
               "  --servicio     trabaja sin ventana ni pantalla (un servicio de systemd):\n"
               "                 los mismos registros y mensajes MQTT; cada cambio de\n"
               "                 estado, una línea en la salida de errores\n"
               "  --plot FICHERO -o IMAGEN\n"
               "                 dibuja las lecturas de un Peso.csv en IMAGEN (.png o .svg),\n"
               "                 sin ventana ni módulo\n"
               "  --verify FICHERO\n"
               "                 comprueba que la cadena de un Cambios.csv está completa\n"
               "                 (0) o dice la primera línea que la rompe (1); también 1\n"
               "                 si no puede leerlo\n"
               "  --cycles FICHERO --zero-band Z --fine F\n"
               "                 escribe una línea de Dosificaciones.csv por cada ciclo\n"
               "                 de dosificación de un Peso.csv, sin ventana ni módulo\n"
               "  --informe [CARPETA]\n"
               "                 escribe en un PDF el informe del último turno terminado\n"
               "                 ([Turnos] de modbus.ini; sin turnos, las últimas 24 horas)\n"
               "                 con los registros de cada módulo de CARPETA (la actual\n"
               "                 si no se da); --desde, --hasta o --turno N eligen otro\n"
               "                 periodo, --csv escribe además la tabla resumen\n"
               "\n"
               "-o también se escribe --output.\n")
               .arg(dir);
}

const QString kServiceUsage = QStringLiteral("Uso: vormelq-servicio [--help | --version]\n");

QString serviceHelpText(const QString& workingDir) {
    return kServiceUsage +
           QStringLiteral(
               "\n"
               "La estación Vormel-Q sin ventana ni pantalla, como la arranca systemd\n"
               "(vormelq@LINEA.service): lee modbus.ini en el directorio actual\n"
               "  %1\n"
               "sondea cada módulo, escribe allí sus registros y la cola del servidor\n"
               "MQTT, y dice cada cambio de estado en una línea de la salida de\n"
               "errores. Las claves están en 'man vormelq-servicio'.\n"
               "\n"
               "  -h, --help     muestra esta ayuda y termina\n"
               "  -v, --version  muestra la versión y termina\n")
               .arg(QDir::toNativeSeparators(workingDir));
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments, const QString& workingDir) {
    const QStringList args = arguments.mid(1);
    if (args.isEmpty()) return {};
    const QString& first = args.front();
    if (args.size() == 1 && (first == u"--help" || first == u"-h"))
        return {CommandLine::Action::Print, helpText(workingDir), 0};
    if (args.size() == 1 && (first == u"--version" || first == u"-v"))
        return {CommandLine::Action::Print, versionText("vormelq"), 0};
    if (args.size() == 1 && first == u"--servicio") return {CommandLine::Action::Serve, {}, 0};
    return {
        CommandLine::Action::Refuse,
        QStringLiteral("vormelq: argumentos no admitidos: %1\n").arg(args.join(u' ')) + usageText(),
        kUsageError};
}

CommandLine parseServiceCommandLine(const QStringList& arguments, const QString& workingDir) {
    const QStringList args = arguments.mid(1);
    if (args.isEmpty()) return {CommandLine::Action::Serve, {}, 0};
    const QString& first = args.front();
    if (args.size() == 1 && (first == u"--help" || first == u"-h"))
        return {CommandLine::Action::Print, serviceHelpText(workingDir), 0};
    if (args.size() == 1 && (first == u"--version" || first == u"-v"))
        return {CommandLine::Action::Print, versionText("vormelq-servicio"), 0};
    return {CommandLine::Action::Refuse,
            QStringLiteral("vormelq-servicio: argumentos no admitidos: %1\n").arg(args.join(u' ')) +
                kServiceUsage,
            kUsageError};
}

int answer(const CommandLine& command) {
    std::FILE* out = command.action == CommandLine::Action::Print ? stdout : stderr;
    std::fputs(command.text.toLocal8Bit().constData(), out);
    return command.exitCode;
}
