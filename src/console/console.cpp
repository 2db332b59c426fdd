#include "console.h"

#include <cstdio>

void tellUser(const QString& text) {
    std::fprintf(stderr, "vormelq: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}
