#pragma once

#include <QByteArray>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace bench {

// The testbed needs umockdev's preload library: without it, run this program
// again under umockdev-wrapper.
inline void ensureUmockdev(char *argv[]) {
    if (qgetenv("LD_PRELOAD").contains("umockdev"))
        return;
    QVector<char *> args;
    args.append(const_cast<char *>(UMOCKDEV_WRAPPER));
    for (char **arg = argv; *arg; ++arg)
        args.append(*arg);
    args.append(nullptr);
    execvp(args.front(), args.data());
    std::perror(UMOCKDEV_WRAPPER);
    std::exit(2);
}

// The value below which the given fraction of the samples lie (nearest rank).
inline double percentile(QVector<double> samples, double fraction) {
    if (samples.isEmpty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const int rank = int(std::ceil(fraction * samples.size()));
    return samples.at(std::clamp(rank - 1, 0, samples.size() - 1));
}

inline double median(const QVector<double> &samples) {
    return percentile(samples, 0.5);
}

} // namespace bench
