#include "remoteserver.h"

#include "commandengine.h"
#include "generator.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <list>

namespace rfgen {

namespace {
constexpr int maxClients = 4;
constexpr int maxLineBytes = 1024;
// A client that does not read its replies is dropped before it costs memory.
constexpr qint64 maxPendingReplyBytes = 1 << 20;
constexpr qint64 socketReadBuffer = 64 * 1024;

bool printable(const QByteArray &line) {
    for (char c : line)
        if (c < 0x20 || c > 0x7e)
            return false;
    return true;
}
} // namespace

struct Client {
    QPointer<QTcpSocket> socket;
    CommandEngine engine;
    QByteArray pending;
    bool discarding = false;
    bool scheduled = false;

    Client(QTcpSocket *s, Generator *g) : socket(s), engine(g) {}
};

struct RemoteServer::Private {
    Generator *generator;
    QTcpServer listener;
    std::list<Client> clients;
};

RemoteServer::RemoteServer(Generator *generator) : d(std::make_unique<Private>()) {
    d->generator = generator;
    connect(&d->listener, &QTcpServer::newConnection, this, [this] { acceptClients(); });
}

RemoteServer::~RemoteServer() {
    close();
}

bool RemoteServer::listen(int port) {
    if (d->listener.isListening() && d->listener.serverPort() == port)
        return true;
    d->listener.close();
    return d->listener.listen(QHostAddress::Any, quint16(port));
}

QString RemoteServer::errorString() const {
    return d->listener.errorString();
}

void RemoteServer::close() {
    d->listener.close();
    const bool hadClients = !d->clients.empty();
    for (Client &client : d->clients)
        if (client.socket) {
            client.socket->disconnect(this);
            client.socket->abort();
            client.socket->deleteLater();
        }
    d->clients.clear();
    if (hadClients)
        emit d->generator->netControl(false);
}

bool RemoteServer::isListening() const {
    return d->listener.isListening();
}

int RemoteServer::clientCount() const {
    return int(d->clients.size());
}

void RemoteServer::acceptClients() {
    while (QTcpSocket *socket = d->listener.nextPendingConnection()) {
        if (int(d->clients.size()) >= maxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(socketReadBuffer);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); // replies go out at once
        d->clients.emplace_back(socket, d->generator);
        Client *client = &d->clients.back();
        connect(socket, &QTcpSocket::readyRead, this, [this, client] { serve(*client); });
        connect(socket, &QTcpSocket::disconnected, this, [this, client] { drop(*client); });
        if (d->clients.size() == 1)
            emit d->generator->netControl(true);
    }
}

void RemoteServer::drop(Client &client) {
    for (auto it = d->clients.begin(); it != d->clients.end(); ++it) {
        if (&*it != &client)
            continue;
        if (it->socket) {
            it->socket->disconnect(this);
            it->socket->deleteLater();
        }
        d->clients.erase(it);
        if (d->clients.empty())
            emit d->generator->netControl(false);
        return;
    }
}

// One line per turn of the event loop: a client that sends a flood of
// commands cannot hold the panel.
void RemoteServer::serve(Client &client) {
    client.scheduled = false;
    if (!client.socket)
        return;
    QByteArray line;
    if (!nextLine(client, line))
        return;
    handleLine(client, line);
    if (!client.socket || client.socket->bytesToWrite() > maxPendingReplyBytes) {
        drop(client);
        return;
    }
    if (!client.scheduled) {
        client.scheduled = true;
        QTimer::singleShot(0, this, [this, socket = client.socket, c = &client] {
            if (socket && isClient(c))
                serve(*c);
        });
    }
}

bool RemoteServer::isClient(const Client *client) const {
    for (const Client &c : d->clients)
        if (&c == client)
            return true;
    return false;
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
    if (!printable(line)) {
        client.engine.errors().push(scpi::CommandError);
        return;
    }
    const QByteArray reply = client.engine.execute(line);
    if (!reply.isNull() && client.socket)
        client.socket->write(reply + '\n');
}

} // namespace rfgen
