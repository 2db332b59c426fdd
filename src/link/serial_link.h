#pragma once

#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>
#include <optional>

#include "link.h"

// Baud rate from the configured text: a positive whole number, or nothing.
std::optional<qint32> parseBaudText(const QString& text);

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

    void discardInput() override;
    bool send(const QByteArray& frame) override;
    QByteArray takeAvailable() override;
    bool waitForData(int ms) override;
    void waitConnected(QDeadlineTimer deadline) override;
    bool isConnected() const override;
    void close() override;

    QSerialPort* Comm1;

private:
    QString openPort();
    bool tryReopen();
    void closeIfBroken();

    QString portName_;
    QString baudText_;
    bool everOpened_ = false;
    QElapsedTimer lastOpenAttempt_;
};
