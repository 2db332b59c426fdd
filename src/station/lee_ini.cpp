#include "lee_ini.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringView>
#include <optional>

namespace {

const QString kIniFileName = QStringLiteral("modbus.ini");

bool sameName(QStringView a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// One pair of matching quotes around the whole value is taken off, as the Windows
// profile read does; nothing inside is unescaped and the rest is not trimmed again.
QStringView unquote(QStringView value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

// The read fills a fixed buffer: longer values are cut, never rejected. A cut must not
// leave half of a surrogate pair behind.
QString cutToBuffer(QStringView value) {
    if (value.size() <= kIniValueMax) return value.toString();
    QStringView cut = value.first(kIniValueMax);
    if (cut.back().isHighSurrogate()) cut.chop(1);
    return cut.toString();
}

// A section header's name, or nothing when the line is no well-formed header (such a
// line is skipped and the current section goes on).
bool sectionName(QStringView line, QStringView* name) {
    if (!line.startsWith(u'[')) return false;
    const qsizetype close = line.lastIndexOf(u']');
    if (close < 1) return false;
    *name = line.sliced(1, close - 1).trimmed();
    return true;
}

}  // namespace

// The file is written by hand on Windows machines: usually ANSI (Latin-1 for the
// characters that matter), sometimes UTF-8 from a newer editor, with or without a BOM,
// or "Unicode" (UTF-16 with its byte-order mark, either byte order). A text file never
// holds a NUL: one is a binary file, or UTF-16 without its mark, and nothing in it can be
// trusted as a value.
std::optional<QString> decodeIniText(const QByteArray& content) {
    QByteArrayView bytes(content);
    auto encoding = QStringConverter::Utf8;
    if (bytes.startsWith("\xFF\xFE")) {
        encoding = QStringConverter::Utf16LE;
        bytes = bytes.sliced(2);
    } else if (bytes.startsWith("\xFE\xFF")) {
        encoding = QStringConverter::Utf16BE;
        bytes = bytes.sliced(2);
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    }
    // The decoder drops half a character at the end without a word.
    if (encoding != QStringConverter::Utf8 && bytes.size() % 2 != 0) return std::nullopt;
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        if (encoding != QStringConverter::Utf8) return std::nullopt;
        text = QString::fromLatin1(bytes);
    }
    if (text.contains(QChar(u'\0'))) return std::nullopt;
    return text;
}

QString iniValue(const QByteArray& content, const QString& section, const QString& key) {
    const std::optional<QString> text = decodeIniText(content);
    if (!text) return {};
    const QStringView all(*text);
    bool inSection = false;
    bool sectionSeen = false;
    qsizetype pos = 0;
    while (pos <= all.size()) {
        qsizetype end = pos;
        while (end < all.size() && all[end] != u'\n' && all[end] != u'\r') ++end;
        const QStringView line = all.sliced(pos, end - pos).trimmed();
        pos = end + 1;
        if (line.isEmpty() || line.startsWith(u';')) continue;
        if (line.startsWith(u'[')) {
            QStringView name;
            if (!sectionName(line, &name)) continue;
            // Only the first section of a name counts: a repeated header later in the
            // file is never searched, whatever it holds.
            if (sectionSeen) return {};
            inSection = sameName(name, section);
            sectionSeen = inSection;
            continue;
        }
        if (!inSection) continue;
        const qsizetype eq = line.indexOf(u'=');
        const QStringView lineKey = (eq < 0 ? line : line.first(eq)).trimmed();
        if (!sameName(lineKey, key)) continue;
        // The first line with the key wins; a key without "=" reads as an empty value.
        if (eq < 0) return {};
        return cutToBuffer(unquote(line.sliced(eq + 1).trimmed()));
    }
    return {};
}

QString storedValue(const QString& readValue, const QString& defaultValue) {
    if (readValue.isEmpty()) return defaultValue;
    QString value = readValue;
    const bool pair = value.size() >= 2 && value.back().isLowSurrogate() &&
                      value.at(value.size() - 2).isHighSurrogate();
    value.chop(pair ? 2 : 1);
    return value;
}

QString findIniFile(const QDir& dir) {
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    // A case-sensitive file system may hold several spellings; the exact one is the
    // one a Windows user would have meant.
    if (files.contains(kIniFileName)) return kIniFileName;
    for (const QString& name : files)
        if (sameName(name, kIniFileName)) return name;
    return {};
}

QString LeeIni(const QString& section, const QString& key, const QString& defaultValue,
               const QDir& dir) {
    const QString name = findIniFile(dir);
    if (name.isEmpty()) return defaultValue;
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) return defaultValue;
    return storedValue(iniValue(file.readAll(), section, key), defaultValue);
}

QString iniFileProblem(const QDir& dir) {
    const QString name = findIniFile(dir);
    if (name.isEmpty()) return {};
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("No se puede leer %1: %2")
            .arg(name, file.error() == QFileDevice::PermissionsError
                           ? QStringLiteral("no hay permiso de lectura")
                           : QStringLiteral("error de lectura del fichero"));
    if (!decodeIniText(file.readAll()))
        return QStringLiteral(
                   "%1 no es un fichero de texto: guárdelo como texto (ANSI, UTF-8 o "
                   "Unicode) y vuelva a arrancar")
            .arg(name);
    return {};
}
