#include "peers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <memory>

#include "frames.h"

namespace {

// Gap between the pieces of one reply, so they reach the station as separate arrivals.
constexpr int kPieceGapMs = 15;
constexpr int kPollMs = 20;

quint16 word(const QByteArray& frame, int offset) {
    return static_cast<quint16>((static_cast<quint8>(frame[offset]) << 8) |
                                static_cast<quint8>(frame[offset + 1]));
}

// Splits complete 8-byte requests off `input` and answers each.
template <typename Write>
bool serveRequests(QByteArray& input, const Responder& responder, std::atomic<int>& requests,
                   Write write) {
    while (input.size() >= 8) {
        const QByteArray request = input.left(8);
        input.remove(0, 8);
        ++requests;
        const PeerReply reply = responder(request);
        for (qsizetype i = 0; i < reply.pieces.size(); ++i) {
            if (i > 0) QThread::msleep(kPieceGapMs);
            write(reply.pieces[i]);
        }
        if (reply.closeAfter) return false;
    }
    return true;
}

}  // namespace

bool waitUntil(const std::function<bool()>& condition, int capMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.hasExpired(capMs)) return false;
        QThread::msleep(5);
    }
    return true;
}

QByteArray registerString(const QList<quint16>& values) {
    QByteArray bytes;
    for (quint16 v : values) {
        bytes.append(static_cast<char>(v & 0xFF));
        bytes.append(static_cast<char>(v >> 8));
    }
    return bytes;
}

QByteArray readReplyFor(int slave, const QList<quint16>& values) {
    QByteArray body;
    body.append(static_cast<char>(slave));
    body.append(char(modbus::kReadHoldingRegisters));
    body.append(static_cast<char>(2 * values.size()));
    for (quint16 v : values) {
        body.append(static_cast<char>(v >> 8));
        body.append(static_cast<char>(v & 0xFF));
    }
    return modbus::withCrc(body);
}

RegisterBank::RegisterBank() {
    for (int k = 0; k < 128; ++k) registers_[k] = static_cast<quint16>(0x1000 + k);
}

PeerReply RegisterBank::answer(const QByteArray& request) {
    if (!modbus::hasValidCrc(request)) return {};
    const int address = word(request, 2);
    std::lock_guard lock(mutex_);
    if (request[1] == char(modbus::kReadHoldingRegisters)) {
        const int count = word(request, 4);
        if (address + count > 128) return {{modbus::withCrc(request.left(1) + "\x83\x02")}};
        QList<quint16> values;
        for (int k = 0; k < count; ++k) values.append(registers_[address + k]);
        return {{readReplyFor(static_cast<quint8>(request[0]), values)}};
    }
    if (request[1] == char(modbus::kWriteSingleRegister) && address < 128) {
        registers_[address] = word(request, 4);
        return {{request}};
    }
    return {};
}

ScriptedTcpPeer::ScriptedTcpPeer(Responder responder, quint16 port)
    : responder_(std::move(responder)) {
    thread_.reset(QThread::create([this, port] { run(port); }));
    thread_->start();
    waitUntil([this] { return started_.load(); });
}

ScriptedTcpPeer::~ScriptedTcpPeer() {
    stop_ = true;
    thread_->wait();
}

void ScriptedTcpPeer::sendRaw(const QByteArray& bytes) {
    std::lock_guard lock(mutex_);
    raw_ += bytes;
}

void ScriptedTcpPeer::dropClient() {
    std::lock_guard lock(mutex_);
    drop_ = true;
}

void ScriptedTcpPeer::run(quint16 port) {
    QTcpServer server;
    if (server.listen(QHostAddress::LocalHost, port)) port_ = server.serverPort();
    started_ = true;
    std::unique_ptr<QTcpSocket> client;
    QByteArray input;
    auto write = [&client](const QByteArray& bytes) {
        client->write(bytes);
        while (client->bytesToWrite() > 0 && client->waitForBytesWritten(kPollMs)) {
        }
    };
    auto hangUp = [&] {
        client->disconnectFromHost();
        if (client->state() != QAbstractSocket::UnconnectedState)
            client->waitForDisconnected(kPollMs);
        client.reset();
        input.clear();
        hasClient_ = false;
    };
    while (!stop_ && server.isListening()) {
        if (!client) {
            if (server.waitForNewConnection(kPollMs)) {
                client.reset(server.nextPendingConnection());
                client->setParent(nullptr);
                ++connections_;
                hasClient_ = true;
            }
            continue;
        }
        QByteArray raw;
        bool drop = false;
        {
            std::lock_guard lock(mutex_);
            raw = std::exchange(raw_, {});
            drop = std::exchange(drop_, false);
        }
        if (!raw.isEmpty()) {
            write(raw);
            ++rawSent_;
        }
        if (drop) {
            hangUp();
            continue;
        }
        if (flood_) {
            if (client->bytesToWrite() == 0) client->write(QByteArray(1 << 16, '\0'));
            client->waitForBytesWritten(kPollMs);
        }
        if (client->bytesAvailable() > 0 || client->waitForReadyRead(flood_ ? 0 : kPollMs))
            input += client->readAll();
        if (!serveRequests(input, responder_, requests_, write)) {
            hangUp();
            continue;
        }
        if (client->state() != QAbstractSocket::ConnectedState) {
            client.reset();
            input.clear();
            hasClient_ = false;
        }
    }
}

Babbler::Babbler(const QString& port, QByteArray chunk, int gapMs) {
    thread_.reset(QThread::create([this, port, chunk, gapMs] {
        QSerialPort line(port);
        if (!line.open(QIODevice::ReadWrite)) return;
        while (!stop_) {
            // Flooding, the port always has more to write than the line takes.
            while (line.bytesToWrite() < (gapMs > 0 ? 1 : 4 * chunk.size())) line.write(chunk);
            line.waitForBytesWritten(kPollMs);
            line.clear(QSerialPort::Input);  // what the station sends goes unheard
            if (gapMs > 0) QThread::msleep(static_cast<unsigned long>(gapMs));
        }
    }));
    thread_->start();
}

Babbler::~Babbler() {
    stop_ = true;
    thread_->wait();
}

PtyPair::PtyPair() {
    socat_.setStandardErrorFile(QProcess::nullDevice());
}

PtyPair::~PtyPair() {
    stop();
}

bool PtyPair::start() {
    stop();
    QFile::remove(a());
    QFile::remove(b());
    socat_.start(QStringLiteral("socat"), {QStringLiteral("-d"), QStringLiteral("-d"),
                                           QStringLiteral("pty,raw,echo=0,link=%1").arg(a()),
                                           QStringLiteral("pty,raw,echo=0,link=%1").arg(b())});
    if (!socat_.waitForStarted()) return false;
    return waitUntil([this] { return QFile::exists(a()) && QFile::exists(b()); });
}

void PtyPair::stop() {
    if (socat_.state() == QProcess::NotRunning) return;
    socat_.terminate();
    if (!socat_.waitForFinished(5000)) {
        socat_.kill();
        socat_.waitForFinished();
    }
}
