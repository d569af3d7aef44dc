#include "access.h"

#include <QHostInfo>
#include <QTcpServer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <utility>

namespace rfgen {

namespace {
constexpr int keepAliveIdleS = 60, keepAliveIntervalS = 10, keepAliveProbes = 3;
}

QHostAddress plainAddress(const QHostAddress &address) {
    bool v4 = false;
    const quint32 ipv4 = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ipv4) : address;
}

bool isAllowed(const AccessRules &rules, const QHostAddress &peer) {
    if (rules.allowedNetworks.isEmpty())
        return true;
    const QHostAddress plain = plainAddress(peer);
    for (const auto &network : rules.allowedNetworks)
        if (plain.isInSubnet(network))
            return true;
    return false;
}

QList<QHostAddress> addressesToListenOn(const AccessRules &rules) {
    return rules.listenAddresses.isEmpty() ? QList<QHostAddress>{QHostAddress::Any}
                                           : rules.listenAddresses;
}

bool mayBeMissing(const QHostAddress &address, const QTcpServer &listener) {
    return address == QHostAddress::LocalHostIPv6 &&
           (listener.serverError() == QAbstractSocket::SocketAddressNotAvailableError ||
            listener.serverError() == QAbstractSocket::UnsupportedSocketOperationError);
}

QString refusedNotice(const QString &client) {
    return "closed the connection of " + client + ": not an allowed network";
}

QString serviceHost(const AccessRules &rules) {
    return rules.listenAddresses.isEmpty() ? QHostInfo::localHostName()
                                           : plainAddress(rules.listenAddresses.front()).toString();
}

void keepAlive(qintptr socketDescriptor) {
    const int fd = int(socketDescriptor), on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    for (auto [option, value] : {std::pair{TCP_KEEPIDLE, keepAliveIdleS},
                                 {TCP_KEEPINTVL, keepAliveIntervalS},
                                 {TCP_KEEPCNT, keepAliveProbes}})
        ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value);
}

} // namespace rfgen
