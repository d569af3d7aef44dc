#pragma once

#include "scpi.h"

#include <QByteArray>
#include <QPointer>

#include <optional>

class Generator;

namespace rfgen {

// Runs a client's command lines on a generator through the same driver
// operations as the front panel; refusals go to the client's own error queue.
// Values are in interface units: VOLT in volts for every model, POW in dBm.
// Numbers may carry a unit suffix or be MIN, MAX or DEF; the engine turns them
// into plain numbers before the driver, so the instrument never sees them.
class CommandEngine {
public:
    // client names it ("ADDRESS:PORT") as the holder of the instrument's lock.
    explicit CommandEngine(Generator *generator, const QString &client = QString());
    ~CommandEngine();
    CommandEngine(const CommandEngine &) = delete;
    CommandEngine &operator=(const CommandEngine &) = delete;

    // Runs one line; returns the reply line, or a null array when the line held
    // no query.
    QByteArray execute(const QByteArray &line);
    scpi::ErrorQueue &errors() { return queue; }
    // The instrument's lock for this client, as SYST:LOCK:REQ? takes it.
    bool requestLock();
    // Gives back the instrument's lock, if this client holds it (it left).
    void releaseLock();
    bool holdsLock() const;

private:
    struct SweepSettings {
        std::optional<double> start, stop, step, period;
    };

    QPointer<Generator> generator; // a handler of its reports may delete it
    QString client;
    scpi::ErrorQueue queue;
    SweepSettings sweep;
    bool lineFailed = false;

    void run(const scpi::Command &command, QList<QByteArray> &fields);
    bool runLocal(const scpi::Command &command, QList<QByteArray> &fields);
    void runLock(const scpi::Command &command, QList<QByteArray> &fields);
    void runQuery(const scpi::Command &command, QList<QByteArray> &fields);
    bool isConvertedLevel(scpi::Header header) const;
    QByteArray formatValue(scpi::Header header, double value) const;
    // MIN, MAX or DEF of a number: the model's limits and power-on value.
    double boundValue(scpi::Header header, scpi::Bound bound) const;
    void runSetting(const scpi::Command &command);
    void setNumber(scpi::Header header, double value);
    void applySetting(double value, bool (Generator::*set)(double &),
                      void (Generator::*report)(double));
    void setSwitch(scpi::Header header, bool on);
    void setKeyword(scpi::Header header, const QByteArray &word);
    void startSweep();
    void reset();
    // *SAV n and *RCL n: the set-ups named "0" to "9" in the user's folder.
    void runSetup(const scpi::Command &command);
    void saveSetup(const QString &name);
    void recallSetup(const QString &name);
    QByteArray readInstrument(const QByteArray &query);
};

} // namespace rfgen
