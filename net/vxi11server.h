#pragma once

#include "access.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Generator;
class QIODevice;

namespace rfgen {

// Where a VXI-11 device name leads: an instrument of this process, or the
// local socket of the bridge process that serves it. Neither: not accessible.
struct Vxi11Target {
    Generator *generator = nullptr;
    QString relayPath;
};

// "TCPIP::HOST::DEVICE::INSTR": HOST is the address the rules bind to, or
// this machine's name.
QString visaResource(const AccessRules &rules, const QString &device);

// The VXI-11 core and abort channels over ONC RPC on TCP. Each link runs its
// lines through a command engine of its own, as a raw-socket client does;
// device_lock takes the instrument's one lock, the same as SYST:LOCK.
class Vxi11Server : public QObject {
    Q_OBJECT
public:
    using Resolver = std::function<Vxi11Target(const QString &device)>;
    static constexpr quint32 maxReceiveSize = 1024; // a longer write comes in pieces

    explicit Vxi11Server(Resolver resolver);
    ~Vxi11Server() override;
    // The core and abort channels, on ports of the system's choosing.
    bool listen(const AccessRules &rules);
    // Connections that another process's service relays; each begins with a
    // line naming its client, and create_link announces that service's abort port.
    bool listenLocal(const QString &path, quint16 announcedAbortPort);
    // Registers the core channel with rpcbind, until the server goes; false
    // with what to tell the user (no rpcbind, or another service holds it).
    bool registerWithPortmapper(QString &problem);
    quint16 corePort() const;
    quint16 abortPort() const;
    int linkCount() const;
    int connectionCount() const;
    QString errorString() const { return lastError; }

signals:
    // A client from outside the allowed networks was refused; once per address.
    void refused(const QString &client);

private:
    struct Connection;
    struct Link;
    struct Outcome;
    struct Private;

    void accept(QIODevice *stream, const QString &peer, bool abortChannel, bool named);
    void schedule(const std::shared_ptr<Connection> &connection);
    void serve(const std::shared_ptr<Connection> &connection);
    bool readName(Connection &connection);
    bool nextRecord(Connection &connection, QByteArray &record);
    void handle(const std::shared_ptr<Connection> &connection, const QByteArray &record);
    Outcome coreCall(Connection &connection, quint32 procedure, const QByteArray &args,
                     const QByteArray &record);
    Outcome createLink(Connection &connection, const QByteArray &args, const QByteArray &record);
    Outcome relay(Connection &connection, const QString &path, const QByteArray &record);
    Outcome write(Connection &connection, const QByteArray &args);
    Outcome read(Connection &connection, const QByteArray &args);
    Outcome readStatusByte(Connection &connection, const QByteArray &args);
    Outcome generic(Connection &connection, quint32 procedure, const QByteArray &args);
    Outcome lock(Connection &connection, const QByteArray &args);
    Outcome unlock(Connection &connection, const QByteArray &args);
    Outcome destroyLink(Connection &connection, const QByteArray &args);
    Outcome abort(const QByteArray &args);
    Link *linkOf(const Connection &connection, quint32 id);
    std::optional<Outcome> lockedOut(const Connection &connection, Generator *generator,
                                     const void *asker, bool mayWait, quint32 timeoutMs,
                                     const QByteArray &refusal);
    Outcome linkRefused(qint32 error) const;
    void runMessage(Link &link);
    void waitForLock(const std::shared_ptr<Connection> &connection, const QByteArray &record,
                     Generator *generator, quint32 timeoutMs);
    void drop(const std::shared_ptr<Connection> &connection);

    std::unique_ptr<Private> d;
    QString lastError;
};

} // namespace rfgen
