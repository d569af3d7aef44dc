#pragma once
// A fuzz target's invariant: a broken one ends the run as a crash would,
// naming what broke (and the input in hex, when given).
#include <QByteArray>

#include <cstdio>
#include <cstdlib>

inline void require(bool condition, const char *what, const QByteArray &input = {}) {
    if (condition)
        return;
    std::fprintf(stderr, "broken: %s\n", what);
    if (!input.isEmpty())
        std::fprintf(stderr, "line: %s\n", input.toHex().constData());
    std::abort();
}
