#include "instrument.h"

#include "models.h"
#include "scpi.h"

#include <QMutexLocker>
#include <QThread>

#include <cmath>
#include <utility>

using namespace rfgen;
using namespace rfgen::scpi;

namespace sim {

namespace {
constexpr int maxLineBytes = 256;
constexpr int maxRecordedLines = 10000;
} // namespace

struct Instrument::State {
    const ModelSpec *spec = nullptr;
    QString serial;
    double frequency = 0;
    double level = 0; // V, or dBm for a dBm model
    double attenuation = 0;
    bool output = false;
    bool levelModeAtt = false;
    int fmKind = 0;
    double fmStart = 0, fmStop = 0, fmStep = 0, fmPeriod = 0;
    bool fmRunning = false;
    ErrorQueue errors;
    QByteArray pending;
    bool discarding = false;
    bool silent = false;
    bool garbage = false;
    int nextReplyDelayMs = 0;
    QList<QByteArray> received;

    void reset();
    void execute(const Command &command, QList<QByteArray> &fields);
    QByteArray query(Header header);
    int set(Header header, const QByteArray &argument);
    int setNumber(Header header, double value);
    int setLevel(double value);
    int setAttenuation(double value);
    int setFrequencyLike(double &target, double value);
    int startSweep();
    bool frequencyInRange(double hz) const {
        return hz >= spec->minFrequencyHz && hz <= spec->maxFrequencyHz;
    }
};

void Instrument::State::reset() {
    frequency = resetFrequencyHz;
    level = spec->levelInDbm ? resetLevelDbm : resetAmplitudeV;
    attenuation = 0;
    output = false;
    levelModeAtt = false;
    fmKind = 0;
    fmStart = fmStop = fmStep = 0;
    fmPeriod = resetFmPeriodS;
    fmRunning = false;
}

Instrument::Instrument(int modelCode, const QString &serial) : s(std::make_unique<State>()) {
    s->spec = modelSpec(modelCode);
    if (!s->spec)
        s->spec = modelSpec(OrvexModel);
    s->serial = serial;
    s->reset();
}

Instrument::~Instrument() = default;

int Instrument::modelCode() const {
    return s->spec->code;
}

UsbIdentity Instrument::usbIdentity() const {
    return usbIdentityFor(s->spec->code, s->serial);
}

UsbIdentity Instrument::usbIdentityFor(int modelCode, const QString &serial) {
    static const char *const manufacturers[] = {"Orvex Instruments", "Pylar Lab",
                                                "Quendt Messtechnik"};
    const ModelSpec *spec = modelSpec(modelCode);
    if (!spec)
        spec = modelSpec(OrvexModel);
    UsbIdentity id;
    id.vendorId = 0x1209;
    id.productId = quint16(spec->code + 1);
    id.manufacturer = QString::fromLatin1(manufacturers[spec->code]);
    id.product = QString::fromLatin1(spec->product) + QStringLiteral(" RF generator");
    id.serial = serial;
    return id;
}

QByteArray Instrument::receive(const QByteArray &bytes) {
    QMutexLocker lock(&mutex);
    QByteArray out;
    for (char c : bytes) {
        if (c != '\n') {
            if (s->discarding)
                continue;
            s->pending += c;
            if (s->pending.size() > maxLineBytes) {
                s->pending.clear();
                s->discarding = true;
            }
            continue;
        }
        if (s->discarding) {
            s->discarding = false;
            s->errors.push(TooMuchData);
            continue;
        }
        QByteArray line = s->pending;
        s->pending.clear();
        if (line.endsWith('\r'))
            line.chop(1);
        lock.unlock();
        const QByteArray reply = handleLine(line);
        lock.relock();
        if (s->silent || reply.isEmpty())
            continue;
        if (s->nextReplyDelayMs > 0) {
            const int delay = std::exchange(s->nextReplyDelayMs, 0);
            lock.unlock();
            QThread::msleep(ulong(delay));
            lock.relock();
        }
        out += s->garbage ? QByteArray("\x15#\xfe?garbage\xff\r\n") : reply + '\n';
    }
    return out;
}

QByteArray Instrument::handleLine(const QByteArray &line) {
    QMutexLocker lock(&mutex);
    if (s->received.size() >= maxRecordedLines)
        s->received.removeFirst();
    s->received.append(line);
    QList<QByteArray> fields;
    for (const QByteArray &text : splitCommands(line)) {
        Command command;
        const ErrorCode parsed = parseCommand(text, command);
        const int fieldsBefore = fields.size();
        if (parsed != NoError)
            s->errors.push(parsed);
        else
            s->execute(command, fields);
        if (command.query && fields.size() == fieldsBefore)
            fields.append(""); // every query has its field, empty when it failed
    }
    return fields.join(';');
}

void Instrument::State::execute(const Command &command, QList<QByteArray> &fields) {
    const bool levelHeaderWrong = (command.header == Header::Volt && spec->levelInDbm) ||
                                  (command.header == Header::Pow && !spec->levelInDbm);
    // The lock and the saved set-ups are the bridge's.
    if (levelHeaderWrong || isLockHeader(command.header) || isSetupHeader(command.header)) {
        errors.push(UndefinedHeader);
        return;
    }
    if (command.query) {
        // The instrument's queries take no argument (no MIN or MAX).
        const QByteArray reply = command.argument.isEmpty() ? query(command.header) : QByteArray();
        if (reply.isNull())
            errors.push(CommandError);
        else
            fields.append(reply);
        return;
    }
    const int code = set(command.header, command.argument);
    if (code != NoError)
        errors.push(code);
}

QByteArray Instrument::State::query(Header header) {
    switch (header) {
    case Header::Idn:
        return QByteArray(spec->maker) + ',' + spec->product + ',' + serial.toLatin1() + ",1.4.2";
    case Header::Opc:
        return "1";
    case Header::SystErr:
        return errorReply(errors.pop());
    case Header::Freq:
        return formatNumber(frequency);
    case Header::Volt:
    case Header::Pow:
        return formatNumber(level);
    case Header::Att:
        return formatNumber(attenuation);
    case Header::Outp:
        return output ? "1" : "0";
    case Header::LevMode:
        return levelModeKeyword(levelModeAtt ? 1 : 0);
    case Header::FmMode:
        return fmKindKeyword(fmKind);
    case Header::FmStart:
        return formatNumber(fmStart);
    case Header::FmStop:
        return formatNumber(fmStop);
    case Header::FmStep:
        return formatNumber(fmStep);
    case Header::FmPeriod:
        return formatNumber(fmPeriod);
    case Header::FmState:
        return fmRunning ? "1" : "0";
    default:
        return QByteArray(); // *RST? and *CLS? have no answer
    }
}

int Instrument::State::set(Header header, const QByteArray &argument) {
    bool on = false;
    switch (header) {
    case Header::Rst:
    case Header::Cls:
        if (!argument.isEmpty())
            return CommandError;
        if (header == Header::Rst)
            reset();
        else
            errors.clear();
        return NoError;
    case Header::Outp:
    case Header::FmState:
        if (!parseSwitch(argument, on))
            return CommandError;
        if (header == Header::Outp) {
            output = on;
            return NoError;
        }
        if (!on) {
            fmRunning = false;
            return NoError;
        }
        return startSweep();
    case Header::LevMode: {
        const int control = parseLevelMode(argument);
        if (control < 0)
            return CommandError;
        levelModeAtt = control == 1;
        return NoError;
    }
    case Header::FmMode: {
        const int kind = parseFmKind(argument);
        if (kind < 0)
            return CommandError;
        fmKind = kind;
        return NoError;
    }
    default:
        break;
    }
    double value = 0;
    if (!parseNumber(argument, value))
        return CommandError;
    return setNumber(header, value);
}

int Instrument::State::setNumber(Header header, double value) {
    switch (header) {
    case Header::Freq:
        return setFrequencyLike(frequency, value);
    case Header::Volt:
    case Header::Pow:
        return setLevel(value);
    case Header::Att:
        return setAttenuation(value);
    case Header::FmStart:
        return setFrequencyLike(fmStart, value);
    case Header::FmStop:
        return setFrequencyLike(fmStop, value);
    case Header::FmStep: {
        const double step = roundToStep(value, frequencyResolutionHz);
        if (step < 0 || step > spec->maxFrequencyHz)
            return DataOutOfRange;
        fmStep = step;
        return NoError;
    }
    case Header::FmPeriod: {
        const double period = roundToStep(value, fmPeriodStepS);
        if (period < minFmPeriodS || period > maxFmPeriodS)
            return DataOutOfRange;
        fmPeriod = period;
        return NoError;
    }
    default:
        return CommandError; // *IDN, *OPC and SYST:ERR are queries only
    }
}

int Instrument::State::setFrequencyLike(double &target, double value) {
    const double hz = roundToStep(value, frequencyResolutionHz);
    if (!frequencyInRange(hz))
        return DataOutOfRange;
    target = hz;
    return NoError;
}

int Instrument::State::setLevel(double value) {
    const double rounded = roundToStep(value, spec->levelStep);
    if (rounded < spec->minLevel - 1e-9 || rounded > spec->maxLevel + 1e-9)
        return DataOutOfRange;
    level = rounded;
    return NoError;
}

int Instrument::State::setAttenuation(double value) {
    const double rounded = roundToStep(value, spec->attenuationStepDb);
    if (rounded < 0 || rounded > spec->maxAttenuationDb + 1e-9)
        return DataOutOfRange;
    attenuation = rounded;
    return NoError;
}

int Instrument::State::startSweep() {
    const bool conflict = fmStart >= fmStop || fmStep <= 0 || fmStep > fmStop - fmStart ||
                          fmPeriod < minFmPeriodS ||
                          fmPointCount(fmStart, fmStop, fmStep) > maxFmPoints;
    if (conflict)
        return SettingsConflict;
    fmRunning = true;
    return NoError;
}

void Instrument::setFrequency(double hz) {
    QMutexLocker lock(&mutex);
    s->frequency = hz;
}

void Instrument::setAmplitude(double volts) {
    QMutexLocker lock(&mutex);
    s->level = s->spec->levelInDbm ? roundToStep(voltsToDbm(volts), s->spec->levelStep) : volts;
}

void Instrument::setAttenuation(double dB) {
    QMutexLocker lock(&mutex);
    s->attenuation = dB;
}

void Instrument::setSerial(const QString &serial) {
    QMutexLocker lock(&mutex);
    s->serial = serial;
}

void Instrument::setOutput(bool on) {
    QMutexLocker lock(&mutex);
    s->output = on;
}

void Instrument::setFmPeriod(double seconds) {
    QMutexLocker lock(&mutex);
    s->fmPeriod = seconds;
}

double Instrument::frequency() const {
    QMutexLocker lock(&mutex);
    return s->frequency;
}

double Instrument::amplitude() const {
    QMutexLocker lock(&mutex);
    return s->spec->levelInDbm ? dbmToVolts(s->level) : s->level;
}

double Instrument::attenuation() const {
    QMutexLocker lock(&mutex);
    return s->attenuation;
}

bool Instrument::output() const {
    QMutexLocker lock(&mutex);
    return s->output;
}

double Instrument::fmPeriod() const {
    QMutexLocker lock(&mutex);
    return s->fmPeriod;
}

QByteArray Instrument::setting(const QByteArray &queryText) {
    QMutexLocker lock(&mutex);
    Command command;
    if (parseCommand(queryText, command) != NoError || !command.query)
        return QByteArray();
    return s->query(command.header);
}

void Instrument::setSilent(bool silent) {
    QMutexLocker lock(&mutex);
    s->silent = silent;
}

void Instrument::delayNextReply(int milliseconds) {
    QMutexLocker lock(&mutex);
    s->nextReplyDelayMs = milliseconds;
}

void Instrument::setGarbage(bool garbage) {
    QMutexLocker lock(&mutex);
    s->garbage = garbage;
}

QList<QByteArray> Instrument::receivedLines() const {
    QMutexLocker lock(&mutex);
    return s->received;
}

QList<QByteArray> Instrument::receivedRequests() const {
    QList<QByteArray> requests = receivedLines();
    for (QByteArray &line : requests)
        while (line.startsWith("*IDN?;"))
            line.remove(0, 6);
    return requests;
}

void Instrument::clearReceivedLines() {
    QMutexLocker lock(&mutex);
    s->received.clear();
}

} // namespace sim
