#include "vxi11server.h"

#include "commandengine.h"
#include "controllock.h"
#include "generator.h"
#include "portmap.h"
#include "remoteserver.h"
#include "rpc.h"
#include "scheduling.h"
#include "vxi11.h"

#include <QHostInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace rfgen {

using namespace vxi11;

namespace {
constexpr int maxConnections = 32;
constexpr int maxLinks = 16;
// A record holds at most a piece of a write and the call's header.
constexpr int maxRecordBytes = int(Vxi11Server::maxReceiveSize) + 1024;
// A message (the pieces of a write up to END) longer than this is refused.
constexpr int maxMessageBytes = 64 * 1024;
// Replies a client never reads are not kept beyond this.
constexpr int maxOutputBytes = 1 << 20;
constexpr int maxNameLine = 128;
constexpr quint8 errorQueueBit = 0x04, messageAvailableBit = 0x10;

QString addressOf(const QTcpSocket &socket) {
    return plainAddress(socket.peerAddress()).toString() + ':' + QString::number(socket.peerPort());
}

void closeStream(QIODevice *stream) {
    if (auto *tcp = qobject_cast<QAbstractSocket *>(stream))
        tcp->abort();
    else if (auto *local = qobject_cast<QLocalSocket *>(stream))
        local->abort();
    if (stream)
        stream->deleteLater();
}
} // namespace

QString visaResource(const AccessRules &rules, const QString &device) {
    return QStringLiteral("TCPIP::%1::%2::INSTR").arg(serviceHost(rules), device);
}

struct Vxi11Server::Connection {
    QPointer<QIODevice> stream;
    QString peer; // "ADDRESS:PORT", the client's name in the journal and the lock
    bool abortChannel = false;
    bool named = true;    // false until a relayed connection's first line
    bool leaving = false; // hung up: what it sent before is still served
    bool scheduled = false, serving = false;
    rpc::RecordReader reader{maxRecordBytes};
    QByteArray waiting;        // a call waiting for another's lock
    bool lockWaitOver = false; // its lock_timeout has passed
    bool lockChanged = false;  // the lock changed hands meanwhile
    QTimer lockDeadline;
    QMetaObject::Connection lockWatch;
    QPointer<QLocalSocket> relay; // spliced to the bridge that serves its device
};

struct Vxi11Server::Link {
    Connection *connection = nullptr;
    QPointer<Generator> generator;
    std::unique_ptr<CommandEngine> engine;
    QByteArray input;               // pieces of a write until its END
    bool discarding = false;        // the message grew too long: the rest up to END goes
    std::vector<QByteArray> output; // reply messages, each with its newline
    int outputBytes = 0;
};

struct Vxi11Server::Outcome {
    enum Kind { Reply, Garbage, NoProcedure, Blocked, Relayed } kind = Reply;
    QByteArray results;
    Generator *lockOf = nullptr; // Blocked: whose lock is waited for, and how long
    quint32 timeoutMs = 0;
    static Outcome reply(const QByteArray &results) { return {Reply, results}; }
    static Outcome garbage() { return {Garbage, {}}; }
};

struct Vxi11Server::Private {
    Resolver resolve;
    AccessRules rules;
    std::vector<std::unique_ptr<QTcpServer>> coreListeners, abortListeners;
    std::unique_ptr<QLocalServer> localListener;
    quint16 announcedAbortPort = 0;
    QSet<QString> refusedHosts;
    bool relaying = false;   // connections were handed to bridges
    bool registered = false; // with rpcbind
    std::vector<std::shared_ptr<Connection>> connections;
    std::map<quint32, Link> links;
    quint32 nextLink = 1;
};

Vxi11Server::Vxi11Server(Resolver resolver) : d(std::make_unique<Private>()) {
    d->resolve = std::move(resolver);
}

Vxi11Server::~Vxi11Server() {
    if (d->registered)
        portmap::unregister(coreProgram, version);
    for (const auto &connection : d->connections)
        closeStream(connection->stream);
    d->links.clear();
}

bool Vxi11Server::registerWithPortmapper(QString &problem) {
    switch (portmap::registerTcp(coreProgram, version, corePort())) {
    case portmap::Outcome::Registered:
        d->registered = true;
        return true;
    case portmap::Outcome::NoPortmapper:
        problem = "no portmapper is running, so VXI-11 clients cannot find this service; "
                  "install rpcbind (apt install rpcbind) and start it";
        return false;
    case portmap::Outcome::Taken:
        problem = "another VXI-11 service is registered with rpcbind on this machine; VXI-11 "
                  "clients reach that one";
        return false;
    }
    return false;
}

quint16 Vxi11Server::corePort() const {
    return d->coreListeners.empty() ? 0 : d->coreListeners.front()->serverPort();
}

quint16 Vxi11Server::abortPort() const {
    return d->abortListeners.empty() ? d->announcedAbortPort
                                     : d->abortListeners.front()->serverPort();
}

int Vxi11Server::linkCount() const {
    return int(d->links.size());
}

int Vxi11Server::connectionCount() const {
    return int(d->connections.size());
}

// Both channels listen on the same port at every address, the port of the first.
bool Vxi11Server::listen(const AccessRules &rules) {
    d->rules = rules;
    for (auto *listeners : {&d->coreListeners, &d->abortListeners}) {
        quint16 port = 0;
        const bool abortChannel = listeners == &d->abortListeners;
        for (const QHostAddress &address : addressesToListenOn(rules)) {
            auto listener = std::make_unique<QTcpServer>();
            if (!listener->listen(address, port)) {
                if (mayBeMissing(address, *listener) && addressesToListenOn(rules).size() > 1)
                    continue;
                lastError = address.toString() + ": " + listener->errorString();
                return false;
            }
            port = listener->serverPort();
            QTcpServer *raw = listener.get();
            connect(raw, &QTcpServer::newConnection, this, [this, raw, abortChannel] {
                while (QTcpSocket *socket = raw->nextPendingConnection())
                    accept(socket, addressOf(*socket), abortChannel, true);
            });
            listeners->push_back(std::move(listener));
        }
    }
    return true;
}

bool Vxi11Server::listenLocal(const QString &path, quint16 announcedAbortPort) {
    d->announcedAbortPort = announcedAbortPort;
    d->localListener = std::make_unique<QLocalServer>();
    d->localListener->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path);
    if (!d->localListener->listen(path)) {
        lastError = path + ": " + d->localListener->errorString();
        return false;
    }
    connect(d->localListener.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = d->localListener->nextPendingConnection())
            accept(socket, QString(), false, false);
    });
    return true;
}

void Vxi11Server::accept(QIODevice *stream, const QString &peer, bool abortChannel, bool named) {
    auto *tcp = qobject_cast<QTcpSocket *>(stream);
    const QHostAddress address = tcp ? plainAddress(tcp->peerAddress()) : QHostAddress();
    if (tcp && !isAllowed(d->rules, address)) {
        if (!d->refusedHosts.contains(address.toString())) {
            d->refusedHosts.insert(address.toString());
            emit refused(peer);
        }
        return closeStream(stream);
    }
    if (int(d->connections.size()) >= maxConnections)
        return closeStream(stream);
    stream->setParent(this);
    if (tcp) {
        tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        keepAlive(tcp->socketDescriptor());
    }
    auto connection = std::make_shared<Connection>();
    connection->stream = stream;
    connection->peer = peer;
    connection->abortChannel = abortChannel;
    connection->named = named;
    connection->lockDeadline.setSingleShot(true);
    d->connections.push_back(connection);
    std::weak_ptr<Connection> weak = connection;
    // A call is served as it arrives; more of the same client's wait a turn.
    connect(stream, &QIODevice::readyRead, this, [this, weak] {
        if (auto c = weak.lock(); c && !c->scheduled)
            serve(c);
    });
    const auto hungUp = [this, weak] {
        if (auto c = weak.lock()) {
            c->leaving = true;
            schedule(c);
        }
    };
    if (tcp)
        connect(tcp, &QAbstractSocket::disconnected, this, hungUp);
    else
        connect(qobject_cast<QLocalSocket *>(stream), &QLocalSocket::disconnected, this, hungUp);
    connect(&connection->lockDeadline, &QTimer::timeout, this, [this, weak] {
        if (auto c = weak.lock()) {
            c->lockWaitOver = true;
            schedule(c);
        }
    });
    schedule(connection);
}

// Calls are served one per turn of the event loop, so no client holds the others.
void Vxi11Server::schedule(const std::shared_ptr<Connection> &connection) {
    scheduleOnce(this, connection, [this](const std::shared_ptr<Connection> &c) { serve(c); });
}

void Vxi11Server::serve(const std::shared_ptr<Connection> &connection) {
    connection->scheduled = false;
    if (connection->serving)
        return; // a handler ran the event loop inside this connection's call
    if (!connection->stream)
        return drop(connection);
    if (connection->relay) {
        connection->relay->write(connection->stream->readAll());
        return connection->leaving ? drop(connection) : void();
    }
    if (!connection->named && !readName(*connection))
        return connection->leaving ? drop(connection) : void();
    QByteArray record;
    if (!connection->waiting.isEmpty()) {
        if (connection->leaving)
            return drop(connection); // nobody is left to answer
        if (!connection->lockWaitOver && !connection->lockChanged)
            return; // still waiting for the lock
        record = connection->waiting;
        connection->waiting.clear();
    } else if (!nextRecord(*connection, record)) {
        return connection->leaving || !connection->stream ? drop(connection) : void();
    }
    handle(connection, record);
    const bool more = connection->reader.bufferedBytes() > 0 || connection->leaving ||
                      (connection->stream && connection->stream->bytesAvailable() > 0);
    if (more &&
        std::find(d->connections.begin(), d->connections.end(), connection) != d->connections.end())
        schedule(connection); // the next call of a client that sent several
}

bool Vxi11Server::readName(Connection &connection) {
    if (!connection.stream->canReadLine()) {
        if (connection.stream->bytesAvailable() > maxNameLine)
            connection.leaving = true; // not a relay of ours
        return false;
    }
    connection.peer = QString::fromUtf8(connection.stream->readLine(maxNameLine + 1)).trimmed();
    connection.named = true;
    return true;
}

// A stream that breaks record marking (a fragment beyond the limit) is closed.
bool Vxi11Server::nextRecord(Connection &connection, QByteArray &record) {
    for (;;) {
        switch (connection.reader.next(record)) {
        case rpc::RecordReader::Record:
            return true;
        case rpc::RecordReader::Broken:
            closeStream(connection.stream);
            connection.stream = nullptr;
            return false;
        case rpc::RecordReader::Incomplete:
            break;
        }
        const QByteArray more = connection.stream->read(maxRecordBytes);
        if (more.isEmpty())
            return false;
        connection.reader.append(more);
    }
}

void Vxi11Server::handle(const std::shared_ptr<Connection> &connection, const QByteArray &record) {
    rpc::Call call;
    if (!rpc::decodeCall(record, call))
        return; // not a call: nothing to answer
    QByteArray reply;
    const quint32 program = connection->abortChannel ? abortProgram : coreProgram;
    if (!call.rpcVersionOk)
        reply = rpc::rpcMismatchReply(call.xid);
    else if (call.program != program)
        reply = rpc::acceptedReply(call.xid, rpc::ProgramUnavailable);
    else if (call.version != version)
        reply = rpc::programMismatchReply(call.xid, version, version);
    if (reply.isEmpty()) {
        connection->serving = true;
        const Outcome outcome = connection->abortChannel
                                    ? abort(call.arguments)
                                    : coreCall(*connection, call.procedure, call.arguments, record);
        connection->serving = false;
        switch (outcome.kind) {
        case Outcome::Reply:
            reply = rpc::acceptedReply(call.xid, rpc::Success, outcome.results);
            break;
        case Outcome::Garbage:
            reply = rpc::acceptedReply(call.xid, rpc::GarbageArguments);
            break;
        case Outcome::NoProcedure:
            reply = rpc::acceptedReply(call.xid, rpc::ProcedureUnavailable);
            break;
        case Outcome::Blocked:
            return waitForLock(connection, record, outcome.lockOf, outcome.timeoutMs);
        case Outcome::Relayed:
            return;
        }
        connection->lockDeadline.stop();
        connection->lockWaitOver = false;
    }
    if (!connection->stream)
        return;
    connection->stream->write(rpc::withRecordMark(reply));
    if (auto *tcp = qobject_cast<QAbstractSocket *>(connection->stream.data()))
        tcp->flush(); // out now, not on the event loop's next turn
}

// The call is taken up again when the lock changes hands, and answered
// "locked" once the client's lock_timeout has passed.
void Vxi11Server::waitForLock(const std::shared_ptr<Connection> &connection,
                              const QByteArray &record, Generator *generator, quint32 timeoutMs) {
    connection->waiting = record;
    connection->lockChanged = false;
    if (!connection->lockDeadline.isActive())
        connection->lockDeadline.start(int(std::min<quint32>(timeoutMs, 24 * 3600 * 1000)));
    disconnect(connection->lockWatch);
    std::weak_ptr<Connection> weak = connection;
    const auto changed = [this, weak] {
        if (auto c = weak.lock()) {
            disconnect(c->lockWatch);
            c->lockChanged = true;
            schedule(c);
        }
    };
    connection->lockWatch =
        connect(&generator->controlLock(), &ControlLock::changed, this, changed);
}

Vxi11Server::Outcome Vxi11Server::coreCall(Connection &connection, quint32 procedure,
                                           const QByteArray &args, const QByteArray &record) {
    switch (procedure) {
    case Null:
        return Outcome::reply({});
    case CreateLink:
        return createLink(connection, args, record);
    case DeviceWrite:
        return write(connection, args);
    case DeviceRead:
        return read(connection, args);
    case DeviceReadStb:
        return readStatusByte(connection, args);
    case DeviceTrigger:
    case DeviceClear:
    case DeviceRemote:
    case DeviceLocal:
        return generic(connection, procedure, args);
    case DeviceLock:
        return lock(connection, args);
    case DeviceUnlock:
        return unlock(connection, args);
    case DestroyLink:
        return destroyLink(connection, args);
    case DeviceDoCmd:
        return Outcome::reply(docmdResult(OperationNotSupported));
    case DeviceEnableSrq:
    case CreateIntrChan:
    case DestroyIntrChan:
        return Outcome::reply(errorResult(OperationNotSupported));
    default:
        return {Outcome::NoProcedure, {}};
    }
}

// What another's lock means for a call: none when the call may go on; else
// it waits as long as the client allows (its waitlock flag and lock_timeout),
// then gets the refusal (error 11).
std::optional<Vxi11Server::Outcome> Vxi11Server::lockedOut(const Connection &connection,
                                                           Generator *generator, const void *asker,
                                                           bool mayWait, quint32 timeoutMs,
                                                           const QByteArray &refusal) {
    if (!generator || !generator->controlLock().isHeldByOtherThan(asker))
        return std::nullopt;
    if (mayWait && timeoutMs > 0 && !connection.lockWaitOver)
        return Outcome{Outcome::Blocked, {}, generator, timeoutMs};
    return Outcome::reply(refusal);
}

Vxi11Server::Outcome Vxi11Server::linkRefused(qint32 error) const {
    return Outcome::reply(createLinkResult(Error(error), 0, abortPort(), maxReceiveSize));
}

Vxi11Server::Outcome Vxi11Server::createLink(Connection &connection, const QByteArray &args,
                                             const QByteArray &record) {
    CreateLinkParams p;
    if (!decode(args, p, maxDeviceName))
        return Outcome::garbage();
    const QString device = QString::fromLatin1(p.device);
    const Vxi11Target target = d->resolve(device);
    if (!target.relayPath.isEmpty())
        return relay(connection, target.relayPath, record);
    if (!target.generator)
        return linkRefused(DeviceNotAccessible);
    if (int(d->links.size()) >= maxLinks)
        return linkRefused(OutOfResources);
    if (p.lockDevice)
        if (auto held = lockedOut(connection, target.generator, nullptr, true, p.lockTimeout,
                                  linkRefused(DeviceLocked).results))
            return *held;
    const quint32 id = d->nextLink++;
    Link &link = d->links[id];
    link.connection = &connection;
    link.generator = target.generator;
    link.engine = std::make_unique<CommandEngine>(target.generator, connection.peer);
    if (p.lockDevice)
        link.engine->requestLock();
    return Outcome::reply(createLinkResult(NoError, id, abortPort(), maxReceiveSize));
}

// The connection is handed to the bridge that serves the device: its client's
// name first, then this call and everything after it, both ways.
Vxi11Server::Outcome Vxi11Server::relay(Connection &connection, const QString &path,
                                        const QByteArray &record) {
    if (std::any_of(d->links.begin(), d->links.end(),
                    [&](const auto &l) { return l.second.connection == &connection; }))
        return linkRefused(DeviceNotAccessible); // links of its own already: it cannot be handed on
    auto *bridge = new QLocalSocket(this);
    bridge->connectToServer(path);
    if (!bridge->waitForConnected(2000)) {
        bridge->deleteLater();
        return linkRefused(DeviceNotAccessible);
    }
    d->relaying = true;
    connection.relay = bridge;
    QPointer<QIODevice> client = connection.stream;
    connect(bridge, &QLocalSocket::readyRead, this, [bridge, client] {
        if (client)
            client->write(bridge->readAll());
    });
    connect(bridge, &QLocalSocket::disconnected, this, [bridge, client] {
        if (client)
            client->write(bridge->readAll());
        if (auto *tcp = qobject_cast<QAbstractSocket *>(client.data()))
            tcp->disconnectFromHost(); // replies written so far still go out
        bridge->deleteLater();
    });
    bridge->write(connection.peer.toUtf8() + '\n' + rpc::withRecordMark(record) +
                  connection.reader.takeUnread() + connection.stream->readAll());
    return {Outcome::Relayed, {}};
}

Vxi11Server::Link *Vxi11Server::linkOf(const Connection &connection, quint32 id) {
    const auto it = d->links.find(id);
    return it != d->links.end() && it->second.connection == &connection ? &it->second : nullptr;
}

Vxi11Server::Outcome Vxi11Server::write(Connection &connection, const QByteArray &args) {
    WriteParams p;
    if (!decode(args, p, maxRecordBytes))
        return Outcome::garbage();
    Link *link = linkOf(connection, p.link);
    if (!link)
        return Outcome::reply(writeResult(InvalidLinkId, 0));
    if (!link->generator)
        return Outcome::reply(writeResult(IoError, 0));
    if (auto held = lockedOut(connection, link->generator, link->engine.get(), p.flags & WaitLock,
                              p.lockTimeout, writeResult(DeviceLocked, 0)))
        return *held;
    if (!link->discarding)
        link->input += p.data;
    if (link->input.size() > maxMessageBytes) {
        link->input.clear();
        link->discarding = true;
        link->engine->errors().push(scpi::TooMuchData);
    }
    if (p.flags & End) {
        if (!link->discarding)
            runMessage(*link);
        link->input.clear();
        link->discarding = false;
    }
    return Outcome::reply(writeResult(NoError, quint32(p.data.size())));
}

// A message may hold several lines; each runs as a raw-socket client's would.
void Vxi11Server::runMessage(Link &link) {
    const QByteArray message = link.input;
    const QPointer<Vxi11Server> self(this);
    CommandEngine *engine = link.engine.get();
    for (QByteArray line : message.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || !link.generator)
            continue;
        const QByteArray reply =
            runClientLine(link.generator, *engine, link.connection->peer, line);
        if (!self)
            return;
        if (!reply.isNull() && link.outputBytes + reply.size() < maxOutputBytes) {
            link.output.push_back(reply + '\n');
            link.outputBytes += int(reply.size()) + 1;
        }
    }
}

// The reply so far, up to the request size or the termination character;
// "end" when it reaches the end of a reply message.
Vxi11Server::Outcome Vxi11Server::read(Connection &connection, const QByteArray &args) {
    ReadParams p;
    if (!decode(args, p))
        return Outcome::garbage();
    Link *link = linkOf(connection, p.link);
    if (!link)
        return Outcome::reply(readResult(InvalidLinkId, 0, {}));
    if (link->output.empty())
        return Outcome::reply(readResult(IoTimeout, 0, {}));
    QByteArray &message = link->output.front();
    int take = int(std::min<quint32>(p.requestSize, quint32(message.size())));
    qint32 reasons = 0;
    if (p.flags & TermCharSet) {
        const int at = message.indexOf(p.termChar);
        if (at >= 0 && at < take) {
            take = at + 1;
            reasons |= Character;
        }
    }
    const QByteArray data = message.left(take);
    message.remove(0, take);
    link->outputBytes -= take;
    if (message.isEmpty()) {
        link->output.erase(link->output.begin());
        reasons |= EndOfMessage;
    } else if (!(reasons & Character)) {
        reasons |= RequestCount;
    }
    return Outcome::reply(readResult(NoError, reasons, data));
}

// Bit 2: the link's error queue holds an error; bit 4: a reply waits to be read.
Vxi11Server::Outcome Vxi11Server::readStatusByte(Connection &connection, const QByteArray &args) {
    GenericParams p;
    if (!decode(args, p))
        return Outcome::garbage();
    Link *link = linkOf(connection, p.link);
    if (!link)
        return Outcome::reply(readStbResult(InvalidLinkId, 0));
    const quint8 status = (link->engine->errors().size() > 0 ? errorQueueBit : 0) |
                          (link->output.empty() ? 0 : messageAvailableBit);
    return Outcome::reply(readStbResult(NoError, status));
}

// Clear empties the link's input and output; remote and local have no effect
// on these instruments; there is nothing to trigger.
Vxi11Server::Outcome Vxi11Server::generic(Connection &connection, quint32 procedure,
                                          const QByteArray &args) {
    GenericParams p;
    if (!decode(args, p))
        return Outcome::garbage();
    Link *link = linkOf(connection, p.link);
    if (!link)
        return Outcome::reply(errorResult(InvalidLinkId));
    if (procedure == DeviceTrigger)
        return Outcome::reply(errorResult(OperationNotSupported));
    if (procedure == DeviceClear) {
        if (auto held = lockedOut(connection, link->generator, link->engine.get(),
                                  p.flags & WaitLock, p.lockTimeout, errorResult(DeviceLocked)))
            return *held;
        link->input.clear();
        link->discarding = false;
        link->output.clear();
        link->outputBytes = 0;
    }
    return Outcome::reply(errorResult(NoError));
}

// The instrument's one lock: a raw-socket client's SYST:LOCK keeps it from
// a link as much as another link's device_lock does.
Vxi11Server::Outcome Vxi11Server::lock(Connection &connection, const QByteArray &args) {
    LockParams p;
    if (!decode(args, p))
        return Outcome::garbage();
    Link *link = linkOf(connection, p.link);
    if (!link)
        return Outcome::reply(errorResult(InvalidLinkId));
    if (auto held = lockedOut(connection, link->generator, link->engine.get(), p.flags & WaitLock,
                              p.lockTimeout, errorResult(DeviceLocked)))
        return *held;
    if (!link->engine->holdsLock() && !link->engine->requestLock())
        return Outcome::reply(errorResult(IoError)); // the instrument's driver is gone
    return Outcome::reply(errorResult(NoError));
}

Vxi11Server::Outcome Vxi11Server::unlock(Connection &connection, const QByteArray &args) {
    quint32 id = 0;
    if (!decodeLink(args, id))
        return Outcome::garbage();
    Link *link = linkOf(connection, id);
    if (!link)
        return Outcome::reply(errorResult(InvalidLinkId));
    if (!link->engine->holdsLock())
        return Outcome::reply(errorResult(NoLockHeld));
    link->engine->releaseLock();
    return Outcome::reply(errorResult(NoError));
}

Vxi11Server::Outcome Vxi11Server::destroyLink(Connection &connection, const QByteArray &args) {
    quint32 id = 0;
    if (!decodeLink(args, id))
        return Outcome::garbage();
    if (!linkOf(connection, id))
        return Outcome::reply(errorResult(InvalidLinkId));
    d->links.erase(id); // its engine gives back the lock
    return Outcome::reply(errorResult(NoError));
}

// Calls run to their end before the next is read, so there is never one in
// progress to abort. A relaying service knows its bridges' links only by
// their calls, so it takes any link.
Vxi11Server::Outcome Vxi11Server::abort(const QByteArray &args) {
    quint32 id = 0;
    if (!decodeLink(args, id))
        return Outcome::garbage();
    const bool known = d->links.count(id) > 0 || d->relaying;
    return Outcome::reply(errorResult(known ? NoError : InvalidLinkId));
}

void Vxi11Server::drop(const std::shared_ptr<Connection> &connection) {
    for (auto it = d->links.begin(); it != d->links.end();)
        it = it->second.connection == connection.get() ? d->links.erase(it) : std::next(it);
    disconnect(connection->lockWatch);
    connection->lockDeadline.stop();
    if (connection->relay) {
        connection->relay->disconnect(this);
        connection->relay->abort();
        connection->relay->deleteLater();
    }
    closeStream(connection->stream);
    connection->stream = nullptr;
    const auto it = std::find(d->connections.begin(), d->connections.end(), connection);
    if (it != d->connections.end())
        d->connections.erase(it);
}

} // namespace rfgen
