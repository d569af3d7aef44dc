#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>

class QTcpServer;

namespace rfgen {

// Where the network services listen and whom they serve.
struct AccessRules {
    QList<QHostAddress> listenAddresses;             // empty: every interface
    QList<QPair<QHostAddress, int>> allowedNetworks; // empty: every client
    // At the client limit a newcomer takes the place of the connection idle
    // the longest, if that one has been idle this long and holds no lock.
    int idleSeconds = 30;
};

// IPv4 clients of a dual-stack listener appear as ::ffff:a.b.c.d.
QHostAddress plainAddress(const QHostAddress &address);
bool isAllowed(const AccessRules &rules, const QHostAddress &peer);
QList<QHostAddress> addressesToListenOn(const AccessRules &rules);
// A machine without IPv6 has no ::1: loopback-only serving goes on with 127.0.0.1.
bool mayBeMissing(const QHostAddress &address, const QTcpServer &listener);
// What the services say of a client closed for being outside the allowed networks.
QString refusedNotice(const QString &client);
// The host in the resource strings the services give out: the address they
// are bound to, or this machine's name.
QString serviceHost(const AccessRules &rules);
// Keep-alive probes find a crashed host's connection dead after about 90 s.
void keepAlive(qintptr socketDescriptor);

} // namespace rfgen
