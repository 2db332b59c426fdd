#include "transports.h"

#include <QFile>
#include <QHostAddress>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#ifdef __linux__
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace sim {

QString serveTcp(const TransportHooks& hooks, const QString& host, int port, QString* error) {
    auto* server = new QTcpServer(hooks.parent);
    QHostAddress address;
    if (!address.setAddress(host)) {
        *error = QStringLiteral("not an address: %1").arg(host);
        return {};
    }
    if (!server->listen(address, static_cast<quint16>(port))) {
        *error = server->errorString();
        return {};
    }
    QObject::connect(server, &QTcpServer::newConnection, server, [hooks, server] {
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            hooks.connected();
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            // Out at once, not at the event loop's next turn: the reply leaves when due.
            Session* s = hooks.newSession(
                [socket](const QByteArray& b) {
                    socket->write(b);
                    socket->flush();
                },
                [socket] { socket->disconnectFromHost(); }, true, socket);
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, s,
                             [hooks, socket, s] { hooks.receive(*s, socket->readAll()); });
        }
    });
    return QStringLiteral("listening on %1:%2")
        .arg(server->serverAddress().toString())
        .arg(server->serverPort());
}

QString serveSerial(const TransportHooks& hooks, const QString& device, int baud, QString* error) {
    auto* port = new QSerialPort(device, hooks.parent);
    if (!port->open(QIODevice::ReadWrite)) {
        *error = port->errorString();
        return {};
    }
    port->setBaudRate(baud);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    Session* s =
        hooks.newSession([port](const QByteArray& b) { port->write(b); }, [] {}, false, port);
    QObject::connect(port, &QSerialPort::readyRead, s,
                     [hooks, port, s] { hooks.receive(*s, port->readAll()); });
    return QStringLiteral("serving on %1").arg(device);
}

#ifdef __linux__
namespace {

// Both ends of the pty and the link to it, closed and removed together.
class Pty : public QObject {
public:
    Pty(QObject* parent, QString linkPath) : QObject(parent), linkPath_(std::move(linkPath)) {}
    ~Pty() override {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
        QFile::remove(linkPath_);
    }
    int master = -1;
    int slave = -1;

private:
    QString linkPath_;
};

}  // namespace

QString servePty(const TransportHooks& hooks, const QString& linkPath, QString* error) {
    auto* pty = new Pty(hooks.parent, linkPath);
    if (::openpty(&pty->master, &pty->slave, nullptr, nullptr, nullptr) != 0) {
        *error = QStringLiteral("openpty failed");
        return {};
    }
    // Raw line, no echo. Keeping our own handle on the slave side means the master
    // does not see a hang-up each time a master program closes the device.
    termios tio{};
    ::tcgetattr(pty->slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(pty->slave, TCSANOW, &tio);
    ::fcntl(pty->master, F_SETFL, ::fcntl(pty->master, F_GETFL) | O_NONBLOCK);
    const QString device = QString::fromLocal8Bit(::ttyname(pty->slave));
    QFile::remove(linkPath);
    if (!QFile::link(device, linkPath)) {
        *error = QStringLiteral("cannot create the link %1").arg(linkPath);
        return {};
    }
    const int fd = pty->master;
    Session* s = hooks.newSession(
        [fd](const QByteArray& b) {
            if (::write(fd, b.constData(), static_cast<size_t>(b.size())) < 0) {
                // A full pty buffer loses the reply, as a noisy line would.
            }
        },
        [] {}, false, hooks.parent);
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, pty);
    QObject::connect(notifier, &QSocketNotifier::activated, s, [hooks, fd, s] {
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return;
        hooks.receive(*s, QByteArray(buffer, static_cast<int>(n)));
    });
    return QStringLiteral("serving on %1").arg(linkPath);
}
#else
QString servePty(const TransportHooks&, const QString&, QString* error) {
    *error = QStringLiteral("--pty is only available on Linux");
    return {};
}
#endif

}  // namespace sim
