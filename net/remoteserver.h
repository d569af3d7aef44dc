#pragma once

#include "access.h"

#include <QObject>

#include <memory>

class Generator;
class QTcpServer;
class QTcpSocket;

namespace rfgen {

class CommandEngine;
struct Client;

// Runs a remote client's line as the raw socket and VXI-11 both do: too long
// or not printable ASCII is refused, and the journal names the client.
// Returns the reply, or a null array when there is none.
QByteArray runClientLine(Generator *generator, CommandEngine &engine, const QString &client,
                         const QByteArray &line);

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
