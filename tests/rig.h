#pragma once

// The rig of every test that builds the main window: a umockdev testbed with
// simulated instruments, windows that find them by themselves, the panel's keys
// pressed by name, what a read-out draws, and a closer for modal boxes. One rig
// per test process (one testbed per process).
#include "app/mainwindow.h"
#include "sim/instrument.h"
#include "sim/testbed.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLCDNumber>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <vector>

// What the panel holds, in base units, as the settings file stores it.
struct PanelValues {
    double frequency, amplitude, attenuation, frequencyStep, amplitudeStep;
    double fmStart, fmStop, fmStep, fmPeriod;
    int frequencyUnit, amplitudeUnit, attenuationUnit, frequencyStepUnit, amplitudeStepUnit;
    int panelMode;
};

class Rig {
public:
    bool start(QString &why) {
        why = testbed.isValid() ? QStringLiteral("no working directory") : testbed.errorString();
        return testbed.isValid() && workDir.isValid() && QDir::setCurrent(workDir.path());
    }
    // Plugs in an instrument of the model (a port that never answers for a
    // negative model); returns the testbed's handle.
    int plug(int model) {
        if (model >= 0)
            instruments.push_back(std::make_unique<sim::Instrument>(
                model, QStringLiteral("SIM%1").arg(instruments.size())));
        sim::Instrument *instrument = model >= 0 ? instruments.back().get() : nullptr;
        const int handle = testbed.addDevice(
            instrument ? instrument->usbIdentity() : sim::Instrument::usbIdentityFor(0, "MUTE"),
            instrument);
        byHandle.insert(handle, instrument);
        return handle;
    }
    sim::Instrument &instrument(int handle = 0) { return *byHandle.value(handle); }
    sim::Testbed &bed() { return testbed; }
    QString settingsPath() const {
        return QDir(workDir.path()).filePath(QStringLiteral("settings.txt"));
    }

    // A window connected to the instrument in its power-on state, with every
    // report of the first poll shown; null if that did not happen.
    std::unique_ptr<MainWindow> open(int handle) {
        QFile::remove(settingsPath());
        sim::Instrument &sim = instrument(handle);
        sim.setSilent(false);
        sim.handleLine("*RST;*CLS");
        auto window = std::make_unique<MainWindow>();
        if (!window->generator)
            return nullptr;
        QSignalSpy lastReport(window->generator, &Generator::newTFm);
        if (!lastReport.wait(10000))
            return nullptr;
        sim.clearReceivedLines();
        return window;
    }

    // Waits until the instrument has taken every line sent before (settings
    // without a query are not waited for by the driver).
    static bool settle(MainWindow &window) {
        QByteArray reply;
        return window.generator->query("*OPC?", reply);
    }

    // The setting commands the instrument received (queries and the rig's own
    // synchronisation left out).
    QList<QByteArray> settings(int handle) {
        QList<QByteArray> commands;
        for (const QByteArray &line : instrument(handle).receivedRequests())
            for (QByteArray command : line.split(';'))
                if (!(command = command.trimmed()).isEmpty() && !command.endsWith('?'))
                    commands << command;
        return commands;
    }

    // "0".."9", ".", "-", "C", "OK", "U1".."U3" (unit keys), "P1".."P6"
    // (parameter keys), "Up", "Down", "Left", "Right", "Delta", "FM", "AM",
    // "RF" name the panel's buttons; clicked as the operator does.
    static bool press(MainWindow &window, const QString &key) {
        static const QHash<QString, QString> names = {{".", "Dot"},   {"-", "Minus"},
                                                      {"C", "Clear"}, {"RF", "TurnOn"},
                                                      {"U", "Units"}, {"P", "Param"}};
        const bool numbered = key.size() <= 2 && key.back().isDigit(); // "7", "U1", "P3"
        const QString name =
            numbered ? names.value(key.chopped(1), "Num") + key.back() : names.value(key, key);
        auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton_") + name);
        return button && button->isEnabled() && (button->click(), true);
    }

    // A read-out keeps no text to read back, so what it draws is compared with
    // a twin of the same look given the expected text.
    static bool draws(QLCDNumber &display, const QString &text) {
        const QImage shown = display.grab().toImage(); // may lay the read-out out anew
        return shown == twinDrawing(display, text);
    }

    // What a read-out of this look and size draws for the text.
    static QImage twinDrawing(const QLCDNumber &display, const QString &text) {
        QLCDNumber twin(display.digitCount());
        twin.setSmallDecimalPoint(display.smallDecimalPoint());
        twin.setSegmentStyle(display.segmentStyle());
        twin.setFrameStyle(display.frameStyle());
        twin.setPalette(display.palette());
        twin.setAutoFillBackground(display.autoFillBackground());
        twin.setEnabled(display.isEnabled());
        twin.resize(display.size());
        twin.display(text);
        return twin.grab().toImage();
    }

    // The window's insides that the tests read.
    static Ui::MainWindow &ui(MainWindow &w) { return *w.ui; }
    static Generator *&driver(MainWindow &w) { return w.generator; }
    static QMessageBox &errorBox(MainWindow &w) { return w.errorBox; }
    static quint16 freeTcpPort() {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
    }
    static double inUnit(MainWindow &w, double base, int unit) {
        return w.fromBaseUnit(base, unit);
    }
    static QWidget *portList(MainWindow &w) { return w.selectDeviceWindow; }
    static QWidget *remoteWindow(MainWindow &w) { return w.netConfigWindow; }
    static QLabel *lockNotice(MainWindow &w) { return w.lockNotice; }
    static bool loopbackOnly(MainWindow &w) { return w.loopbackOnly; }
    static void openRemoteWindow(MainWindow &w) { w.netControlAction->trigger(); }
    // Saved set-ups without their name dialogs.
    static bool saveSetup(MainWindow &w, const QString &name) {
        return w.writeSetup(name, w.panelSetup());
    }
    static void recallSetup(MainWindow &w, const QString &name) { w.recallSetup(name); }
    static QMenu *setupsMenu(MainWindow &w) { return w.setupsMenu; }
    // Unit codes of the FM start, stop, step and period, kept beside PanelValues.
    static QVector<int> fmUnits(const MainWindow &w) {
        return {w.fFmStartUnit, w.fFmStopUnit, w.fFmStepUnit, w.tFmUnit};
    }
    static PanelValues values(const MainWindow &w) {
        return {w.frequency,         w.amplitude,         w.attenuation,
                w.frequencyStep,     w.amplitudeStep,     w.fFmStart,
                w.fFmStop,           w.fFmStep,           w.tFm,
                w.frequencyUnit,     w.amplitudeUnit,     int(w.attenuationUnit),
                w.frequencyStepUnit, w.amplitudeStepUnit, w.panelMode};
    }

private:
    sim::Testbed testbed;
    QTemporaryDir workDir;
    std::vector<std::unique_ptr<sim::Instrument>> instruments;
    QHash<int, sim::Instrument *> byHandle;
};

// Closes every modal box as soon as it runs (a driver's "no answer" box would
// otherwise block the test) and keeps its text.
class ModalBoxCloser : public QObject {
public:
    ModalBoxCloser() {
        connect(&timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->done(QMessageBox::Ok);
            }
        });
        timer.start(20);
    }
    QStringList texts;

private:
    QTimer timer;
};
