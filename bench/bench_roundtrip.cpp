// Round-trip time of Generator::setFrequency (command, read-back, answer)
// through a real QSerialPort into a simulated instrument.
#include "benchsupport.h"

#include "generator.h"
#include "instrument.h"
#include "models.h"
#include "testbed.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int calls = 1000;

std::unique_ptr<Generator> connectedDriver(int model, const QString &portName) {
    std::unique_ptr<Generator> driver;
    QSerialPortInfo port;
    for (const QSerialPortInfo &info : Generator::getAvailablePorts())
        if (info.portName() == portName)
            port = info;
    if (model == rfgen::PylarModel) {
        auto pylar = std::make_unique<Pylar>();
        pylar->connect(port);
        driver = std::move(pylar);
    } else {
        auto orvex =
            model == rfgen::QuendtModel ? std::make_unique<Quendt>() : std::make_unique<Orvex>();
        orvex->connect(port);
        driver = std::move(orvex);
    }
    // Let the identification and the first poll pass before measuring.
    bool polled = false;
    const QMetaObject::Connection watch =
        QObject::connect(driver.get(), &Generator::newFrequency, [&polled] { polled = true; });
    const QDeadlineTimer deadline(3000);
    while (!polled && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QObject::disconnect(watch);
    return polled ? std::move(driver) : nullptr;
}

// Milliseconds of each call; empty when a call failed.
QVector<double> measure(int model) {
    sim::Instrument instrument(model);
    sim::Testbed testbed;
    const int device = testbed.addDevice(instrument.usbIdentity(), &instrument);
    if (device < 0) {
        std::fprintf(stderr, "testbed: %s\n", qPrintable(testbed.errorString()));
        return {};
    }
    const std::unique_ptr<Generator> driver = connectedDriver(model, testbed.portName(device));
    if (!driver) {
        std::fprintf(stderr, "no connection to %s\n", qPrintable(testbed.portName(device)));
        return {};
    }
    QVector<double> samples;
    samples.reserve(calls);
    for (int call = 0; call < calls; ++call) {
        double hz = 100e6 + (call % 100) * 10e3; // a different value each time
        QElapsedTimer timer;
        timer.start();
        const bool ok = driver->setFrequency(hz);
        samples.append(double(timer.nsecsElapsed()) / 1e6);
        if (!ok) {
            std::fprintf(stderr, "call %d failed\n", call);
            return {};
        }
        // As in the panel, the event loop runs between calls.
        QCoreApplication::processEvents();
    }
    return samples;
}

} // namespace

int main(int argc, char *argv[]) {
    bench::ensureUmockdev(argv);
    QCoreApplication app(argc, argv);
    std::printf("setFrequency round trip over the testbed, %d calls per model\n", calls);
    std::printf("%8s %12s %12s %10s\n", "model", "median ms", "p99 ms", "max ms");
    for (int model : {rfgen::OrvexModel, rfgen::PylarModel, rfgen::QuendtModel}) {
        const QVector<double> samples = measure(model);
        if (samples.isEmpty())
            return 1;
        std::printf("%8s %12.3f %12.3f %10.3f\n", rfgen::modelSpec(model)->driverName,
                    bench::median(samples), bench::percentile(samples, 0.99),
                    bench::percentile(samples, 1));
    }
    return 0;
}
