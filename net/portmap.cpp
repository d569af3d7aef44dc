#include "portmap.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace rfgen::portmap {

namespace {
// The port rpcbind has for the program, 0 for none; false when rpcbind is
// not there to ask.
bool registeredPort(quint32 program, quint32 version, quint16 &port) {
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    port = pmap_getport(&loopback, program, version, IPPROTO_TCP);
    return port != 0 || rpc_createerr.cf_stat == RPC_PROGNOTREGISTERED;
}

bool answers(quint16 port) {
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(1000);
}
} // namespace

Outcome registerTcp(quint32 program, quint32 version, quint16 port) {
    quint16 known = 0;
    if (!registeredPort(program, version, known))
        return Outcome::NoPortmapper;
    if (known != 0 && known != port && answers(known))
        return Outcome::Taken;
    if (known != 0)
        pmap_unset(program, version);
    return pmap_set(program, version, IPPROTO_TCP, port) ? Outcome::Registered
                                                         : Outcome::NoPortmapper;
}

void unregister(quint32 program, quint32 version) {
    pmap_unset(program, version);
}

} // namespace rfgen::portmap
