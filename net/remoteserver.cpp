#include "remoteserver.h"

#include "commandengine.h"
#include "controllock.h"
#include "generator.h"
#include "scheduling.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace rfgen {

namespace {
constexpr int maxClients = 4;
constexpr int maxLineBytes = 1024;
// A client that does not read its replies is dropped before it costs memory.
constexpr qint64 maxPendingReplyBytes = 1 << 20;
constexpr qint64 socketReadBuffer = 64 * 1024;
} // namespace

struct Client {
    QPointer<QTcpSocket> socket;
    QString address; // "ADDRESS:PORT", what the command journal and the lock name it by
    CommandEngine engine;
    QByteArray pending;
    bool discarding = false;
    bool scheduled = false;
    bool serving = false;
    bool leaving = false; // hung up: its last lines are still served
    QElapsedTimer heard;  // since the client last sent anything

    Client(QTcpSocket *s, Generator *g) : socket(s), address(addressOf(*s)), engine(g, address) {
        heard.start();
    }

    static QString addressOf(const QTcpSocket &socket) {
        return plainAddress(socket.peerAddress()).toString() + ':' +
               QString::number(socket.peerPort());
    }
};

struct RemoteServer::Private {
    Generator *generator;
    std::vector<std::unique_ptr<QTcpServer>> listeners;
    AccessRules rules;
    QSet<QString> refusedHosts; // told once each
    // Shared, so a client stays alive while one of its lines is served even if
    // a handler of a driver signal stops the server or the client hangs up.
    std::vector<std::shared_ptr<Client>> clients;
};

// A listener may be given up from a handler of its own newConnection signal:
// it goes when control is back in the event loop.
static void retire(std::vector<std::unique_ptr<QTcpServer>> &listeners) {
    for (auto &listener : listeners) {
        listener->close();
        listener->disconnect();
        listener.release()->deleteLater();
    }
    listeners.clear();
}

RemoteServer::RemoteServer(Generator *generator) : d(std::make_unique<Private>()) {
    d->generator = generator;
}

RemoteServer::~RemoteServer() {
    close();
}

// Binds a new port before giving up the old one, so a port that cannot be
// bound leaves the running server as it was; the same port at other
// addresses is let go first. Clients the new rules would not let in go too.
bool RemoteServer::listen(int port, const AccessRules &rules) {
    const bool same = !d->listeners.empty() && d->listeners.front()->serverPort() == port &&
                      addressesToListenOn(rules) == addressesToListenOn(d->rules);
    if (same) {
        d->rules = rules;
        dropClientsOutsideRules();
        return true;
    }
    // The same port at other addresses: the old listeners must let go of it first.
    if (!d->listeners.empty() && d->listeners.front()->serverPort() == port)
        retire(d->listeners);
    std::vector<std::unique_ptr<QTcpServer>> listeners;
    for (const QHostAddress &address : addressesToListenOn(rules)) {
        auto listener = std::make_unique<QTcpServer>();
        if (listener->listen(address, quint16(port))) {
            QTcpServer *raw = listener.get();
            connect(raw, &QTcpServer::newConnection, this, [this, raw] { acceptClients(raw); });
            listeners.push_back(std::move(listener));
        } else if (!mayBeMissing(address, *listener) || addressesToListenOn(rules).size() == 1) {
            lastError = address.toString() + ": " + listener->errorString();
            return false;
        }
    }
    retire(d->listeners);
    d->listeners = std::move(listeners);
    d->rules = rules;
    dropClientsOutsideRules();
    return true;
}

void RemoteServer::dropClientsOutsideRules() {
    const QList<QHostAddress> addresses = addressesToListenOn(d->rules);
    const QPointer<RemoteServer> self(this);
    for (const auto &client : std::vector<std::shared_ptr<Client>>(d->clients)) {
        if (!self || !client->socket)
            continue;
        const QHostAddress at = plainAddress(client->socket->localAddress());
        const bool listened = std::any_of(addresses.begin(), addresses.end(), [&](auto &a) {
            return a == QHostAddress::Any || plainAddress(a) == at;
        });
        if (!listened || !admitted(*client->socket))
            drop(client);
    }
}

QString RemoteServer::errorString() const {
    return lastError;
}

void RemoteServer::close() {
    retire(d->listeners);
    const bool hadClients = !d->clients.empty();
    for (const auto &client : d->clients)
        release(*client);
    d->clients.clear();
    if (hadClients)
        emit d->generator->netControl(false);
}

bool RemoteServer::isListening() const {
    return !d->listeners.empty();
}

int RemoteServer::clientCount() const {
    return int(d->clients.size());
}

// A handler of netControl may stop the server or delete its driver (and with
// it the server): nothing of the server is touched after such a handler.
void RemoteServer::acceptClients(QTcpServer *listener) {
    const QPointer<RemoteServer> self(this);
    const QPointer<QTcpServer> from(listener);
    while (QTcpSocket *socket = from ? from->nextPendingConnection() : nullptr) {
        const bool allowed = admitted(*socket);
        if (allowed)
            makeRoom();
        if (!self)
            return;
        if (!allowed || int(d->clients.size()) >= maxClients) {
            socket->abort(); // closed before any of its lines is read
            socket->deleteLater();
            continue;
        }
        socket->setParent(this); // clients stay when the listener moves to another port
        socket->setReadBufferSize(socketReadBuffer);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); // replies go out at once
        keepAlive(socket->socketDescriptor());
        auto client = std::make_shared<Client>(socket, d->generator);
        d->clients.push_back(client);
        std::weak_ptr<Client> weak = client;
        connect(socket, &QTcpSocket::readyRead, this, [this, weak] {
            if (auto c = weak.lock())
                c->heard.start();
            schedule(weak.lock());
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, weak] {
            if (auto c = weak.lock()) {
                c->leaving = true;
                schedule(c);
            }
        });
        if (d->clients.size() == 1)
            emit d->generator->netControl(true);
        if (!self)
            return;
        schedule(client);
    }
}

// A client from outside the allowed networks is refused, and said so once per address.
bool RemoteServer::admitted(const QTcpSocket &socket) {
    const QHostAddress peer = plainAddress(socket.peerAddress());
    if (isAllowed(d->rules, peer))
        return true;
    if (!d->refusedHosts.contains(peer.toString())) {
        d->refusedHosts.insert(peer.toString());
        Exchange refusal;
        refusal.time = QDateTime::currentMSecsSinceEpoch();
        refusal.origin = Exchange::Origin::Client;
        refusal.client = Client::addressOf(socket);
        refusal.notice = QStringLiteral("соединение закрыто: адрес вне разрешенных сетей");
        emit d->generator->exchanged(refusal);
    }
    return false;
}

// At the client limit, departed clients go first, then one idle long enough.
void RemoteServer::makeRoom() {
    if (int(d->clients.size()) >= maxClients)
        dropDepartedClients();
    if (int(d->clients.size()) >= maxClients)
        dropLongestIdle();
}

// Only a client with nothing left to serve may be replaced, never the lock's holder.
void RemoteServer::dropLongestIdle() {
    std::shared_ptr<Client> idlest;
    for (const auto &client : d->clients) {
        const bool waiting = client->serving || client->scheduled || client->leaving ||
                             !client->pending.isEmpty() ||
                             (client->socket && client->socket->bytesAvailable() > 0);
        if (!waiting && !client->engine.holdsLock() &&
            (!idlest || client->heard.elapsed() > idlest->heard.elapsed()))
            idlest = client;
    }
    if (idlest && idlest->heard.elapsed() >= qint64(d->rules.idleSeconds) * 1000)
        drop(idlest);
}

// A client that hung up keeps its place until its hang-up is seen; when the
// server is full, look now, so a newcomer is not refused for a departed client.
void RemoteServer::dropDepartedClients() {
    const QPointer<RemoteServer> self(this);
    const auto clients = d->clients;
    for (const auto &client : clients) {
        if (!self)
            return;
        if (client->socket && !client->leaving)
            client->socket->waitForReadyRead(0); // notices a hang-up at once
        const bool served = client->pending.contains('\n') ||
                            (client->socket && client->socket->bytesAvailable() > 0);
        if ((client->leaving || !client->socket) && !served && !client->serving)
            drop(client);
    }
}

void RemoteServer::release(Client &client) {
    client.engine.releaseLock();
    if (!client.socket)
        return;
    client.socket->disconnect(this);
    client.socket->abort();
    client.socket->deleteLater();
    client.socket = nullptr;
}

void RemoteServer::drop(const std::shared_ptr<Client> &client) {
    release(*client);
    const auto it = std::find(d->clients.begin(), d->clients.end(), client);
    if (it == d->clients.end())
        return; // already gone, e.g. the server was stopped meanwhile
    d->clients.erase(it);
    if (d->clients.empty())
        emit d->generator->netControl(false);
}

// Lines are served one per turn of the event loop: a client that sends a
// flood of commands cannot hold the panel.
void RemoteServer::schedule(const std::shared_ptr<Client> &client) {
    scheduleOnce(this, client, [this](const std::shared_ptr<Client> &c) { serve(c); });
}

void RemoteServer::serve(const std::shared_ptr<Client> &client) {
    client->scheduled = false;
    if (client->serving)
        return; // a handler ran the event loop inside this client's line
    if (!client->socket) {
        drop(client);
        return;
    }
    QByteArray line;
    if (!nextLine(*client, line)) {
        if (client->leaving)
            drop(client); // everything it sent before hanging up was served
        return;
    }
    const QPointer<RemoteServer> self(this);
    client->serving = true;
    handleLine(*client, line);
    client->serving = false;
    client->heard.start(); // a slow line is not idleness
    if (!self)
        return; // a handler deleted the driver, and the server with it
    if (client->socket && client->socket->bytesToWrite() > maxPendingReplyBytes) {
        drop(client);
        return;
    }
    schedule(client);
}

// Takes the next complete line, enforcing the line length limit.
bool RemoteServer::nextLine(Client &client, QByteArray &line) {
    for (;;) {
        const int end = client.pending.indexOf('\n');
        if (end >= 0) {
            line = client.pending.left(end);
            client.pending.remove(0, end + 1);
            if (client.discarding) {
                client.discarding = false;
                continue; // the tail of an over-long line
            }
            if (line.endsWith('\r'))
                line.chop(1);
            return true;
        }
        if (client.pending.size() > maxLineBytes) {
            client.pending.clear();
            if (!client.discarding)
                client.engine.errors().push(scpi::TooMuchData);
            client.discarding = true;
        }
        const QByteArray more = client.socket->read(socketReadBuffer);
        if (more.isEmpty())
            return false;
        client.pending += more;
    }
}

QByteArray runClientLine(Generator *generator, CommandEngine &engine, const QString &client,
                         const QByteArray &line) {
    if (line.size() > maxLineBytes) {
        engine.errors().push(scpi::TooMuchData);
        return QByteArray();
    }
    if (!scpi::isPrintableAscii(line)) {
        engine.errors().push(scpi::CommandError);
        return QByteArray();
    }
    const QPointer<Generator> driver(generator);
    driver->setExchangeOrigin(Exchange::Origin::Client, client);
    const QByteArray reply = engine.execute(line);
    if (driver)
        driver->setExchangeOrigin(Exchange::Origin::Panel);
    return reply;
}

void RemoteServer::handleLine(Client &client, const QByteArray &line) {
    const QByteArray reply = runClientLine(d->generator, client.engine, client.address, line);
    if (!reply.isNull() && client.socket && !client.leaving)
        client.socket->write(reply + '\n');
}

} // namespace rfgen
