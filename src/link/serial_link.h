#pragma once

#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>
#include <optional>

#include "link.h"

// Baud rate from the configured text: a positive whole number, or nothing.
std::optional<qint32> parseBaudText(const QString& text);

// The silence that separates two frames on a serial line at `baud`: 3.5 characters,
// 1.75 ms above 19200 baud.
qint64 interFrameSilenceNs(qint32 baud);

// The module on a serial line, settings "baud,n,8,1" without flow control. Construct,
// open and use it on the link worker thread only: the port has no parent and none of
// its signals are connected; every wait is a blocking call with a short slice.
//
// A USB adapter that is pulled out and plugged back in must not need a restart: a port
// that fails with a resource error is closed, and the next waitConnected() or send()
// opens it again with the same settings (one attempt per call, at most every
// kReopenIntervalMs, so a missing device is not hammered).
class SerialLink : public Link {
public:
    static constexpr int kReopenIntervalMs = 500;

    explicit SerialLink(QString portName, QString baudText);
    ~SerialLink() override;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Opens the port. Empty on success, otherwise a Spanish message naming the cause
    // (start-up shows it and ends the program).
    QString open();

    QByteArray drainInput() override;
    bool send(const QByteArray& frame) override;
    QByteArray takeAvailable() override;
    bool waitForData(int ms) override;
    void waitConnected(QDeadlineTimer deadline) override;
    bool ensureOpen(QDeadlineTimer deadline) override;
    // Before each request the line has been silent for 3.5 characters since the last
    // byte sent or received.
    std::optional<QByteArray> keepInterFrameSilence(QDeadlineTimer deadline) override;
    int quietLineMs(int replyLength) const override;
    bool isConnected() const override;
    int inputHandle() const override;
    void close() override;

    QSerialPort* Comm1;

private:
    QString openPort();
    bool tryReopen();
    void closeIfBroken();
    // The line carries our bytes for `forNs` more, then must stay silent.
    void lineBusy(qint64 forNs);

    QString portName_;
    QString baudText_;
    bool everOpened_ = false;
    QElapsedTimer lastOpenAttempt_;
    qint32 baud_ = 9600;
    QDeadlineTimer lineFreeAt_;
};
