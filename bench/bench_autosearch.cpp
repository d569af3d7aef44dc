// How long Searcher::autosearch takes with one instrument beside a growing
// number of ports that never answer.
#include "benchsupport.h"

#include "generator.h"
#include "instrument.h"
#include "models.h"
#include "testbed.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

constexpr int runs = 11;

// Milliseconds of each autosearch run; empty when the set-up failed.
QVector<double> measure(int silentPorts) {
    sim::Instrument instrument(rfgen::OrvexModel);
    sim::Testbed testbed;
    if (testbed.addDevice(instrument.usbIdentity(), &instrument) < 0) {
        std::fprintf(stderr, "testbed: %s\n", qPrintable(testbed.errorString()));
        return {};
    }
    const sim::UsbIdentity silentIdentity =
        sim::Instrument::usbIdentityFor(rfgen::PylarModel, QStringLiteral("MUTE"));
    for (int i = 0; i < silentPorts; ++i)
        testbed.addDevice(silentIdentity, nullptr);

    QVector<double> samples;
    for (int run = 0; run < runs; ++run) {
        QSerialPortInfo port;
        int model = -1;
        QElapsedTimer timer;
        timer.start();
        const int found = Searcher::autosearch(port, model);
        samples.append(double(timer.nsecsElapsed()) / 1e6);
        if (found != 1 || model != rfgen::OrvexModel) {
            std::fprintf(stderr, "run %d found %d instruments, model %d\n", run, found, model);
            return {};
        }
    }
    return samples;
}

} // namespace

int main(int argc, char *argv[]) {
    bench::ensureUmockdev(argv);
    QCoreApplication app(argc, argv);
    std::printf("autosearch, 1 live instrument, median of %d runs\n", runs);
    std::printf("%14s %12s %10s %10s\n", "silent ports", "median ms", "min ms", "max ms");
    for (int silentPorts : {0, 4, 16}) {
        const QVector<double> samples = measure(silentPorts);
        if (samples.isEmpty())
            return 1;
        std::printf("%14d %12.1f %10.1f %10.1f\n", silentPorts, bench::median(samples),
                    bench::percentile(samples, 0), bench::percentile(samples, 1));
    }
    return 0;
}
