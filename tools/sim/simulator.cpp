#include "simulator.h"

#include <QFile>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <limits>
#include <thread>

#include "frames.h"

#ifdef __linux__
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace sim {

// One conversation with a master: a TCP connection, or the serial line.
class Session : public QObject {
public:
    Session(QObject* owner, std::function<void(const QByteArray&)> write,
            std::function<void()> close, bool canClose)
        : QObject(owner), write(std::move(write)), close(std::move(close)), canClose(canClose) {
        silence.setSingleShot(true);
        staleTimer.setSingleShot(true);
    }

    std::function<void(const QByteArray&)> write;
    std::function<void()> close;
    bool canClose;
    bool closing = false;
    FrameAssembler frames;
    QTimer silence;
    quint64 requests = 0;
    qint64 partialSinceUs = 0;
    // Unasked junk waits for the line to be quiet: a request that comes first cancels it,
    // so junk never lands on a master that is still reading a reply.
    QTimer staleTimer;
    qint64 staleSentUs = std::numeric_limits<qint64>::min() / 2;
};

namespace {
// Junk sent this shortly before a request arrived may still have been in flight when
// the master sent the request, so it can land in that request's reply.
constexpr qint64 kStaleInFlightUs = 1000;
}  // namespace

namespace {

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' '));
}

const char* faultName(Fault f) {
    switch (f) {
        case Fault::None:
            return "none";
        case Fault::Drop:
            return "drop";
        case Fault::Exception:
            return "exception";
        case Fault::Late:
            return "late";
        case Fault::BadCrc:
            return "bad-crc";
        case Fault::ExtraByte:
            return "extra-byte";
        case Fault::Split:
            return "split";
    }
    return "?";
}

}  // namespace

Simulator::Simulator(const SimOptions& options, QObject* parent)
    : QObject(parent),
      options_(options),
      model_(options.decimals, options.randomStart),
      plan_(options.faults, options.randomStart) {
    model_.setAutoCycle(options.autoCycle);
    clock_.start();
}

Simulator::~Simulator() {
#ifdef __linux__
    if (ptyMaster_ >= 0) ::close(ptyMaster_);
    if (ptySlave_ >= 0) ::close(ptySlave_);
    if (!options_.pty.isEmpty()) QFile::remove(options_.pty);
#endif
}

bool Simulator::start(QString* error) {
    if (options_.statsIntervalMs > 0) {
        auto* stats = new QTimer(this);
        connect(stats, &QTimer::timeout, this, [this] {
            std::printf("%s\n", qPrintable(countersLine()));
            std::fflush(stdout);
        });
        stats->start(options_.statsIntervalMs);
    }
    if (!options_.pty.isEmpty()) return startPty(error);
    if (!options_.serial.isEmpty()) return startSerial(error);
    return startTcp(error);
}

Session* Simulator::newSession(std::function<void(const QByteArray&)> write,
                               std::function<void()> close, bool canClose, QObject* owner) {
    auto* s = new Session(owner, std::move(write), std::move(close), canClose);
    connect(&s->silence, &QTimer::timeout, s, [this, s] {
        const qint64 before = s->frames.droppedBytes();
        s->frames.dropPartial();
        counters_.garbageBytes += static_cast<quint64>(s->frames.droppedBytes() - before);
    });
    return s;
}

void Simulator::receive(Session& s, const QByteArray& bytes) {
    if (!s.frames.hasPartial()) s.partialSinceUs = nowUs();
    s.frames.append(bytes);
    while (auto frame = s.frames.next()) handleFrame(s, *frame, s.partialSinceUs);
    if (s.frames.hasPartial())
        s.silence.start(silenceMs(lineBaud()));
    else
        s.silence.stop();
}

bool Simulator::startTcp(QString* error) {
    server_ = new QTcpServer(this);
    QHostAddress address;
    if (!address.setAddress(options_.host)) {
        *error = QStringLiteral("not an address: %1").arg(options_.host);
        return false;
    }
    if (!server_->listen(address, static_cast<quint16>(options_.port))) {
        *error = server_->errorString();
        return false;
    }
    connect(server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            ++counters_.connections;
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            Session* s = newSession([socket](const QByteArray& b) { socket->write(b); },
                                    [socket] { socket->disconnectFromHost(); }, true, socket);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, s,
                    [this, socket, s] { receive(*s, socket->readAll()); });
        }
    });
    servingLine_ = QStringLiteral("listening on %1:%2")
                       .arg(server_->serverAddress().toString())
                       .arg(server_->serverPort());
    return true;
}

bool Simulator::startSerial(QString* error) {
    serialPort_ = new QSerialPort(options_.serial, this);
    if (!serialPort_->open(QIODevice::ReadWrite)) {
        *error = serialPort_->errorString();
        return false;
    }
    serialPort_->setBaudRate(lineBaud());
    serialPort_->setDataBits(QSerialPort::Data8);
    serialPort_->setParity(QSerialPort::NoParity);
    serialPort_->setStopBits(QSerialPort::OneStop);
    serialPort_->setFlowControl(QSerialPort::NoFlowControl);
    QSerialPort* port = serialPort_;
    Session* s = newSession([port](const QByteArray& b) { port->write(b); }, [] {}, false, port);
    connect(port, &QSerialPort::readyRead, s, [this, port, s] { receive(*s, port->readAll()); });
    servingLine_ = QStringLiteral("serving on %1").arg(options_.serial);
    return true;
}

bool Simulator::startPty(QString* error) {
#ifdef __linux__
    if (::openpty(&ptyMaster_, &ptySlave_, nullptr, nullptr, nullptr) != 0) {
        *error = QStringLiteral("openpty failed");
        return false;
    }
    // Raw line, no echo. Keeping our own handle on the slave side means the master
    // does not see a hang-up each time a master program closes the device.
    termios tio{};
    ::tcgetattr(ptySlave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(ptySlave_, TCSANOW, &tio);
    ::fcntl(ptyMaster_, F_SETFL, ::fcntl(ptyMaster_, F_GETFL) | O_NONBLOCK);
    const QString device = QString::fromLocal8Bit(::ttyname(ptySlave_));
    QFile::remove(options_.pty);
    if (!QFile::link(device, options_.pty)) {
        *error = QStringLiteral("cannot create the link %1").arg(options_.pty);
        return false;
    }
    const int fd = ptyMaster_;
    Session* s = newSession(
        [fd](const QByteArray& b) {
            if (::write(fd, b.constData(), static_cast<size_t>(b.size())) < 0) {
                // A full pty buffer loses the reply, as a noisy line would.
            }
        },
        [] {}, false, this);
    ptyNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(ptyNotifier_, &QSocketNotifier::activated, s, [this, fd, s] {
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return;
        receive(*s, QByteArray(buffer, static_cast<int>(n)));
    });
    servingLine_ = QStringLiteral("serving on %1").arg(options_.pty);
    return true;
#else
    *error = QStringLiteral("--pty is only available on Linux");
    return false;
#endif
}

void Simulator::advanceModel() {
    const qint64 now = clock_.elapsed();
    model_.advance(now - modelMs_);
    modelMs_ = now;
}

void Simulator::logRequest(const QByteArray& frame, const QByteArray& reply,
                           const char* what) const {
    if (!options_.verbose) return;
    std::fprintf(stderr, "rx [%s] tx [%s] %s\n", qPrintable(hex(frame)), qPrintable(hex(reply)),
                 what);
    std::fflush(stderr);
}

void Simulator::handleFrame(Session& s, const QByteArray& frame, qint64 arrivedUs) {
    advanceModel();
    if (!addressedTo(static_cast<quint8>(frame[0]), options_.slave)) {
        ++counters_.ignored;
        logRequest(frame, {}, "other slave");
        return;
    }
    if (s.closing) return;
    s.staleTimer.stop();
    ++counters_.requests;
    ++s.requests;
    const quint64 n = counters_.requests;
    if (options_.silent) {
        ++counters_.faultsSilent;
        logRequest(frame, {}, "silent");
        afterRequest(s, n, false);
        return;
    }
    const Fault fault = plan_.faultFor(n);
    if (fault == Fault::Drop) {
        counters_.countFault(fault);
        logRequest(frame, {}, "fault drop");
        afterRequest(s, n, false);
        return;
    }
    Answer a;
    if (fault == Fault::Exception)
        a = {exceptionReply(static_cast<quint8>(frame[0]), static_cast<quint8>(frame[1]),
                            kDeviceFailure),
             RequestKind::Refused};
    else
        a = answer(model_, frame, options_.slave);

    QList<QByteArray> pieces{a.reply};
    if (fault == Fault::BadCrc) pieces = {withBadCrc(a.reply)};
    if (fault == Fault::ExtraByte) pieces = {withExtraByte(a.reply)};
    if (fault == Fault::Split) pieces = plan_.pieces(a.reply);

    int delayMs = 0;
    qint64 dueUs = 0;
    if (options_.baud > 0 && serialPort_ == nullptr) {
        const int gaps = ptyMaster_ >= 0 ? 1 : 2;
        dueUs = arrivedUs + wireTimeUs(static_cast<int>(frame.size()),
                                       static_cast<int>(a.reply.size()), options_.baud, gaps);
        // Timers only count whole milliseconds: wake up to a millisecond early and sleep
        // the rest, so fast lines are emulated to the microsecond.
        delayMs = static_cast<int>(qMax<qint64>(0, (dueUs - nowUs()) / 1000 - 1));
    }
    if (fault == Fault::Late) delayMs = plan_.options().lateMs;
    logRequest(frame, pieces.join(), faultName(fault));

    const bool intact = fault == Fault::None || fault == Fault::Split;
    const RequestKind kind = a.kind;
    deliver(
        s, pieces, delayMs,
        [this, &s, n, fault, intact, kind, arrivedUs] {
            counters_.countFault(fault);
            const bool spoiled = s.staleSentUs >= arrivedUs - kStaleInFlightUs;
            if (intact && spoiled) ++counters_.spoiledByStale;
            if (intact && !spoiled) counters_.countServed(kind);
            afterRequest(s, n, true);
        },
        dueUs);
}

void Simulator::deliver(Session& s, QList<QByteArray> pieces, int firstDelayMs,
                        std::function<void()> done, qint64 notBeforeUs) {
    if (pieces.isEmpty()) {
        done();
        return;
    }
    auto sendFirst = [this, &s, pieces, done, notBeforeUs]() mutable {
        if (const qint64 early = notBeforeUs - nowUs(); early > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(early));
        s.write(pieces.takeFirst());
        if (pieces.isEmpty())
            done();
        else
            deliver(s, pieces, plan_.options().splitPauseMs, done);
    };
    if (firstDelayMs <= 0)
        sendFirst();
    else
        QTimer::singleShot(firstDelayMs, Qt::PreciseTimer, &s, sendFirst);
}

void Simulator::afterRequest(Session& s, quint64 n, bool replied) {
    const FaultOptions& f = plan_.options();
    if (replied && plan_.staleAfter(n)) {
        const QByteArray junk = plan_.staleBytes();
        s.staleTimer.disconnect();
        QObject::connect(&s.staleTimer, &QTimer::timeout, &s, [this, &s, junk] {
            // Only between requests: junk inside a request would just be a bad request.
            if (s.closing || s.frames.hasPartial()) return;
            ++counters_.faultsStale;
            s.staleSentUs = nowUs();
            s.write(junk);
        });
        s.staleTimer.start(f.staleDelayMs);
    }
    if (s.canClose && f.closeAfter > 0 && s.requests >= static_cast<quint64>(f.closeAfter) &&
        !s.closing) {
        s.closing = true;
        ++counters_.faultsClose;
        s.close();
    }
}

}  // namespace sim
