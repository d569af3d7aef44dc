#include "generator_p.h"

#include "probe.h"

#include "remoteserver.h"
#include "scpi.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaMethod>

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <utility>

Q_LOGGING_CATEGORY(lcIo, "rfgen.io")

using namespace rfgen;

namespace {
constexpr int replyTimeoutMs = 500;
constexpr int pollGraceMs = 100;
constexpr int maxBufferBytes = 4096;
// Shown by the panel in its own language; rfgen loads no translation.
QString noAnswerText() {
    return QCoreApplication::translate("rfgen::Generator", "Генератор не отвечает");
}
QString openFailedText() {
    return QCoreApplication::translate("rfgen::Generator", "Не удалось открыть порт");
}
} // namespace

GeneratorPrivate::GeneratorPrivate(Generator *owner) : q(owner) {
    pollTimer.setSingleShot(true);
    replyTimer.setSingleShot(true);
    QObject::connect(&pollTimer, &QTimer::timeout, this, [this] { startAsync(Pending::Poll); });
    QObject::connect(&replyTimer, &QTimer::timeout, this, &GeneratorPrivate::onReplyTimeout);
}

GeneratorPrivate::~GeneratorPrivate() {
    closeLink();
}

void GeneratorPrivate::open(const QSerialPortInfo &info) {
    closeLink();
    ++linkAttempt;
    portName = info.portName();
    port = new QSerialPort(info, this);
    applyLineSettings(*port);
    if (!port->open(QIODevice::ReadWrite)) {
        delete port;
        port = nullptr;
        // Reported after connect() has returned, never from inside it, and
        // only if no later connect() has replaced this attempt meanwhile.
        QTimer::singleShot(0, q, [this, attempt = linkAttempt] {
            if (attempt != linkAttempt)
                return;
            emit q->error(openFailedText());
            emit q->disconnected();
        });
        return;
    }
    port->clear(QSerialPort::AllDirections); // nothing left over from an earlier user
    QObject::connect(port, &QSerialPort::readyRead, this, &GeneratorPrivate::onReadyRead);
    QObject::connect(port, &QSerialPort::errorOccurred, this, &GeneratorPrivate::onPortError);
    last = LastKnown();
    missedReplies = 0;
    outage = false;
    needResync = false;
    startAsync(Pending::Identify);
}

void GeneratorPrivate::closeLink() {
    pollTimer.stop();
    replyTimer.stop();
    pending = Pending::None;
    buffer.clear();
    identification.clear();
    if (!port)
        return;
    QSerialPort *old = port;
    port = nullptr;
    old->disconnect(this);
    old->close();
    old->deleteLater();
}

void GeneratorPrivate::loseLink() {
    if (!port)
        return; // this link's loss was already reported
    closeLink();
    emit q->disconnected();
}

// Whether the line really failed: the other end hung up or the descriptor
// is gone.
bool GeneratorPrivate::lineFailed() const {
    pollfd watch{int(port->handle()), POLLIN, 0};
    return ::poll(&watch, 1, 0) < 0 || (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void GeneratorPrivate::onPortError(QSerialPort::SerialPortError error) {
    // A pty rejects some serial ioctls; a timeout is not a broken link.
    if (error == QSerialPort::NoError || error == QSerialPort::UnsupportedOperationError ||
        error == QSerialPort::TimeoutError)
        return;
    // A read woken for bytes that a waiting call has already taken finds none:
    // Qt reports a read error (or, for EAGAIN, a resource error and stops
    // watching the port), though the line is sound. Watch it again, keep the link.
    const bool readFailed = error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
    if (readFailed && port && !lineFailed()) {
        port->clearError();
        port->setReadBufferSize(port->readBufferSize()); // restarts Qt's read watch
        return;
    }
    if (inSync) {
        lossDuringSync = true;
        return;
    }
    // After a hang-up the port reports ReadError in a tight loop until closed.
    loseLink();
}

void GeneratorPrivate::writeLine(const QByteArray &line, bool logIt) {
    if (verbose && logIt)
        qCInfo(lcIo).noquote() << portName << "<<" << line;
    port->write(line + '\n');
    port->flush();
}

bool GeneratorPrivate::takeLine(QByteArray &line) {
    const int end = buffer.indexOf('\n');
    if (end < 0) {
        if (buffer.size() > maxBufferBytes)
            buffer.clear(); // noise without line ends
        return false;
    }
    line = buffer.left(end);
    buffer.remove(0, end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}

bool GeneratorPrivate::readLineSync(QByteArray &line, QDeadlineTimer deadline) {
    bool got = takeLine(line);
    while (!got && port && !lossDuringSync && !deadline.hasExpired()) {
        if (port->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            buffer += port->readAll();
        got = takeLine(line);
    }
    return got;
}

// An answer to our *IDN? marks where the instrument's replies are in step
// with our requests again.
bool GeneratorPrivate::isIdentification(const QByteArray &line) const {
    return identification.isEmpty() ? modelFromIdentification(line) != NoModel
                                    : line == identification;
}

// A poll on its way when a call comes in is waited for briefly, then given
// up: its answer, if it still comes, is dropped as a late line, and the call
// keeps most of its budget. The identification at connecting is waited for
// within the call's budget. Returns true when a poll was given up.
bool GeneratorPrivate::finishPending(QDeadlineTimer deadline) {
    if (pending == Pending::None || !port)
        return false;
    replyTimer.stop();
    const bool poll = pending == Pending::Poll;
    // A live instrument answers a poll within a few milliseconds.
    const QDeadlineTimer until =
        std::min(pendingDeadline, poll ? QDeadlineTimer(pollGraceMs) : deadline);
    QByteArray line;
    while (pending != Pending::None && readLineSync(line, until))
        handleAsyncReply(line);
    if (pending == Pending::None || lossDuringSync)
        return false;
    if (!poll) {
        missedReply();
        return false;
    }
    pending = Pending::None;
    needResync = true;
    record(Exchange::Origin::Poll, pollLine(), pendingSentAt, nullptr, true);
    return true;
}

// After an answer went missing, a late one could be taken for the answer to
// the next request. The next request is therefore led by *IDN? one, two or
// three times in turn, and only a reply that starts with exactly that many
// identifications is its answer: late replies of earlier requests, led
// differently or not at all, are dropped.
QByteArray GeneratorPrivate::framed(const QByteArray &line) {
    if (!needResync) {
        leadCount = 0;
        return line;
    }
    leadCount = leadCount % 3 + 1;
    return QByteArray("*IDN?;").repeated(leadCount) + line;
}

// Takes a reply line; false for a late line that belongs to an earlier request.
bool GeneratorPrivate::unframe(QByteArray &line) {
    if (leadCount == 0)
        return true;
    QList<QByteArray> fields = line.split(';');
    int leading = 0;
    while (leading < fields.size() && isIdentification(fields.at(leading)))
        ++leading;
    if (leading != leadCount || leading == fields.size())
        return false;
    line = fields.mid(leading).join(';');
    needResync = false;
    leadCount = 0;
    return true;
}

bool GeneratorPrivate::readReply(QByteArray &reply, QDeadlineTimer deadline) {
    while (readLineSync(reply, deadline))
        if (unframe(reply))
            return true;
    return false;
}

bool GeneratorPrivate::transact(const QByteArray &line, QByteArray *reply) {
    if (!port)
        return false;
    const QDeadlineTimer deadline(replyTimeoutMs); // the whole call, waits included
    inSync = true;
    const bool pollGivenUp = finishPending(deadline);
    bool answered = false;
    if (port && !lossDuringSync) {
        const qint64 sentAt = sendTime();
        writeLine(reply ? framed(line) : line, true);
        answered = !reply || readReply(*reply, deadline);
        if (reply && answered && verbose)
            qCInfo(lcIo).noquote() << portName << ">>" << *reply;
        // A line the link was lost over counts as unanswered, even one that wants no reply.
        const bool lost = lossDuringSync;
        record(origin, line, sentAt, answered && !lost ? reply : nullptr, reply || lost);
    }
    inSync = false;
    if (lossDuringSync) {
        lossDuringSync = false;
        queueLoss();
        return false;
    }
    if (answered && reply)
        heardFromInstrument();
    if (!answered) {
        needResync = true;
        noAnswer();
        // The poll this call gave up went unanswered too: it counts as missed.
        if (pollGivenUp && ++missedReplies >= 2)
            queueLoss();
    }
    // Only an answer postpones the next poll: a silent instrument is still
    // polled, and found lost, while calls keep failing.
    if (port && pending == Pending::None && (answered || !pollTimer.isActive()))
        pollTimer.start(firstPollDue ? 0 : pollIdleMs);
    firstPollDue = false;
    return answered;
}

void GeneratorPrivate::heardFromInstrument() {
    missedReplies = 0;
    outage = false;
}

void GeneratorPrivate::queueLoss() {
    QTimer::singleShot(0, this, [this, attempt = linkAttempt] {
        if (attempt == linkAttempt)
            loseLink();
    });
}

bool GeneratorPrivate::setAndReadBack(const QByteArray &header, double value, double &answer) {
    QByteArray reply;
    const QByteArray line = header + ' ' + scpi::formatNumber(value) + ';' + header + '?';
    return transact(line, &reply) && scpi::parseNumber(reply, answer);
}

// Reported after the call returns, so no handler (a modal box, say) runs
// inside a set operation.
void GeneratorPrivate::noAnswer() {
    if (outage)
        return;
    outage = true;
    QMetaObject::invokeMethod(
        q, [q = q] { emit q->error(noAnswerText()); }, Qt::QueuedConnection);
}

void GeneratorPrivate::startAsync(Pending kind) {
    if (!port || pending != Pending::None)
        return;
    pending = kind;
    pendingSentAt = sendTime();
    writeLine(kind == Pending::Poll ? framed(pollLine()) : QByteArray("*IDN?"),
              kind == Pending::Identify);
    pendingDeadline = QDeadlineTimer(replyTimeoutMs);
    replyTimer.start(replyTimeoutMs);
}

QByteArray GeneratorPrivate::pollLine() const {
    return spec->levelInDbm ? "FREQ?;POW?;ATT?;OUTP?;FM:PER?" : "FREQ?;VOLT?;ATT?;OUTP?;FM:PER?";
}

void GeneratorPrivate::onReadyRead() {
    if (inSync || !port)
        return; // the synchronous reader takes the bytes
    buffer += port->readAll();
    QByteArray line;
    while (port && takeLine(line)) {
        if (pending == Pending::None)
            continue; // a stray line, e.g. a late answer to a timed-out call
        handleAsyncReply(line);
        if (pending == Pending::None)
            replyTimer.stop();
    }
}

void GeneratorPrivate::handleAsyncReply(const QByteArray &line) {
    switch (pending) {
    case Pending::Identify:
        pending = Pending::None;
        record(Exchange::Origin::Poll, "*IDN?", pendingSentAt, &line, true);
        identifyReply(line);
        return;
    case Pending::Poll: {
        QByteArray reply = line;
        if (!unframe(reply))
            return; // a late answer: keep waiting for ours
        pending = Pending::None;
        record(Exchange::Origin::Poll, pollLine(), pendingSentAt, &reply, true);
        if (!applyPollReply(reply)) {
            missedReply();
            return;
        }
        if (!inSync)
            pollTimer.start(pollIdleMs);
        return;
    }
    case Pending::None:
        return;
    }
}

void GeneratorPrivate::identifyReply(const QByteArray &line) {
    if (verbose)
        qCInfo(lcIo).noquote() << portName << ">>" << line;
    if (modelFromIdentification(line) == NoModel) {
        missedReply(); // noise, not an identification
        return;
    }
    identification = line;
    heardFromInstrument();
    record(Exchange::Origin::Poll, heldModesLine(), sendTime(), nullptr, false);
    writeLine(heldModesLine(), true);
    pollSoon(); // the first poll reports every value
}

void GeneratorPrivate::pollSoon() {
    if (!inSync)
        startAsync(Pending::Poll);
    else
        firstPollDue = true;
}

QByteArray GeneratorPrivate::heldModesLine() const {
    return "LEV:MODE " + scpi::levelModeKeyword(levelControl) + ";FM:MODE " +
           scpi::fmKindKeyword(fmMode);
}

void GeneratorPrivate::onReplyTimeout() {
    record(Exchange::Origin::Poll, pending == Pending::Poll ? pollLine() : "*IDN?", pendingSentAt,
           nullptr, true);
    missedReply();
}

bool GeneratorPrivate::panelLockedOut() const {
    return origin == Exchange::Origin::Panel && lock.isHeld();
}

bool GeneratorPrivate::recording() const {
    static const QMetaMethod signal = QMetaMethod::fromSignal(&Generator::exchanged);
    return q->isSignalConnected(signal);
}

// Reading the clock only while someone records keeps an unwatched driver as fast as before.
qint64 GeneratorPrivate::sendTime() const {
    return recording() ? QDateTime::currentMSecsSinceEpoch() : 0;
}

Exchange GeneratorPrivate::exchange(Exchange::Origin from, const QByteArray &sent,
                                    qint64 sentAt) const {
    Exchange e;
    e.time = sentAt;
    e.origin = from;
    if (from == Exchange::Origin::Client)
        e.client = originClient;
    e.sent = sent;
    return e;
}

void GeneratorPrivate::record(Exchange::Origin from, const QByteArray &sent, qint64 sentAt,
                              const QByteArray *reply, bool expectsReply) {
    if (!recording())
        return;
    Exchange e = exchange(from, sent, sentAt);
    e.expectsReply = expectsReply;
    e.answered = reply != nullptr;
    if (reply)
        e.reply = *reply;
    if (holdingRecord)
        heldRecord = e;
    else
        emit q->exchanged(e);
}

namespace {
// Holds the record of a setting's exchange until the driver has judged its
// read-back, then reports it with the verdict (refused unless judged accepted).
class Judged {
public:
    explicit Judged(GeneratorPrivate &d) : d(d) { d.holdingRecord = true; }
    Judged(const Judged &) = delete;
    Judged &operator=(const Judged &) = delete;
    bool operator()(bool accepted) { return this->accepted = accepted; }
    ~Judged() {
        d.holdingRecord = false;
        if (!d.heldRecord)
            return;
        Exchange e = *std::exchange(d.heldRecord, std::nullopt);
        if (e.answered)
            e.verdict = accepted ? Exchange::Verdict::Accepted : Exchange::Verdict::Refused;
        emit d.q->exchanged(e);
    }

private:
    GeneratorPrivate &d;
    bool accepted = false;
};
} // namespace

// A value outside the model's limits is refused without asking the
// instrument; the journal still shows what was asked.
void GeneratorPrivate::recordRefused(const QByteArray &sent) {
    if (!recording())
        return;
    Exchange e = exchange(origin, sent, sendTime());
    e.refusedUnsent = true;
    emit q->exchanged(e);
}

// A request went unanswered (or was answered with noise): the next exchange
// starts by getting back in step, and two misses in a row mean the link is lost.
void GeneratorPrivate::missedReply() {
    pending = Pending::None;
    needResync = true;
    if (++missedReplies >= 2) {
        if (inSync)
            lossDuringSync = true;
        else
            loseLink();
        return;
    }
    if (!inSync)
        pollTimer.start(pollIdleMs);
}

// Inside a synchronous call a poll answer only proves the link alive: its values
// are dropped, so no report interrupts the caller, and the next poll catches up.
bool GeneratorPrivate::applyPollReply(const QByteArray &line) {
    LastKnown now;
    if (!parsePollReply(line, now))
        return false;
    heardFromInstrument();
    if (!inSync)
        reportChanges(now);
    return true;
}

bool GeneratorPrivate::parsePollReply(const QByteArray &line, LastKnown &now) const {
    const QList<QByteArray> fields = line.split(';');
    double values[5];
    if (fields.size() != 5)
        return false;
    for (int i = 0; i < 5; ++i)
        if (!scpi::parseNumber(fields.at(i), values[i]))
            return false;
    now.frequency = values[0];
    now.amplitude = spec->levelInDbm ? dbmToVolts(values[1]) : values[1];
    now.attenuation = values[2];
    now.state = values[3] != 0;
    now.period = values[4];
    return true;
}

// Reads every value now and reports those that changed (after a reset).
void GeneratorPrivate::pollAndReport() {
    QByteArray reply;
    LastKnown now;
    if (transact(pollLine(), &reply) && parsePollReply(reply, now))
        reportChanges(now);
}

void GeneratorPrivate::reportChanges(const LastKnown &now) {
    const LastKnown before = last;
    last = now;
    if (before.frequency != now.frequency)
        emit q->newFrequency(*now.frequency);
    if (before.amplitude != now.amplitude)
        emit q->newAmplitude(*now.amplitude);
    if (before.attenuation != now.attenuation)
        emit q->newAttenuation(*now.attenuation);
    if (before.state != now.state)
        emit q->newState(*now.state);
    if (before.period != now.period)
        emit q->newTFm(*now.period);
}

// ---------------------------------------------------------------- Generator

Generator::Generator(QObject *parent)
    : QObject(parent), d(std::make_unique<GeneratorPrivate>(this)) {}

Generator::~Generator() {
    // Closing the server and the link must not call back into an owner that
    // is being torn down.
    blockSignals(true);
    d->lock.blockSignals(true);
    d->server.reset(); // its clients give the lock back through this driver
    d.reset();
}

QList<QSerialPortInfo> Generator::getAvailablePorts() {
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    std::sort(ports.begin(), ports.end(), [](const QSerialPortInfo &a, const QSerialPortInfo &b) {
        return a.portName() < b.portName();
    });
    return ports;
}

void Generator::openLink(const QSerialPortInfo &port) {
    d->spec = modelSpec(modelCode());
    d->open(port);
}

void Generator::setPollInterval(int ms) {
    if (ms > 0)
        d->pollIdleMs = ms;
}

void Generator::enableVerbose(bool on) {
    d->verbose = on;
}
bool Generator::isVerbose() const {
    return d->verbose;
}
bool Generator::isConnected() const {
    return d->port != nullptr;
}

bool Generator::isResponding() const {
    return d->port && !d->outage;
}
QString Generator::portName() const {
    return d->portName;
}
QString Generator::identification() const {
    return QString::fromLatin1(d->identification);
}

static bool isFinite(double value) {
    return std::isfinite(value);
}

bool Generator::setState(bool on) {
    if (on && d->panelLockedOut())
        return false; // switching the output off is never locked out
    QByteArray reply;
    bool held = false;
    Judged judged(*d);
    if (!d->transact(on ? "OUTP ON;OUTP?" : "OUTP OFF;OUTP?", &reply) ||
        !scpi::parseSwitch(reply, held) || reply.trimmed().size() != 1)
        return false; // only "1" or "0" says what the output does
    d->last.state = held;
    return judged(held == on);
}

bool Generator::setFrequency(double &hz) {
    if (d->panelLockedOut())
        return false;
    const ModelSpec *spec = modelSpec(modelCode());
    const double rounded = roundToStep(hz, gridStepHz(d->grid));
    if (!isFinite(hz) || rounded < spec->minFrequencyHz || rounded > spec->maxFrequencyHz) {
        d->recordRefused("FREQ " + scpi::formatNumber(hz));
        return false;
    }
    double answer = 0;
    Judged judged(*d);
    if (!d->setAndReadBack("FREQ", rounded, answer))
        return false;
    hz = answer;
    d->last.frequency = answer;
    return judged(withinHalfStep(answer, rounded, frequencyResolutionHz));
}

bool Generator::setAmplitude(double &volts) {
    if (d->panelLockedOut())
        return false;
    const ModelSpec *spec = modelSpec(modelCode());
    const QByteArray header = spec->levelInDbm ? "POW " : "VOLT ";
    if (!isFinite(volts) || (spec->levelInDbm && volts <= 0)) {
        d->recordRefused("VOLT " + scpi::formatNumber(volts)); // no level in dBm to name
        return false;
    }
    const double level = roundToStep(spec->levelInDbm ? voltsToDbm(volts) : volts, spec->levelStep);
    if (level < spec->minLevel - 1e-9 || level > spec->maxLevel + 1e-9) {
        d->recordRefused(header + scpi::formatNumber(level));
        return false;
    }
    double answer = 0;
    Judged judged(*d);
    if (!d->setAndReadBack(spec->levelInDbm ? "POW" : "VOLT", level, answer))
        return false;
    volts = spec->levelInDbm ? dbmToVolts(answer) : answer;
    d->last.amplitude = volts;
    return judged(withinHalfStep(answer, level, spec->levelStep));
}

bool Generator::setAttenuation(double &dB) {
    if (d->panelLockedOut())
        return false;
    const ModelSpec *spec = modelSpec(modelCode());
    const double rounded = roundToStep(dB, spec->attenuationStepDb);
    if (!isFinite(dB) || rounded < 0 || rounded > spec->maxAttenuationDb + 1e-9) {
        d->recordRefused("ATT " + scpi::formatNumber(dB));
        return false;
    }
    double answer = 0;
    Judged judged(*d);
    if (!d->setAndReadBack("ATT", rounded, answer))
        return false;
    dB = answer;
    d->last.attenuation = answer;
    return judged(withinHalfStep(answer, rounded, spec->attenuationStepDb));
}

void Generator::setFrequencyGrid(int index) {
    if (index >= 0 && index < gridCount)
        d->grid = index;
}

int Generator::getFrequencyGrid() {
    return d->grid;
}

void Generator::setLevelControl(int control) {
    if ((control != 0 && control != 1) || d->panelLockedOut())
        return;
    d->levelControl = control;
    if (d->port)
        d->transact("LEV:MODE " + scpi::levelModeKeyword(control), nullptr);
}

int Generator::getLevelControl() {
    return d->levelControl;
}

void Generator::setFmMode(int kind) {
    if (kind < 0 || kind > 2 || d->panelLockedOut())
        return;
    d->fmMode = kind;
    if (d->port)
        d->transact("FM:MODE " + scpi::fmKindKeyword(kind), nullptr);
}

int Generator::getFmMode() const {
    return d->fmMode;
}

namespace {
struct Sweep {
    double start, stop, step, period;
};

bool sweepAcceptable(const ModelSpec &spec, double gridStep, const Sweep &s) {
    for (double v : {s.start, s.stop, s.step, s.period})
        if (!std::isfinite(v))
            return false;
    const auto inRange = [&](double hz) {
        return hz >= spec.minFrequencyHz && hz <= spec.maxFrequencyHz;
    };
    return inRange(s.start) && inRange(s.stop) && s.start < s.stop && s.step >= gridStep &&
           s.step <= s.stop - s.start && s.period >= minFmPeriodS && s.period <= maxFmPeriodS &&
           fmPointCount(s.start, s.stop, s.step) <= maxFmPoints;
}

bool parseSweepReply(const QByteArray &reply, Sweep &answer, bool &running) {
    const QList<QByteArray> f = reply.split(';');
    double state = 0;
    return f.size() == 5 && scpi::parseNumber(f[0], answer.start) &&
           scpi::parseNumber(f[1], answer.stop) && scpi::parseNumber(f[2], answer.step) &&
           scpi::parseNumber(f[3], answer.period) && scpi::parseNumber(f[4], state) &&
           ((running = state != 0), true);
}
} // namespace

bool Generator::startFm(double &startHz, double &stopHz, double &stepHz, double &periodS) {
    return sendSweep(startHz, stopHz, stepHz, periodS, true);
}

bool Generator::setFmSettings(double &startHz, double &stopHz, double &stepHz, double &periodS) {
    return sendSweep(startHz, stopHz, stepHz, periodS, false);
}

bool Generator::sendSweep(double &startHz, double &stopHz, double &stepHz, double &periodS,
                          bool run) {
    if (d->panelLockedOut())
        return false;
    const ModelSpec *spec = modelSpec(modelCode());
    const double gridStep = gridStepHz(d->grid);
    const Sweep sent{roundToStep(startHz, gridStep), roundToStep(stopHz, gridStep),
                     roundToStep(stepHz, gridStep), roundToStep(periodS, fmPeriodStepS)};
    using scpi::formatNumber;
    const QByteArray settings =
        (run ? "FM:MODE " + scpi::fmKindKeyword(d->fmMode) + ';' : QByteArray()) + "FM:STAR " +
        formatNumber(sent.start) + ";FM:STOP " + formatNumber(sent.stop) + ";FM:STEP " +
        formatNumber(sent.step) + ";FM:PER " + formatNumber(sent.period) +
        (run ? ";FM:STAT ON" : "");
    if (!sweepAcceptable(*spec, gridStep, {startHz, stopHz, stepHz, periodS}) ||
        !sweepAcceptable(*spec, gridStep, sent)) {
        d->recordRefused(settings);
        return false;
    }
    const QByteArray line = settings + ";FM:STAR?;FM:STOP?;FM:STEP?;FM:PER?;FM:STAT?";
    QByteArray reply;
    Sweep answer{};
    bool running = false;
    Judged judged(*d);
    if (!d->transact(line, &reply) || !parseSweepReply(reply, answer, running))
        return false;
    startHz = answer.start;
    stopHz = answer.stop;
    stepHz = answer.step;
    periodS = answer.period;
    d->last.period = answer.period;
    return judged((running || !run) &&
                  withinHalfStep(answer.start, sent.start, frequencyResolutionHz) &&
                  withinHalfStep(answer.stop, sent.stop, frequencyResolutionHz) &&
                  withinHalfStep(answer.step, sent.step, frequencyResolutionHz) &&
                  withinHalfStep(answer.period, sent.period, fmPeriodStepS));
}

void Generator::stopFm() {
    if (!d->panelLockedOut())
        d->transact("FM:STAT OFF", nullptr);
}

void Generator::resetInstrument() {
    if (!d->transact("*RST", nullptr))
        return;
    // The panel's level control and FM kind stay in force.
    d->transact(d->heldModesLine(), nullptr);
    d->pollAndReport();
}

void Generator::setExchangeOrigin(Exchange::Origin origin, const QString &client) {
    d->origin = origin;
    d->originClient = client;
}

bool Generator::query(const QByteArray &line, QByteArray &reply) {
    return d->transact(line, &reply);
}

bool Generator::send(const QByteArray &line) {
    return d->transact(line, nullptr);
}

// ------------------------------------------------------------------- models

Orvex::Orvex(QObject *parent) : Generator(parent) {}
void Orvex::connect(QSerialPortInfo &port) {
    openLink(port);
}
int Orvex::modelCode() const {
    return OrvexModel;
}

Quendt::Quendt(QObject *parent) : Orvex(parent) {}
int Quendt::modelCode() const {
    return QuendtModel;
}

Pylar::Pylar(QObject *parent) : Generator(parent) {}
void Pylar::connect(QSerialPortInfo &port) {
    openLink(port);
}
int Pylar::modelCode() const {
    return PylarModel;
}

// ------------------------------------------------------------ remote control

void Generator::setTcpPort(int port) {
    if (port >= 1 && port <= 65535)
        d->tcpPort = port;
}

int Generator::getTcpPort() const {
    return d->tcpPort;
}

rfgen::ControlLock &Generator::controlLock() {
    return d->lock;
}

void Generator::setAccessRules(const AccessRules &rules) {
    d->accessRules = rules;
}

void Generator::startServer() {
    if (!d->server)
        d->server = std::make_unique<RemoteServer>(this);
    if (!d->server->listen(d->tcpPort, d->accessRules))
        emit error(QCoreApplication::translate("rfgen::Generator",
                                               "Не удалось запустить сервер на порту %1")
                       .arg(d->tcpPort));
}

void Generator::stopServer() {
    if (d->server)
        d->server->close();
}

bool Generator::isServerListening() const {
    return d->server && d->server->isListening();
}

int Generator::serverClientCount() const {
    return d->server ? d->server->clientCount() : 0;
}
