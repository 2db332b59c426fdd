#pragma once

#include <QSerialPort>
#include <QString>

// Why the serial port `portName` did not open, as a Spanish sentence for the operator:
// the port's error together with what the file system says about the path, since the
// port's own error codes lump several causes together (a directory and a plain file
// come back as read and write errors, a port locked by another program as a permission
// error).
QString serialOpenFailure(const QString& portName, QSerialPort::SerialPortError error);
