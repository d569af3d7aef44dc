#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>

#include <memory>

class Generator;
class QTcpServer;
class QTcpSocket;

namespace rfgen {

struct Client;

// Where the server listens and whom it serves.
struct AccessRules {
    QList<QHostAddress> listenAddresses;             // empty: every interface
    QList<QPair<QHostAddress, int>> allowedNetworks; // empty: every client
    // At the client limit a newcomer takes the place of the connection idle
    // the longest, if that one has been idle this long and holds no lock.
    int idleSeconds = 30;
};

// Listens for remote-control clients and runs their lines through the
// command engine of the generator it belongs to.
class RemoteServer : public QObject {
    Q_OBJECT
public:
    explicit RemoteServer(Generator *generator);
    ~RemoteServer() override;
    // Listens on the port at the rules' addresses; the rules' other terms
    // apply to the next clients.
    bool listen(int port, const AccessRules &rules);
    void close();
    bool isListening() const;
    int clientCount() const;
    QString errorString() const;

private:
    void acceptClients(QTcpServer *listener);
    bool admitted(const QTcpSocket &socket);
    void makeRoom();
    void dropDepartedClients();
    void dropLongestIdle();
    void dropClientsOutsideRules();
    void release(Client &client);
    void drop(const std::shared_ptr<Client> &client);
    void schedule(const std::shared_ptr<Client> &client);
    void serve(const std::shared_ptr<Client> &client);
    bool nextLine(Client &client, QByteArray &line);
    void handleLine(Client &client, const QByteArray &line);

    struct Private;
    std::unique_ptr<Private> d;
    QString lastError;
};

} // namespace rfgen
