#include "remoteserver.h"

#include "commandengine.h"
#include "generator.h"

#include <QPointer>
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
    CommandEngine engine;
    QByteArray pending;
    bool discarding = false;
    bool scheduled = false;
    bool serving = false;
    bool leaving = false; // hung up: its last lines are still served
    QString address;      // "ADDRESS:PORT", what the command journal names it by

    Client(QTcpSocket *s, Generator *g) : socket(s), engine(g), address(addressOf(*s)) {}

    static QString addressOf(const QTcpSocket &socket) {
        bool v4 = false;
        const quint32 ipv4 = socket.peerAddress().toIPv4Address(&v4); // also for ::ffff:a.b.c.d
        const QString host = v4 ? QHostAddress(ipv4).toString() : socket.peerAddress().toString();
        return host + ':' + QString::number(socket.peerPort());
    }
};

struct RemoteServer::Private {
    Generator *generator;
    std::unique_ptr<QTcpServer> listener;
    // Shared, so a client stays alive while one of its lines is served even if
    // a handler of a driver signal stops the server or the client hangs up.
    std::vector<std::shared_ptr<Client>> clients;
};

// A listener may be given up from a handler of its own newConnection signal:
// it goes when control is back in the event loop.
static void retire(std::unique_ptr<QTcpServer> &listener) {
    if (!listener)
        return;
    listener->close();
    listener->disconnect();
    listener.release()->deleteLater();
}

RemoteServer::RemoteServer(Generator *generator) : d(std::make_unique<Private>()) {
    d->generator = generator;
}

RemoteServer::~RemoteServer() {
    close();
}

// Binds the new port before giving up the old one, so a port that cannot be
// bound leaves the running server as it was.
bool RemoteServer::listen(int port) {
    if (d->listener && d->listener->isListening() && d->listener->serverPort() == port)
        return true;
    auto listener = std::make_unique<QTcpServer>();
    if (!listener->listen(QHostAddress::Any, quint16(port))) {
        lastError = listener->errorString();
        return false;
    }
    connect(listener.get(), &QTcpServer::newConnection, this, [this] { acceptClients(); });
    retire(d->listener);
    d->listener = std::move(listener);
    return true;
}

QString RemoteServer::errorString() const {
    return lastError;
}

void RemoteServer::close() {
    retire(d->listener);
    const bool hadClients = !d->clients.empty();
    for (const auto &client : d->clients)
        release(*client);
    d->clients.clear();
    if (hadClients)
        emit d->generator->netControl(false);
}

bool RemoteServer::isListening() const {
    return d->listener && d->listener->isListening();
}

int RemoteServer::clientCount() const {
    return int(d->clients.size());
}

// A handler of netControl may stop the server or delete its driver (and with
// it the server): nothing of the server is touched after such a handler.
void RemoteServer::acceptClients() {
    const QPointer<RemoteServer> self(this);
    while (QTcpSocket *socket = d->listener ? d->listener->nextPendingConnection() : nullptr) {
        if (int(d->clients.size()) >= maxClients)
            dropDepartedClients();
        if (!self)
            return;
        if (int(d->clients.size()) >= maxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setParent(this); // clients stay when the listener moves to another port
        socket->setReadBufferSize(socketReadBuffer);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); // replies go out at once
        auto client = std::make_shared<Client>(socket, d->generator);
        d->clients.push_back(client);
        std::weak_ptr<Client> weak = client;
        connect(socket, &QTcpSocket::readyRead, this, [this, weak] { schedule(weak.lock()); });
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
    if (!client || client->scheduled)
        return;
    client->scheduled = true;
    std::weak_ptr<Client> weak = client;
    QTimer::singleShot(0, this, [this, weak] {
        if (auto c = weak.lock())
            serve(c);
    });
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

void RemoteServer::handleLine(Client &client, const QByteArray &line) {
    if (line.size() > maxLineBytes) {
        client.engine.errors().push(scpi::TooMuchData);
        return;
    }
    if (!scpi::isPrintableAscii(line)) {
        client.engine.errors().push(scpi::CommandError);
        return;
    }
    const QPointer<Generator> generator(d->generator);
    generator->setExchangeOrigin(Exchange::Origin::Client, client.address);
    const QByteArray reply = client.engine.execute(line);
    if (generator)
        generator->setExchangeOrigin(Exchange::Origin::Panel);
    if (!reply.isNull() && client.socket && !client.leaving)
        client.socket->write(reply + '\n');
}

} // namespace rfgen
