#pragma once

#include "controllock.h"
#include "generator.h"
#include "models.h"
#include "remoteserver.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QSerialPort>
#include <QTimer>

#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcIo)

// The serial link and the state the driver keeps about the instrument.
class GeneratorPrivate : public QObject {
    Q_OBJECT
public:
    explicit GeneratorPrivate(Generator *owner);
    ~GeneratorPrivate() override;

    enum class Pending { None, Identify, Poll };

    struct LastKnown {
        std::optional<double> frequency, amplitude, attenuation, period;
        std::optional<bool> state;
    };

    Generator *q;
    const rfgen::ModelSpec *spec = nullptr;
    QSerialPort *port = nullptr;
    QString portName;
    QByteArray buffer;
    QByteArray identification;
    bool verbose = false;
    int grid = rfgen::defaultGridIndex;
    int levelControl = 0;
    int fmMode = 0;
    int tcpPort = 5025;
    LastKnown last;
    Pending pending = Pending::None;
    QDeadlineTimer pendingDeadline;
    QTimer pollTimer;
    int pollIdleMs = 1000; // idle time before the next poll
    QTimer replyTimer;
    int missedReplies = 0;
    bool needResync = false;
    int leadCount = 0; // *IDN? queries leading the request in flight
    bool outage = false;
    bool inSync = false;
    bool lossDuringSync = false;
    bool firstPollDue = false;
    int linkAttempt = 0;
    rfgen::ControlLock lock; // outlives the server, whose clients give it back
    rfgen::AccessRules accessRules;
    std::unique_ptr<rfgen::RemoteServer> server;
    rfgen::Exchange::Origin origin = rfgen::Exchange::Origin::Panel;
    QString originClient;
    qint64 pendingSentAt = 0; // when the poll or identification went out
    // A setting's record waits for the driver's verdict on its read-back.
    bool holdingRecord = false;
    std::optional<rfgen::Exchange> heldRecord;

    void open(const QSerialPortInfo &info);
    void closeLink();
    void loseLink();
    // One line out and, when reply is given, one line back within 500 ms.
    bool transact(const QByteArray &line, QByteArray *reply);
    // Sends a setting with its read-back query and returns the answered number.
    bool setAndReadBack(const QByteArray &header, double value, double &answer);
    void pollAndReport();
    QByteArray heldModesLine() const;
    // Reports an exchange (reply null: none came or none was wanted).
    void record(rfgen::Exchange::Origin from, const QByteArray &sent, qint64 sentAt,
                const QByteArray *reply, bool expectsReply);
    void recordRefused(const QByteArray &sent);
    rfgen::Exchange exchange(rfgen::Exchange::Origin from, const QByteArray &sent,
                             qint64 sentAt) const;
    bool recording() const;
    qint64 sendTime() const;
    // A remote client holds the lock and this call is the panel's.
    bool panelLockedOut() const;

private:
    void writeLine(const QByteArray &line, bool logIt);
    bool takeLine(QByteArray &line);
    bool readLineSync(QByteArray &line, QDeadlineTimer deadline);
    bool isIdentification(const QByteArray &line) const;
    bool finishPending(QDeadlineTimer deadline);
    QByteArray framed(const QByteArray &line);
    bool unframe(QByteArray &line);
    bool readReply(QByteArray &reply, QDeadlineTimer deadline);
    void heardFromInstrument();
    void queueLoss();
    void startAsync(Pending kind);
    void pollSoon();
    void onReadyRead();
    void onReplyTimeout();
    void onPortError(QSerialPort::SerialPortError error);
    bool lineFailed() const;
    void handleAsyncReply(const QByteArray &line);
    void identifyReply(const QByteArray &line);
    void missedReply();
    bool applyPollReply(const QByteArray &line);
    bool parsePollReply(const QByteArray &line, LastKnown &now) const;
    void reportChanges(const LastKnown &now);
    void noAnswer();
    QByteArray pollLine() const;
};
