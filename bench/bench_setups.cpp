// Time from a click on a saved set-up in the menu "Наборы" to the last of its
// values confirmed by the instrument (the recall returns after the last
// read-back), for a full set-up, through the real panel and QSerialPort into
// a simulated instrument. Two set-ups that differ in every value alternate.
#include "benchsupport.h"

#include "app/mainwindow.h"
#include "instrument.h"
#include "models.h"
#include "setups.h"
#include "testbed.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int recalls = 200;

rfgen::setups::Setup fullSetup(int variant) {
    rfgen::setups::Setup setup;
    setup.frequencyHz = variant ? 433.92e6 : 868.3e6;
    setup.amplitudeV = variant ? 0.5 : 0.2;
    setup.attenuationDb = variant ? 10 : 3.5;
    setup.levelControl = variant;
    setup.fmKind = variant ? 2 : 0;
    setup.grid = variant ? 0 : 3;
    setup.sweepStartHz = variant ? 400e6 : 800e6;
    setup.sweepStopHz = variant ? 500e6 : 900e6;
    setup.sweepStepHz = variant ? 1e6 : 2e6;
    setup.sweepPeriodS = variant ? 0.01 : 0.02;
    setup.panel.insert("panel.frequency_unit", variant ? "MHz" : "GHz");
    return setup;
}

QAction *setupAction(MainWindow &window, const QString &name) {
    for (QMenu *menu : window.menuBar()->findChildren<QMenu *>()) {
        if (menu->title() != QStringLiteral("Наборы"))
            continue;
        emit menu->aboutToShow(); // lists the files anew, as opening the menu does
        for (QAction *action : menu->actions())
            if (action->text() == name)
                return action;
    }
    return nullptr;
}

bool waitUntil(const std::function<bool()> &condition) {
    const QDeadlineTimer deadline(10000);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return condition();
}

} // namespace

int main(int argc, char *argv[]) {
    bench::ensureUmockdev(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data, work;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QDir::setCurrent(work.path());
    QApplication app(argc, argv);
    sim::Instrument instrument(rfgen::OrvexModel);
    sim::Testbed testbed;
    if (testbed.addDevice(instrument.usbIdentity(), &instrument) < 0)
        return std::fprintf(stderr, "testbed: %s\n", qPrintable(testbed.errorString())), 1;
    MainWindow window;
    const bool polled = waitUntil([&] {
        return instrument.receivedLines().contains("FREQ?;VOLT?;ATT?;OUTP?;FM:PER?");
    });
    QString why;
    for (int variant : {0, 1})
        if (!rfgen::setups::save(rfgen::setups::folder(), QString::number(variant),
                                 fullSetup(variant), why))
            return std::fprintf(stderr, "%s\n", qPrintable(why)), 1;
    if (!polled)
        return std::fprintf(stderr, "the panel did not connect\n"), 1;
    QVector<double> samples;
    for (int recall = 0; recall < recalls; ++recall) {
        QAction *action = setupAction(window, QString::number(recall % 2));
        QElapsedTimer timer;
        timer.start();
        action->trigger();
        samples.append(double(timer.nsecsElapsed()) / 1e6);
        if (!window.statusBar()->currentMessage().endsWith(QStringLiteral("восстановлен")))
            return std::fprintf(stderr, "%s\n", qPrintable(window.statusBar()->currentMessage())),
                   1;
        QCoreApplication::processEvents();
    }
    std::printf("recall of a full set-up (11 values), click to last value confirmed, %d recalls\n",
                recalls);
    std::printf("%12s %12s %10s\n", "median ms", "p99 ms", "max ms");
    std::printf("%12.3f %12.3f %10.3f\n", bench::median(samples), bench::percentile(samples, 0.99),
                bench::percentile(samples, 1));
    return 0;
}
