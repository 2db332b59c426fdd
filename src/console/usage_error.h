#pragma once

#include <QString>

// What is wrong with the arguments of an offline command, in Spanish.
struct UsageError {
    QString message;
};
