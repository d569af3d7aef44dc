#pragma once

// One simulated instrument plugged into the umockdev testbed, and main windows
// that find it on their own, for the front panel tests. A test process holds
// one rig (one testbed per process).
#include "app/mainwindow.h"
#include "instrument.h"
#include "testbed.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

class PanelRig {
public:
    explicit PanelRig(int model) : instrumentModel(model) {}

    // Plugs the instrument in; call from initTestCase.
    bool start(QString &why) {
        if (!testbed.isValid()) {
            why = testbed.errorString();
            return false;
        }
        if (!workDir.isValid() || !QDir::setCurrent(workDir.path())) {
            why = QStringLiteral("no temporary directory for the settings file");
            return false;
        }
        sim = std::make_unique<sim::Instrument>(instrumentModel);
        device = testbed.addDevice(sim->usbIdentity(), sim.get());
        return device >= 0;
    }

    // A window connected to the instrument in its power-on state (after
    // `prepare` changed it, as a knob would), with the first poll's reports
    // shown; null if that did not happen within a generous bound.
    std::unique_ptr<MainWindow> open(const std::function<void(sim::Instrument &)> &prepare = {}) {
        QFile::remove(QDir(workDir.path()).filePath(QStringLiteral("settings.txt")));
        sim->setSilent(false);
        sim->handleLine("*RST;*CLS");
        if (prepare)
            prepare(*sim);
        auto window = std::make_unique<MainWindow>();
        Generator *driver = window->generator;
        if (!driver)
            return nullptr;
        QSignalSpy firstPoll(driver, &Generator::newFrequency);
        if (!firstPoll.wait(3000))
            return nullptr;
        sim->clearReceivedLines();
        return window;
    }

    sim::Instrument &instrument() { return *sim; }

    // Lines the panel sent, without the driver's periodic polls and the
    // rig's own synchronisation.
    QList<QByteArray> panelLines() const {
        QList<QByteArray> lines;
        for (const QByteArray &line : sim->receivedLines())
            if (!line.startsWith("FREQ?;") && line != syncQuery)
                lines << line;
        return lines;
    }

    // Waits until the instrument has taken every line sent before: settings
    // without a query are not waited for by the driver.
    bool settle(Generator &driver) {
        QByteArray reply;
        return driver.query(syncQuery, reply);
    }

private:
    static constexpr const char *syncQuery = "*OPC?";
    const int instrumentModel;
    sim::Testbed testbed;
    QTemporaryDir workDir;
    std::unique_ptr<sim::Instrument> sim;
    int device = -1;
};

// Closes every modal message box that opens while it lives (a driver's
// "no answer" box would otherwise block the test) and keeps their texts.
class ModalBoxCloser {
public:
    ModalBoxCloser() {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->done(QMessageBox::Ok);
            }
        });
        timer.start();
    }
    QStringList texts;

private:
    QTimer timer;
};
