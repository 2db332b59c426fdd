#include "port_errors.h"

#include <QFileInfo>

QString serialOpenFailure(const QString& portName, QSerialPort::SerialPortError error) {
    const QFileInfo path(portName);
    const bool isPath = portName.contains(u'/') || portName.contains(u'\\');
    if (error == QSerialPort::DeviceNotFoundError || (isPath && !path.exists()))
        return QStringLiteral(
                   "El puerto serie %1 no existe: compruebe Comm_1 en modbus.ini y "
                   "que el adaptador esté conectado.")
            .arg(portName);
    if (isPath && path.isDir())
        return QStringLiteral(
                   "%1 es una carpeta, no un puerto serie: compruebe Comm_1 en "
                   "modbus.ini.")
            .arg(portName);
    if (isPath && path.isFile())
        return QStringLiteral(
                   "%1 es un fichero, no un puerto serie: compruebe Comm_1 en "
                   "modbus.ini.")
            .arg(portName);
    if (error == QSerialPort::PermissionError) {
        // Access granted but the open refused: another program holds the port (its lock
        // file, or exclusive use of the line).
        if (!isPath || (path.isReadable() && path.isWritable()))
            return QStringLiteral(
                       "El puerto serie %1 está en uso por otro programa: ciérrelo "
                       "y vuelva a arrancar.")
                .arg(portName);
        return QStringLiteral(
                   "No hay permiso para abrir el puerto serie %1: el usuario debe "
                   "pertenecer al grupo que puede usarlo (dialout).")
            .arg(portName);
    }
    // A device that refuses the terminal settings: /dev/null, a printer...
    if (error == QSerialPort::WriteError || error == QSerialPort::ReadError ||
        error == QSerialPort::UnsupportedOperationError)
        return QStringLiteral("%1 no es un puerto serie: compruebe Comm_1 en modbus.ini.")
            .arg(portName);
    return QStringLiteral("No se puede abrir el puerto serie %1.").arg(portName);
}
