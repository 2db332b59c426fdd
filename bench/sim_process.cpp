#include "sim_process.h"

#include <QRegularExpression>

SimProcess::SimProcess(const QString& transport, int baud) {
    const bool tcp = transport == QLatin1String("tcp");
    const QByteArray given = qgetenv(tcp ? "VORMELQ_SIM_TCP" : "VORMELQ_SIM_PTY");
    if (!given.isEmpty()) {
        const QString address = QString::fromLocal8Bit(given);
        if (!tcp) {
            ptyPath_ = address;
            return;
        }
        const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
        host_ = address.left(colon);
        port_ = static_cast<quint16>(address.mid(colon + 1).toUInt());
        if (colon <= 0 || port_ == 0) error_ = QStringLiteral("bad VORMELQ_SIM_TCP: ") + address;
        return;
    }
    QStringList arguments{QStringLiteral("--baud"), QString::number(baud)};
    if (tcp) {
        arguments << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
    } else {
        dir_ = std::make_unique<QTemporaryDir>();
        arguments << QStringLiteral("--pty") << dir_->filePath(QStringLiteral("link"));
    }
    start(arguments);
}

SimProcess::~SimProcess() {
    if (!process_) return;
    process_->terminate();
    if (!process_->waitForFinished(5000)) process_->kill();
    process_->waitForFinished(5000);
}

void SimProcess::start(const QStringList& arguments) {
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(QStringLiteral(VORMELQ_SIM_PATH), arguments);
    if (!process_->waitForStarted(10000)) {
        error_ = QStringLiteral("cannot start ") + QStringLiteral(VORMELQ_SIM_PATH);
        return;
    }
    // The simulator prints one line once it serves.
    while (!process_->canReadLine()) {
        if (!process_->waitForReadyRead(10000)) {
            error_ = QStringLiteral("vormelq-sim did not report where it serves");
            return;
        }
    }
    const QString line = QString::fromLocal8Bit(process_->readLine()).trimmed();
    static const QRegularExpression listening(QStringLiteral("^listening on (.+):(\\d+)$"));
    static const QRegularExpression serving(QStringLiteral("^serving on (.+)$"));
    if (const auto m = listening.match(line); m.hasMatch()) {
        host_ = m.captured(1);
        port_ = static_cast<quint16>(m.captured(2).toUInt());
    } else if (const auto s = serving.match(line); s.hasMatch()) {
        ptyPath_ = s.captured(1);
    } else {
        error_ = QStringLiteral("unexpected line from vormelq-sim: ") + line;
    }
}
