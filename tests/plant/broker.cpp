#include "broker.h"

#include <pwd.h>
#include <unistd.h>

#include <QFile>
#include <QTcpServer>

#include "harness.h"

namespace {

// Started as root, mosquitto would become the user "mosquitto", who cannot read the
// test's private directory.
QString currentUser() {
    const passwd* entry = getpwuid(getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("root");
}

int freeLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

}  // namespace

MosquittoBroker::MosquittoBroker(const QString& listenerLines, const QString& bindAddress)
    : port_(freeLoopbackPort()) {
    QFile config(path(QStringLiteral("mosquitto.conf")));
    config.open(QIODevice::WriteOnly);
    // The log on standard error, which is not buffered: "running" shows when it is.
    config.write(QStringLiteral("user %5\npersistence true\npersistence_location %1/\n"
                                "log_dest stderr\nlistener %2 %3\n%4\n")
                     .arg(dir_.path())
                     .arg(port_)
                     .arg(bindAddress, listenerLines, currentUser())
                     .toUtf8());
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

MosquittoBroker::~MosquittoBroker() {
    stop();
}

bool MosquittoBroker::start() {
    process_.start(QStringLiteral("/usr/sbin/mosquitto"),
                   {QStringLiteral("-c"), path(QStringLiteral("mosquitto.conf"))});
    const qsizetype from = log_.size();
    return waitFor([&] {
               return log().indexOf(" running", from) >= 0 ||
                      process_.state() == QProcess::NotRunning;
           }) &&
           process_.state() == QProcess::Running;
}

QString MosquittoBroker::log() {
    log_ += process_.readAll();
    return QString::fromUtf8(log_);
}

void MosquittoBroker::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    process_.waitForFinished(30000);
}

Subscriber::Subscriber(int port, const QString& root, const QStringList& options) : root_(root) {
    process_.start(QStringLiteral("mosquitto_sub"),
                   QStringList{"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1", "-v",
                               "-t", root + "/#"} +
                       options);
    process_.waitForStarted();
}

Subscriber::~Subscriber() {
    process_.kill();
    process_.waitForFinished();
}

QStringList Subscriber::lines() {
    output_ += process_.readAllStandardOutput();
    return QString::fromUtf8(output_).split(u'\n', Qt::SkipEmptyParts);
}

QList<QByteArray> Subscriber::payloads(const QString& subtopic) {
    const QString prefix = root_ + u'/' + subtopic + u' ';
    QList<QByteArray> found;
    for (const QString& line : lines())
        if (line.startsWith(prefix)) found.append(line.mid(prefix.size()).toUtf8());
    return found;
}

QList<int> startBlackHoles(QProcess& holes) {
    holes.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(VORMELQ_SOURCE_DIR "/tests/plant/black_hole.py")});
    QList<QByteArray> words;
    if (!waitFor([&] {
            words = holes.readLine().trimmed().split(' ');
            return words.size() == 2;
        }))
        return {};
    return {words[0].toInt(), words[1].toInt()};
}

TestCertificates::TestCertificates() {
    const QString openssl = QStringLiteral("openssl");
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    auto caArgs = [&](const QString& name) {
        return QStringList{"req", "-x509"} + ec +
               QStringList{"-keyout", file(name + ".key"), "-out",  file(name + ".crt"),
                           "-subj",   "/CN=" + name,       "-days", "2"};
    };
    QFile extensions(file("server.ext"));
    extensions.open(QIODevice::WriteOnly);
    extensions.write("subjectAltName=IP:127.0.0.1\n");
    extensions.close();
    ok = run(openssl, caArgs("ca")) && run(openssl, caArgs("otra")) &&
         run(openssl, QStringList{"req"} + ec +
                          QStringList{"-keyout", file("server.key"), "-out", file("server.csr"),
                                      "-subj", "/CN=127.0.0.1"}) &&
         run(openssl, {"x509", "-req", "-in", file("server.csr"), "-CA", file("ca.crt"), "-CAkey",
                       file("ca.key"), "-CAcreateserial", "-out", file("server.crt"), "-days", "2",
                       "-extfile", file("server.ext")}) &&
         run(QStringLiteral("mosquitto_passwd"),
             {"-b", "-c", file("passwd"), "estacion", "secreta1"});
}
