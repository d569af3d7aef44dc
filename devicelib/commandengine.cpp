#include "commandengine.h"

#include "controllock.h"
#include "generator.h"
#include "models.h"
#include "setups.h"

#include <cmath>

namespace rfgen {

using scpi::Header;

CommandEngine::CommandEngine(Generator *generator, const QString &client)
    : generator(generator), client(client) {}

CommandEngine::~CommandEngine() {
    releaseLock();
}

bool CommandEngine::holdsLock() const {
    return generator && generator->controlLock().isHeldBy(this);
}

bool CommandEngine::requestLock() {
    return generator && generator->controlLock().request(this, client);
}

void CommandEngine::releaseLock() {
    if (generator)
        generator->controlLock().releaseAllOf(this);
}

QByteArray CommandEngine::execute(const QByteArray &line) {
    QList<QByteArray> fields;
    bool anyQuery = false;
    lineFailed = false;
    for (const QByteArray &text : scpi::splitCommands(line)) {
        scpi::Command command;
        const scpi::ErrorCode parsed = scpi::parseCommand(text, command);
        anyQuery = anyQuery || command.query;
        const int fieldsBefore = fields.size();
        if (parsed != scpi::NoError)
            queue.push(parsed);
        else
            run(command, fields);
        if (command.query && fields.size() == fieldsBefore)
            fields.append(""); // every query has its field, empty when it failed
    }
    if (!anyQuery)
        return QByteArray();
    return fields.join(';');
}

void CommandEngine::run(const scpi::Command &command, QList<QByteArray> &fields) {
    if (const scpi::ErrorCode typeError = scpi::argumentTypeError(command)) {
        queue.push(typeError);
        return;
    }
    // The error queue and *OPC? stay usable without an instrument, so a
    // client can learn why its commands fail.
    if (runLocal(command, fields))
        return;
    // Another client's lock: its queries go on, its settings are not carried out.
    if (!command.query && generator && generator->controlLock().isHeldByOtherThan(this)) {
        queue.push(scpi::CommandProtected);
        return;
    }
    // Once the instrument did not answer, the rest of the line fails at once
    // instead of waiting for it again and again.
    if (!generator || !generator->isConnected() || lineFailed) {
        queue.push(scpi::HardwareMissing);
        return;
    }
    if (command.query)
        runQuery(command, fields);
    else
        runSetting(command);
    lineFailed = !generator || !generator->isResponding();
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
        if (command.query)
            queue.push(scpi::CommandError);
        else
            queue.clear();
        return true;
    case Header::Opc:
        if (command.query)
            fields.append("1");
        return command.query;
    case Header::LockRequest:
    case Header::LockRelease:
    case Header::LockOwner:
        runLock(command, fields);
        return true;
    default:
        return false;
    }
}

// SYST:LOCK:REQ? answers 1 when this client now holds the lock (one more
// level), REL gives a level back, OWN? names the holder.
void CommandEngine::runLock(const scpi::Command &command, QList<QByteArray> &fields) {
    const bool isQuery = command.header != Header::LockRelease; // REQ? and OWN? only as queries
    if (command.query != isQuery) {
        queue.push(scpi::CommandError);
        return;
    }
    if (!generator) {
        queue.push(scpi::HardwareMissing);
        return;
    }
    ControlLock &lock = generator->controlLock();
    switch (command.header) {
    case Header::LockRequest:
        fields.append(requestLock() ? "1" : "0");
        break;
    case Header::LockRelease:
        if (!lock.release(this))
            queue.push(scpi::SettingsConflict); // this client holds no lock
        break;
    default: {
        const QString owner = lock.isHeld() ? "LAN" + lock.holderName() : QStringLiteral("NONE");
        fields.append('"' + owner.toLatin1() + '"');
    }
    }
}

QByteArray CommandEngine::readInstrument(const QByteArray &query) {
    QByteArray reply;
    if (!generator->query(query, reply))
        queue.push(scpi::HardwareMissing);
    return reply;
}

void CommandEngine::runQuery(const scpi::Command &command, QList<QByteArray> &fields) {
    const Header header = command.header;
    if (!command.argument.isEmpty()) { // MIN, MAX or DEF: the model's, not the instrument's
        fields.append(formatValue(header, boundValue(header, scpi::parseBound(command.argument))));
        return;
    }
    if (header == Header::Idn) {
        // Right after connecting the identification may not be in yet.
        const QByteArray known = generator->identification().toLatin1();
        const QByteArray reply = known.isEmpty() ? readInstrument("*IDN?") : known;
        if (!reply.isEmpty())
            fields.append(reply);
        return;
    }
    if (header == Header::Rst || header == Header::Opc || scpi::isSetupHeader(header)) {
        queue.push(scpi::UndefinedHeader);
        return;
    }
    if (isConvertedLevel(header)) {
        // The instrument holds the other unit: read it and convert.
        const bool volt = header == Header::Volt;
        double level = 0;
        const QByteArray reply = readInstrument(volt ? "POW?" : "VOLT?");
        if (scpi::parseNumber(reply, level))
            fields.append(formatValue(header, volt ? dbmToVolts(level) : voltsToDbm(level)));
        return;
    }
    const QByteArray reply = readInstrument(scpi::shortHeader(header) + '?');
    if (!reply.isNull())
        fields.append(reply);
}

bool CommandEngine::isConvertedLevel(Header header) const {
    const bool dbmModel = levelInDbm(generator->modelCode());
    return (header == Header::Volt && dbmModel) || (header == Header::Pow && !dbmModel);
}

// As the plain query answers: a level converted from the model's own unit is
// rounded to 1 uV or 0.01 dB.
QByteArray CommandEngine::formatValue(Header header, double value) const {
    if (isConvertedLevel(header))
        value = roundToStep(value, header == Header::Volt ? 1e-6 : 0.01);
    return scpi::formatNumber(value);
}

double CommandEngine::boundValue(Header header, scpi::Bound bound) const {
    SettingRange range;
    settingRange(*modelSpec(generator->modelCode()), header, generator->getFrequencyGrid(), range);
    return bound == scpi::Bound::Min   ? range.min
           : bound == scpi::Bound::Max ? range.max
                                       : range.reset;
}

void CommandEngine::runSetting(const scpi::Command &command) {
    switch (command.header) {
    case Header::Rst:
        reset();
        return;
    case Header::Sav:
    case Header::Rcl:
        runSetup(command);
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
        setKeyword(command.header, command.argument);
        return;
    default:
        break;
    }
    const scpi::Unit unit = scpi::unitOf(command.header);
    if (unit == scpi::Unit::None) // *IDN and *OPC are queries here
        return queue.push(scpi::CommandError);
    scpi::NumericArgument argument;
    if (const scpi::ErrorCode error = scpi::parseNumericArgument(command.argument, unit, argument))
        return queue.push(error);
    const bool bound = argument.bound != scpi::Bound::None;
    setNumber(command.header, bound ? boundValue(command.header, argument.bound) : argument.value);
}

void CommandEngine::setNumber(Header header, double value) {
    switch (header) {
    case Header::Freq:
        return applySetting(value, &Generator::setFrequency, &Generator::newFrequency);
    case Header::Pow:
        return applySetting(dbmToVolts(value), &Generator::setAmplitude, &Generator::newAmplitude);
    case Header::Volt:
        return applySetting(value, &Generator::setAmplitude, &Generator::newAmplitude);
    case Header::Att:
        return applySetting(value, &Generator::setAttenuation, &Generator::newAttenuation);
    case Header::FmStart:
        sweep.start = value;
        return;
    case Header::FmStop:
        sweep.stop = value;
        return;
    case Header::FmStep:
        sweep.step = value;
        return;
    case Header::FmPeriod:
        sweep.period = value;
        return;
    default:
        return;
    }
}

// The panel hears of every value the instrument now holds, also when it took
// another value than the one asked for.
void CommandEngine::applySetting(double value, bool (Generator::*set)(double &),
                                 void (Generator::*report)(double)) {
    const double requested = value;
    const bool accepted = (generator.data()->*set)(value);
    if (accepted || value != requested)
        (generator.data()->*report)(value);
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
    const bool level = header == Header::LevMode;
    const int code = level ? scpi::parseLevelMode(word) : scpi::parseFmKind(word);
    if (code < 0)
        queue.push(scpi::CommandError);
    else if (level)
        generator->setLevelControl(code);
    else
        generator->setFmMode(code);
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

void CommandEngine::runSetup(const scpi::Command &command) {
    if (command.argument.isEmpty())
        return queue.push(scpi::MissingParameter);
    double number = -1;
    if (!scpi::parseNumber(command.argument, number))
        return queue.push(scpi::CommandError);
    if (number < 0 || number > 9 || number != std::floor(number))
        return queue.push(scpi::DataOutOfRange);
    const QString name = QString::number(int(number));
    if (command.header == Header::Sav)
        saveSetup(name);
    else
        recallSetup(name);
}

void CommandEngine::saveSetup(const QString &name) {
    setups::Setup setup;
    QString why;
    if (!setups::capture(*generator, setup))
        return queue.push(scpi::HardwareMissing);
    if (!setups::save(setups::folder(), name, setup, why))
        queue.push(scpi::MassStorageError);
}

// A file that cannot be read or parsed sends nothing.
void CommandEngine::recallSetup(const QString &name) {
    const QString folder = setups::folder();
    if (!setups::exists(folder, name))
        return queue.push(scpi::FileNameNotFound);
    setups::Setup setup;
    QString why;
    if (!setups::load(folder, name, setup, why))
        return queue.push(scpi::MassStorageError);
    const setups::Recall recall = setups::apply(*generator, setup, true);
    for (int i = 0; i < recall.refused.size(); ++i)
        queue.push(scpi::DataOutOfRange);
    sweep = SweepSettings(); // a sweep started now runs the recalled one
}

void CommandEngine::reset() {
    generator->resetInstrument();
    sweep = SweepSettings();
}

} // namespace rfgen
