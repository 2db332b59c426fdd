#include "serial_link.h"

#include <cstdio>
#include <utility>

#include "port_errors.h"

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

std::optional<qint32> parseBaudText(const QString& text) {
    bool ok = false;
    const qint32 baud = text.trimmed().toInt(&ok, 10);
    if (!ok || baud <= 0) return std::nullopt;
    return baud;
}

namespace {

// Errors after which the handle is useless: the device went away (USB adapter pulled
// out, pty master gone) or the driver refuses every further read or write.
bool isFatal(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::ResourceError:
        case QSerialPort::DeviceNotFoundError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
        case QSerialPort::NotOpenError:
        case QSerialPort::UnknownError:
            return true;
        default:
            return false;
    }
}

// The line is always 8N1: a character is 10 bits (start, 8 data, stop).
constexpr double kBitsPerChar = 10.0;

// Nanoseconds `chars` characters take on the line at `baud`.
qint64 charTimeNs(double chars, qint32 baud) {
    return static_cast<qint64>(chars * kBitsPerChar * 1e9 / baud);
}

QString badBaudMessage(const QString& baudText) {
    return QStringLiteral("Velocidad no válida en Baudios_1: '%1'").arg(baudText);
}

}  // namespace

qint64 interFrameSilenceNs(qint32 baud) {
    // Above 19200 baud the rules fix the silence at 1.75 ms instead of shrinking it.
    if (baud <= 0 || baud > 19200) return 1750000;
    return charTimeNs(3.5, baud);
}

SerialLink::SerialLink(QString portName, QString baudText)
    : Comm1(new QSerialPort), portName_(std::move(portName)), baudText_(std::move(baudText)) {
    Comm1->setPortName(portName_);
    // What the driver holds waits there, bounded by the driver, until a read asks for it.
    Comm1->setReadBufferSize(linkexchange::kInputBudgetBytes);
}

SerialLink::~SerialLink() {
    close();
    delete Comm1;
}

QString SerialLink::open() {
    const QString error = openPort();
    if (error.isEmpty()) everOpened_ = true;
    return error;
}

QString SerialLink::openPort() {
    const std::optional<qint32> baud = parseBaudText(baudText_);
    if (!baud) return badBaudMessage(baudText_);
    lastOpenAttempt_.start();
    if (Comm1->isOpen()) Comm1->close();
    Comm1->clearError();
    if (!Comm1->open(QIODevice::ReadWrite)) {
        // The operator reads the Spanish cause; the system's own words go to stderr, once,
        // at start-up (a reopen every half second would flood it).
        if (!everOpened_)
            std::fprintf(stderr, "puerto serie %s: %s\n", qUtf8Printable(portName_),
                         qUtf8Printable(Comm1->errorString()));
        return serialOpenFailure(portName_, Comm1->error());
    }
    if (!Comm1->setBaudRate(*baud)) {
        Comm1->close();
        return badBaudMessage(baudText_);
    }
    baud_ = *baud;
    if (!Comm1->setParity(QSerialPort::NoParity) || !Comm1->setDataBits(QSerialPort::Data8) ||
        !Comm1->setStopBits(QSerialPort::OneStop) ||
        !Comm1->setFlowControl(QSerialPort::NoFlowControl)) {
        const QString reason = Comm1->errorString();
        Comm1->close();
        return QStringLiteral("No se puede configurar el puerto serie %1: %2")
            .arg(portName_, reason);
    }
    // Some RS-485 converters are powered from RTS. Ports without modem lines (a pty,
    // some adapters) refuse it; the link works without it there.
    Comm1->setRequestToSend(true);
    Comm1->clearError();
#ifdef Q_OS_LINUX
    // This thread's timed waits (the silence before a request) end when due, not up to the
    // default 50 microseconds later.
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
    forgetUnanswered();
    lineBusy(0);
    return {};
}

bool SerialLink::tryReopen() {
    if (Comm1->isOpen()) return true;
    if (!everOpened_) return false;  // never configured: start-up reports that, not us
    if (lastOpenAttempt_.isValid() && !lastOpenAttempt_.hasExpired(kReopenIntervalMs)) return false;
    return openPort().isEmpty();
}

void SerialLink::closeIfBroken() {
    if (Comm1->isOpen() && isFatal(Comm1->error())) Comm1->close();
}

QByteArray SerialLink::drainInput() {
    if (!Comm1->isOpen()) return {};
    // readAll() sees only what the port object has read in; a wait of no time reads
    // in what the driver still holds. A line that outruns the reads stops at the budget.
    QByteArray bytes = Comm1->readAll();
    while (bytes.size() < linkexchange::kInputBudgetBytes && Comm1->waitForReadyRead(0))
        bytes += Comm1->readAll();
    if (!bytes.isEmpty()) lineBusy(0);
    closeIfBroken();
    return bytes;
}

void SerialLink::lineBusy(qint64 forNs) {
    lineFreeAt_ = QDeadlineTimer(0, Qt::PreciseTimer);
    lineFreeAt_.setPreciseRemainingTime(0, forNs + interFrameSilenceNs(baud_), Qt::PreciseTimer);
}

std::optional<QByteArray> SerialLink::keepInterFrameSilence(QDeadlineTimer deadline) {
    // A half-duplex module still turning its driver around after its reply misses the
    // first bytes of a request that follows at once. Bytes that break the silence are
    // no reply to anything we are about to send: they go, and the silence starts anew.
    QByteArray broke;
    while (Comm1->isOpen() && !lineFreeAt_.hasExpired() && !stopRequested()) {
        if (deadline.hasExpired() || broke.size() >= linkexchange::kInputBudgetBytes)
            return std::nullopt;
        if (waitForDataNs(lineFreeAt_.remainingTimeNSecs(), linkexchange::kAwakeNs)) {
            broke += Comm1->readAll();
            lineBusy(0);
        } else {
            closeIfBroken();
        }
    }
    return broke;
}

bool SerialLink::ensureOpen(QDeadlineTimer deadline) {
    if (!deadline.hasExpired() && !stopRequested()) tryReopen();
    return Comm1->isOpen();
}

int SerialLink::quietLineMs(int replyLength) const {
    // The rest of a reply that has begun to arrive, and the silence that ends it.
    const qint64 ns = charTimeNs(replyLength, baud_) + interFrameSilenceNs(baud_);
    return static_cast<int>((ns + 999999) / 1000000);
}

bool SerialLink::send(const QByteArray& frame) {
    if (!tryReopen()) return false;
    Comm1->clearError();
    if (Comm1->write(frame) != frame.size()) {
        Comm1->clear(QSerialPort::Output);
        closeIfBroken();
        return false;
    }
    // A frame takes about 10 ms at 9600 baud; give the driver the whole reply time.
    const QDeadlineTimer deadline(linkexchange::kReplyTimeoutMs);
    while (Comm1->bytesToWrite() > 0 && !deadline.hasExpired() && !stopRequested()) {
        if (!Comm1->waitForBytesWritten(linkexchange::waitSliceMs(deadline.remainingTime())) &&
            Comm1->error() != QSerialPort::TimeoutError) {
            closeIfBroken();
            break;
        }
    }
    const bool sent = Comm1->isOpen() && Comm1->bytesToWrite() == 0;
    // The driver has the frame; the line carries it for a while yet.
    if (sent) lineBusy(charTimeNs(static_cast<double>(frame.size()), baud_));
    // A frame given up on must not go out later, behind the next one, as a request
    // nobody waits for.
    if (!sent && Comm1->isOpen()) Comm1->clear(QSerialPort::Output);
    return sent;
}

QByteArray SerialLink::takeAvailable() {
    if (!Comm1->isOpen()) return {};
    const QByteArray bytes = Comm1->readAll();
    if (!bytes.isEmpty()) lineBusy(0);
    return bytes;
}

bool SerialLink::waitForData(int ms) {
    if (Comm1->isOpen() && Comm1->bytesAvailable() > 0) return true;
    QElapsedTimer slice;
    slice.start();
    if (Comm1->isOpen()) {
        if (Comm1->waitForReadyRead(ms)) return true;
        closeIfBroken();
        // The data may have come in along with the error that closed the port.
        if (Comm1->isOpen() && Comm1->bytesAvailable() > 0) return true;
    }
    sitOutSlice(slice, ms);
    return false;
}

void SerialLink::waitConnected(QDeadlineTimer deadline) {
    if (deadline.hasExpired() || stopRequested()) return;
    tryReopen();
}

int SerialLink::inputHandle() const {
    return Comm1->isOpen() ? static_cast<int>(Comm1->handle()) : -1;
}

bool SerialLink::isConnected() const {
    return Comm1->isOpen();
}

void SerialLink::close() {
    if (Comm1->isOpen()) Comm1->close();
}
