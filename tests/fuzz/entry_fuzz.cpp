#include <QByteArray>
#include <QLocale>
#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "entry.h"
#include "value_split.h"

// Any text typed into an entry box, read with a comma locale and with the C locale,
// then split into the register values that would be sent.
//
// What must hold: the box text carries no group separator, in the C locale the box
// text reads back as itself (what the operator sees is what is sent), and whatever is
// split rebuilds the whole part of the value exactly.
namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

double rebuild(const std::vector<QByteArray>& words) {
    double value = 0;
    double scale = 1;
    for (const QByteArray& word : words) {
        check(word.size() == 2);
        value += scale * (static_cast<quint8>(word[0]) + 256.0 * static_cast<quint8>(word[1]));
        scale *= 65536.0;
    }
    return value;
}

void checkSplit(double value) {
    if (const auto words = splitValue16(value)) {
        check(words->size() == 1 && value >= 0 && value < 65536.0);
        check(rebuild(*words) == std::floor(value));
    }
    if (const auto words = splitValue32(value)) {
        check(words->size() == 2 && value >= 0 && value < 4294967296.0);
        check(rebuild(*words) == std::floor(value));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QLocale comma(QLocale::Spanish, QLocale::Spain);
    static const QLocale c = QLocale::c();
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    const NormalizedEntry spanish = normalizeEntry(text, comma);
    check(!spanish.text.contains(comma.groupSeparator()));
    checkSplit(spanish.value);

    const NormalizedEntry plain = normalizeEntry(text, c);
    check(!plain.text.contains(u','));
    if (std::isfinite(plain.value)) {
        const NormalizedEntry again = normalizeEntry(plain.text, c);
        check(again.text == plain.text && again.value == plain.value);
    }
    checkSplit(plain.value);
    return 0;
}
