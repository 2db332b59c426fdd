#include "harness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <csignal>

QString simPath() {
    return QStringLiteral(VORMELQ_BINARY_DIR "/tools/sim/vormelq-sim");
}
QString stationPath() {
    return QStringLiteral(VORMELQ_BINARY_DIR "/src/app/vormelq");
}
QString servicePath() {
    return QStringLiteral(VORMELQ_BINARY_DIR "/src/service/vormelq-servicio");
}

CommandRun runCommand(const QString& program, const QStringList& args, const QString& dir,
                      const QStringList& environment, int ms) {
    QProcess p;
    p.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    for (const QString& entry : environment)
        env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool ended = p.waitForFinished(ms);
    if (!ended) {
        p.kill();
        p.waitForFinished(5000);
    }
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

static void writeSection(const QString& dir, const QString& section,
                         const QMap<QString, QString>& keys, QIODevice::OpenMode mode) {
    QFile file(QDir(dir).filePath(QStringLiteral("modbus.ini")));
    file.open(QIODevice::WriteOnly | mode);
    QByteArray text = ('[' + section + "]\r\n").toUtf8();
    for (auto it = keys.begin(); it != keys.end(); ++it)
        text += (it.key() + QLatin1Char('=') + it.value() + QLatin1String(";\r\n")).toUtf8();
    file.write(text);
}

void writeIni(const QString& dir, const QMap<QString, QString>& keys) {
    writeSection(dir, QStringLiteral("Global"), keys, QIODevice::Truncate);
}

void addIniSection(const QString& dir, const QString& section, const QMap<QString, QString>& keys) {
    writeSection(dir, section, keys, QIODevice::Append);
}

// Slave 1 polled every 100 ms, over the link `link` names.
static QMap<QString, QString> withLink(QMap<QString, QString> link) {
    link.insert(QStringLiteral("ID_1"), QStringLiteral("1"));
    link.insert(QStringLiteral("Timer"), QStringLiteral("100"));
    return link;
}
QMap<QString, QString> tcpIni(int port) {
    return withLink(
        {{"Comunicacion_1", "1"}, {"Host_1", "127.0.0.1"}, {"Port_1", QString::number(port)}});
}
QMap<QString, QString> serialIni(const QString& device, const QString& baud) {
    return withLink({{"Comunicacion_1", "0"}, {"Comm_1", device}, {"Baudios_1", baud}});
}

int startPymodbus(QProcess& server, const QStringList& args, const QString& script) {
    server.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(VORMELQ_SOURCE_DIR "/") + script} + args);
    if (!server.waitForStarted(10000)) return 0;
    QByteArray line;
    waitFor([&] {
        server.waitForReadyRead(20);
        line += server.readLine();
        return line.endsWith('\n') || server.state() == QProcess::NotRunning;
    });
    return line.trimmed().toInt();
}

CurrentDir::CurrentDir(const QString& dir) : previous_(QDir::currentPath()) {
    QDir::setCurrent(dir);
}
CurrentDir::~CurrentDir() {
    QDir::setCurrent(previous_);
}

QStringList logLines(const QString& dir, const QString& name) {
    QFile file(QDir(dir).filePath(name));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

namespace {

void endProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) process.kill();
    process.waitForFinished(5000);
}

}  // namespace

SimProcess::~SimProcess() {
    stop();
}

QString SimProcess::readStdout() {
    output_ += QString::fromUtf8(process_.readAllStandardOutput());
    return output_;
}

bool SimProcess::start(const QStringList& args) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(simPath(), args);
    if (!process_.waitForStarted(10000)) return false;
    static const QRegularExpression listening(QStringLiteral("listening on (\\S+):(\\d+)"));
    static const QRegularExpression serving(QStringLiteral("serving on (\\S+)"));
    return waitFor([&] {
               process_.waitForReadyRead(20);
               const QString out = readStdout();
               if (auto m = listening.match(out); m.hasMatch()) {
                   host_ = m.captured(1);
                   port_ = m.captured(2).toInt();
                   return true;
               }
               if (auto m = serving.match(out); m.hasMatch()) {
                   path_ = m.captured(1);
                   return true;
               }
               return process_.state() == QProcess::NotRunning;
           }) &&
           process_.state() == QProcess::Running;
}

QMap<QString, qint64> SimProcess::counters() {
    const qsizetype before = readStdout().size();
    ::kill(static_cast<pid_t>(process_.processId()), SIGUSR1);
    static const QRegularExpression line(QStringLiteral("counters:([^\\n]*)\\n"));
    QMap<QString, qint64> result;
    waitFor([&] {
        process_.waitForReadyRead(20);
        auto m = line.match(readStdout(), before);
        if (!m.hasMatch()) return false;
        for (const QString& pair : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const auto kv = pair.split(QLatin1Char('='));
            if (kv.size() == 2) result.insert(kv[0], kv[1].toLongLong());
        }
        return true;
    });
    return result;
}

void SimProcess::toggleSilent() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGUSR2);
}

void SimProcess::stop() {
    endProcess(process_);
}

StationProcess::StationProcess() = default;

StationProcess::~StationProcess() {
    stop();
}

bool StationProcess::start(const QStringList& environment, const QStringList& arguments,
                           const QString& program) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& entry : environment) {
        if (entry.contains(u'='))
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        else
            env.remove(entry);
    }
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(dir_.path());
    process_.start(program, arguments);
    return process_.waitForStarted(10000);
}

QString StationProcess::stderrText() {
    return QString::fromUtf8(process_.readAllStandardError());
}

void StationProcess::stop() {
    endProcess(process_);
}
