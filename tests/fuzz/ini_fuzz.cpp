#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "lee_ini.h"
#include "startup_config.h"

// Any bytes as the content of modbus.ini: the read must neither crash nor hand back
// more than its buffer holds, nor a broken character.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const char* key : {"Comunicacion_1", "Host_1", "Port_1", "Timer"}) {
        const QString read = iniValue(content, QStringLiteral("Global"), QString::fromLatin1(key));
        const QString value = storedValue(read, QStringLiteral("0"));
        if (read.size() > kIniValueMax || !value.isValidUtf16()) __builtin_trap();
        (void)parseInteger(value);
        (void)serialPortName(value);
    }
    return 0;
}
