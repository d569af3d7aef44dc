#pragma once

#include <QObject>

#include <memory>

class Generator;

namespace rfgen {

struct Client;

// Listens for remote-control clients and runs their lines through the
// command engine of the generator it belongs to.
class RemoteServer : public QObject {
    Q_OBJECT
public:
    explicit RemoteServer(Generator *generator);
    ~RemoteServer() override;
    bool listen(int port);
    void close();
    bool isListening() const;
    int clientCount() const;
    QString errorString() const;

private:
    void acceptClients();
    void dropDepartedClients();
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
