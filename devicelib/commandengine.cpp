#include "commandengine.h"

#include "generator.h"
#include "models.h"

#include <cmath>

namespace rfgen {

using scpi::Header;

namespace {
bool levelInDbm(Generator *generator) {
    const ModelSpec *spec = modelSpec(generator->modelCode());
    return spec && spec->levelInDbm;
}
} // namespace

CommandEngine::CommandEngine(Generator *generator) : generator(generator) {}

QByteArray CommandEngine::execute(const QByteArray &line) {
    QList<QByteArray> fields;
    bool anyQuery = false;
    for (const QByteArray &text : scpi::splitCommands(line)) {
        scpi::Command command;
        const scpi::ErrorCode parsed = scpi::parseCommand(text, command);
        anyQuery = anyQuery || command.query;
        if (parsed != scpi::NoError)
            queue.push(parsed);
        else
            run(command, fields);
    }
    if (!anyQuery)
        return QByteArray();
    const QByteArray reply = fields.join(';');
    return reply.isNull() ? QByteArray("") : reply; // a reply line even with no fields
}

void CommandEngine::run(const scpi::Command &command, QList<QByteArray> &fields) {
    // The error queue and *OPC? stay usable without an instrument, so a
    // client can learn why its commands fail.
    if (runLocal(command, fields))
        return;
    if (!generator->isConnected()) {
        queue.push(scpi::HardwareMissing);
        return;
    }
    if (command.query)
        runQuery(command.header, fields);
    else
        runSetting(command);
}

bool CommandEngine::runLocal(const scpi::Command &command, QList<QByteArray> &fields) {
    switch (command.header) {
    case Header::SystErr:
        if (!command.query)
            queue.push(scpi::CommandError);
        else
            fields.append(scpi::errorReply(queue.pop()));
        return true;
    case Header::Cls:
        if (command.query || !command.argument.isEmpty())
            queue.push(scpi::CommandError);
        else
            queue.clear();
        return true;
    case Header::Opc:
        if (command.query)
            fields.append("1");
        return command.query;
    default:
        return false;
    }
}

QByteArray CommandEngine::readInstrument(const QByteArray &query) {
    QByteArray reply;
    if (!generator->query(query, reply))
        queue.push(scpi::HardwareMissing);
    return reply;
}

void CommandEngine::runQuery(Header header, QList<QByteArray> &fields) {
    if (header == Header::Idn) {
        // Right after connecting the identification may not be in yet.
        const QByteArray known = generator->identification().toLatin1();
        const QByteArray reply = known.isEmpty() ? readInstrument("*IDN?") : known;
        if (!reply.isEmpty())
            fields.append(reply);
        return;
    }
    if (header == Header::Rst || header == Header::Opc) {
        queue.push(scpi::UndefinedHeader);
        return;
    }
    const bool dbmModel = levelInDbm(generator);
    const bool volt = header == Header::Volt, pow = header == Header::Pow;
    if ((volt && dbmModel) || (pow && !dbmModel)) {
        // The instrument holds the other unit: read it and convert.
        double level = 0;
        const QByteArray reply = readInstrument(dbmModel ? "POW?" : "VOLT?");
        if (!scpi::parseNumber(reply, level))
            return;
        fields.append(scpi::formatNumber(volt ? roundToStep(dbmToVolts(level), 1e-6)
                                              : roundToStep(voltsToDbm(level), 0.01)));
        return;
    }
    const QByteArray reply = readInstrument(scpi::shortHeader(header) + '?');
    if (!reply.isNull())
        fields.append(reply);
}

void CommandEngine::runSetting(const scpi::Command &command) {
    switch (command.header) {
    case Header::Idn:
        queue.push(scpi::CommandError);
        return;
    case Header::Rst:
        if (!command.argument.isEmpty())
            queue.push(scpi::CommandError);
        else
            reset();
        return;
    case Header::Outp:
    case Header::FmState: {
        bool on = false;
        if (!scpi::parseSwitch(command.argument, on))
            queue.push(scpi::CommandError);
        else
            setSwitch(command.header, on);
        return;
    }
    case Header::LevMode:
    case Header::FmMode:
        setKeyword(command.header, command.argument.toUpper());
        return;
    default:
        break;
    }
    double value = 0;
    if (!scpi::parseNumber(command.argument, value))
        queue.push(scpi::CommandError);
    else
        setNumber(command.header, value);
}

void CommandEngine::setNumber(Header header, double value) {
    bool accepted = true;
    switch (header) {
    case Header::Freq:
        if ((accepted = generator->setFrequency(value)))
            emit generator->newFrequency(value);
        break;
    case Header::Pow:
        value = dbmToVolts(value);
        [[fallthrough]];
    case Header::Volt:
        if ((accepted = generator->setAmplitude(value)))
            emit generator->newAmplitude(value);
        break;
    case Header::Att:
        if ((accepted = generator->setAttenuation(value)))
            emit generator->newAttenuation(value);
        break;
    case Header::FmStart:
        sweep.start = value;
        break;
    case Header::FmStop:
        sweep.stop = value;
        break;
    case Header::FmStep:
        sweep.step = value;
        break;
    case Header::FmPeriod:
        sweep.period = value;
        break;
    default:
        queue.push(scpi::CommandError);
        return;
    }
    if (!accepted)
        queue.push(scpi::DataOutOfRange);
}

void CommandEngine::setSwitch(Header header, bool on) {
    if (header == Header::Outp) {
        if (generator->setState(on))
            emit generator->newState(on);
        else
            queue.push(scpi::DataOutOfRange);
        return;
    }
    if (on)
        startSweep();
    else
        generator->stopFm();
}

void CommandEngine::setKeyword(Header header, const QByteArray &word) {
    static const QByteArray levelModes[] = {"AMPL", "ATT"};
    static const QByteArray fmKinds[] = {"UP", "DOWN", "HOP"};
    const bool level = header == Header::LevMode;
    const int count = level ? 2 : 3;
    for (int i = 0; i < count; ++i) {
        if (word != (level ? levelModes[i] : fmKinds[i]))
            continue;
        if (level)
            generator->setLevelControl(i);
        else
            generator->setFmMode(i);
        return;
    }
    queue.push(scpi::CommandError);
}

// Sweep settings the client did not give are taken from the instrument.
void CommandEngine::startSweep() {
    const QByteArray reply = readInstrument("FM:STAR?;FM:STOP?;FM:STEP?;FM:PER?");
    const QList<QByteArray> held = reply.split(';');
    if (held.size() != 4)
        return;
    double values[4] = {0, 0, 0, 0};
    const std::optional<double> given[4] = {sweep.start, sweep.stop, sweep.step, sweep.period};
    for (int i = 0; i < 4; ++i)
        if (!(given[i] ? (values[i] = *given[i], true) : scpi::parseNumber(held[i], values[i])))
            return queue.push(scpi::CommandError);
    if (!generator->startFm(values[0], values[1], values[2], values[3]))
        return queue.push(scpi::SettingsConflict);
    sweep = SweepSettings();
    emit generator->newTFm(values[3]);
}

// Power-on state, then every value is reported so the panel shows it.
void CommandEngine::reset() {
    generator->send("*RST");
    sweep = SweepSettings();
    const QByteArray reply = readInstrument(
        levelInDbm(generator) ? "FREQ?;POW?;ATT?;OUTP?;FM:PER?" : "FREQ?;VOLT?;ATT?;OUTP?;FM:PER?");
    const QList<QByteArray> f = reply.split(';');
    double v[5];
    if (f.size() != 5)
        return;
    for (int i = 0; i < 5; ++i)
        if (!scpi::parseNumber(f[i], v[i]))
            return;
    emit generator->newFrequency(v[0]);
    emit generator->newAmplitude(levelInDbm(generator) ? dbmToVolts(v[1]) : v[1]);
    emit generator->newAttenuation(v[2]);
    emit generator->newState(v[3] != 0);
    emit generator->newTFm(v[4]);
}

} // namespace rfgen
