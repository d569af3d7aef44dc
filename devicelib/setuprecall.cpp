// Taking a set-up from the instrument and sending one to it.
#include "setups.h"

#include "generator.h"
#include "models.h"
#include "scpi.h"

namespace rfgen::setups {

namespace {

// The instrument's level in volts, as the driver's interface holds it.
bool currentLevel(Generator &generator, double &volts) {
    const bool dbm = levelInDbm(generator.modelCode());
    QByteArray reply;
    double level = 0;
    if (!generator.query(dbm ? "POW?" : "VOLT?", reply) || !scpi::parseNumber(reply, level))
        return false;
    volts = dbm ? dbmToVolts(level) : level;
    return true;
}

double levelVolts(const Setup &setup) {
    return setup.amplitudeV ? *setup.amplitudeV : dbmToVolts(*setup.powerDbm);
}

class Sender {
public:
    Sender(Generator &generator, bool report, Recall &recall)
        : generator(generator), report(report), recall(recall) {}

    void frequency(double hz) {
        send(&Generator::setFrequency, hz, &Generator::newFrequency, Part::Frequency,
             recall.held.frequencyHz);
    }
    void level(double volts) {
        send(&Generator::setAmplitude, volts, &Generator::newAmplitude, Part::Level,
             recall.held.amplitudeV);
    }
    void attenuation(double dB) {
        send(&Generator::setAttenuation, dB, &Generator::newAttenuation, Part::Attenuation,
             recall.held.attenuationDb);
    }
    void sweep(const Setup &setup) {
        if (givenUp(Part::Sweep))
            return;
        double start = *setup.sweepStartHz, stop = *setup.sweepStopHz;
        double step = *setup.sweepStepHz, period = *setup.sweepPeriodS;
        if (!generator.setFmSettings(start, stop, step, period))
            recall.refused << Part::Sweep;
        else if (report)
            emit generator.newTFm(period);
        Setup &held = recall.held;
        held.sweepStartHz = start;
        held.sweepStopHz = stop;
        held.sweepStepHz = step;
        held.sweepPeriodS = period;
    }

private:
    Generator &generator;
    bool report;
    Recall &recall;

    // An instrument that stopped answering costs one wait, not one per value.
    bool givenUp(Part part) {
        if (generator.isResponding())
            return false;
        recall.refused << part;
        return true;
    }

    // As a typed value: what the instrument took is held, also when it took
    // another value than the one asked for.
    void send(bool (Generator::*set)(double &), double value, void (Generator::*signal)(double),
              Part part, std::optional<double> &held) {
        if (givenUp(part))
            return;
        const double asked = value;
        const bool accepted = (generator.*set)(value);
        if (accepted || value != asked) {
            held = value;
            if (report)
                emit(generator.*signal)(value);
        }
        if (!accepted)
            recall.refused << part;
    }
};

// The level falls first when it falls, else the attenuation goes first: the
// output never passes above both the old and the new level on the way.
void sendLevels(Generator &generator, const Setup &setup, Sender &sender) {
    double now = 0;
    const bool levelFirst = setup.hasLevel() && setup.attenuationDb &&
                            currentLevel(generator, now) && levelVolts(setup) < now;
    if (levelFirst)
        sender.level(levelVolts(setup));
    if (setup.attenuationDb)
        sender.attenuation(*setup.attenuationDb);
    if (setup.hasLevel() && !levelFirst)
        sender.level(levelVolts(setup));
}

} // namespace

bool capture(Generator &generator, Setup &setup) {
    const bool dbm = levelInDbm(generator.modelCode());
    const QByteArray line = dbm ? "FREQ?;POW?;ATT?;FM:STAR?;FM:STOP?;FM:STEP?;FM:PER?"
                                : "FREQ?;VOLT?;ATT?;FM:STAR?;FM:STOP?;FM:STEP?;FM:PER?";
    QByteArray reply;
    if (!generator.query(line, reply))
        return false;
    const QList<QByteArray> fields = reply.split(';');
    double v[7] = {};
    if (fields.size() != 7)
        return false;
    for (int i = 0; i < 7; ++i)
        if (!scpi::parseNumber(fields[i], v[i]))
            return false;
    setup = Setup();
    setup.frequencyHz = v[0];
    (dbm ? setup.powerDbm : setup.amplitudeV) = v[1];
    setup.attenuationDb = v[2];
    setup.takeSweepIfSetUp(v[3], v[4], v[5], v[6]);
    setup.levelControl = generator.getLevelControl();
    setup.fmKind = generator.getFmMode();
    setup.grid = generator.getFrequencyGrid();
    return true;
}

Recall apply(Generator &generator, const Setup &setup, bool report) {
    Recall recall;
    Sender sender(generator, report, recall);
    generator.stopFm();
    // The grid first: it decides how the frequencies are rounded.
    if (setup.grid)
        generator.setFrequencyGrid(*setup.grid);
    if (setup.levelControl)
        generator.setLevelControl(*setup.levelControl);
    if (setup.fmKind)
        generator.setFmMode(*setup.fmKind);
    recall.held.grid = generator.getFrequencyGrid();
    recall.held.levelControl = generator.getLevelControl();
    recall.held.fmKind = generator.getFmMode();
    sendLevels(generator, setup, sender);
    if (setup.frequencyHz)
        sender.frequency(*setup.frequencyHz);
    if (setup.hasSweep())
        sender.sweep(setup);
    return recall;
}

} // namespace rfgen::setups
