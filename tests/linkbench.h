#pragma once

// Shared by the settings and connection tests, which run the main window
// against simulated instruments: the testbed with its instruments, and a guard
// that answers the modal error box so that a driver report cannot block a test.
#include "instrument.h"
#include "testbed.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <vector>

namespace linkbench {

// The model names the window title uses, by model code.
inline QString modelName(int model) {
    static const QStringList names = {QStringLiteral("Орвекс"), QStringLiteral("Пилар"),
                                      QStringLiteral("Квендт")};
    return names.value(model);
}

inline QString connectedTitle(int model, const QString &portName) {
    return QStringLiteral("Генератор ") + modelName(model) + QStringLiteral("   ( ") + portName +
           QStringLiteral(" )");
}

inline const QString notConnectedTitle = QStringLiteral("Генератор . Не подключен");

// Closes every modal box as soon as it runs and remembers its text.
class ModalBoxCloser : public QObject {
public:
    ModalBoxCloser() {
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
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

// One testbed per process; the instruments outlive it.
class Bench {
public:
    bool start() {
        testbed = std::make_unique<sim::Testbed>();
        return testbed->isValid();
    }
    QString errorString() const { return testbed->errorString(); }

    // Plugs in an instrument of the model, or a port that never answers for a
    // negative model; returns the testbed's handle.
    int plug(int model) {
        sim::Instrument *instrument = nullptr;
        sim::UsbIdentity identity = sim::Instrument::usbIdentityFor(0, QStringLiteral("MUTE"));
        if (model >= 0) {
            const QString serial = QStringLiteral("SIM%1").arg(instruments.size());
            instruments.push_back(std::make_unique<sim::Instrument>(model, serial));
            instrument = instruments.back().get();
            identity = instrument->usbIdentity();
        }
        const int handle = testbed->addDevice(identity, instrument);
        if (handle < 0)
            return handle;
        handles.push_back(handle);
        byHandle.resize(std::max(byHandle.size(), size_t(handle) + 1), nullptr);
        byHandle[size_t(handle)] = instrument;
        return handle;
    }
    sim::Instrument *instrument(int handle) const {
        return handle >= 0 && size_t(handle) < byHandle.size() ? byHandle[size_t(handle)] : nullptr;
    }
    QString portName(int handle) const { return testbed->portName(handle); }
    bool isPlugged(int handle) const { return testbed->isPlugged(handle); }
    void unplug(int handle) { testbed->unplug(handle); }
    void replug(int handle) { testbed->replug(handle); }
    void unplugAll() {
        for (int handle : handles)
            testbed->unplug(handle);
        handles.clear();
    }
    void stop() {
        unplugAll();
        testbed.reset();
    }

private:
    std::vector<std::unique_ptr<sim::Instrument>> instruments;
    std::vector<sim::Instrument *> byHandle;
    std::vector<int> handles;
    std::unique_ptr<sim::Testbed> testbed;
};

// Deletes the windows a destroyed panel left behind (port list, remote window).
inline void deleteLeftWindows() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace linkbench
