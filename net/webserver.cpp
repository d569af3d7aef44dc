#include "webserver.h"

#include <QMutexLocker>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace rfgen {

namespace {

constexpr unsigned connectionLimit = 400, perClientLimit = 100;
constexpr unsigned idleTimeoutS = 15;

// No asset from elsewhere, nothing inline, no framing: the page's own files only.
const char securityPolicy[] = "default-src 'none'; script-src 'self'; style-src 'self'; "
                              "connect-src 'self'; img-src 'self'; frame-ancestors 'none'";

void fillAddress(const QHostAddress &address, quint16 port, sockaddr_storage &out) {
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&out);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&out);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(address.toIPv4Address());
    }
}

MHD_Response *responseOf(const WebResponse &web) {
    MHD_Response *response = MHD_create_response_from_buffer(
        size_t(web.body.size()), const_cast<char *>(web.body.constData()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, web.contentType.constData());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "Content-Security-Policy", securityPolicy);
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    return response;
}

MHD_Result queue(MHD_Connection *connection, const WebResponse &web, bool onlyRead = false) {
    MHD_Response *response = responseOf(web);
    if (onlyRead)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result result = MHD_queue_response(connection, unsigned(web.status), response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result onRequest(void *self, MHD_Connection *connection, const char *url, const char *method,
                     const char *, const char *, size_t *, void **) {
    return MHD_Result(static_cast<WebServer *>(self)->answer(connection, url, method));
}

} // namespace

WebServer::WebServer() = default;

WebServer::~WebServer() {
    for (MHD_Daemon *daemon : daemons)
        MHD_stop_daemon(daemon);
}

bool WebServer::listen(int port, const AccessRules &accessRules) {
    rules = accessRules;
    for (const QHostAddress &address : addressesToListenOn(rules))
        if (!listenOn(port, address))
            return false;
    return true;
}

// Any address: IPv6 and IPv4 on one socket, or IPv4 alone where there is no IPv6.
bool WebServer::listenOn(int port, const QHostAddress &address) {
    const MHD_AcceptPolicyCallback admit = [](void *self, const sockaddr *peer, socklen_t) {
        return MHD_Result(static_cast<WebServer *>(self)->admits(QHostAddress(peer)));
    };
    const unsigned common = MHD_USE_POLL_INTERNAL_THREAD;
    sockaddr_storage bound{};
    std::vector<unsigned> attempts;
    if (address == QHostAddress::Any) {
        attempts = {common | MHD_USE_DUAL_STACK, common};
    } else {
        fillAddress(address, quint16(port), bound);
        attempts = {address.protocol() == QAbstractSocket::IPv6Protocol ? common | MHD_USE_IPv6
                                                                        : common};
    }
    for (const unsigned flags : attempts) {
        MHD_Daemon *daemon = MHD_start_daemon(
            flags, quint16(port), admit, this, &onRequest, this, MHD_OPTION_CONNECTION_LIMIT,
            connectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, perClientLimit,
            MHD_OPTION_CONNECTION_TIMEOUT, idleTimeoutS, MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
            address == QHostAddress::Any ? MHD_OPTION_END : MHD_OPTION_SOCK_ADDR, &bound,
            MHD_OPTION_END);
        if (daemon) {
            daemons.push_back(daemon);
            return true;
        }
    }
    lastError = QStringLiteral("cannot listen on %1 port %2: %3")
                    .arg(address.toString())
                    .arg(port)
                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

int WebServer::admits(const QHostAddress &client) {
    if (isAllowed(rules, client))
        return MHD_YES;
    const QString name = plainAddress(client).toString();
    QMutexLocker lock(&mutex);
    if (!toldRefused.contains(name)) {
        toldRefused.insert(name);
        emit refused(name);
    }
    return MHD_NO;
}

void WebServer::publish(const Site &published) {
    QMutexLocker lock(&mutex);
    site = published;
}

// Read-only: GET and HEAD (the library leaves out HEAD's body); the query string
// is not part of url.
int WebServer::answer(MHD_Connection *connection, const char *url, const char *method) {
    const QByteArray verb(method);
    if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD)
        return queue(connection,
                     {MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain; charset=utf-8",
                      "Read-only: GET and HEAD only.\n"},
                     true);
    WebResponse response;
    {
        QMutexLocker lock(&mutex);
        response = webResponse(site, QByteArray(url));
    }
    return queue(connection, response);
}

} // namespace rfgen
