#pragma once

#include "access.h"
#include "webpage.h"

#include <QMutex>
#include <QObject>
#include <QSet>

#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace rfgen {

// The bridge's read-only web page over libmicrohttpd. Requests are answered
// on the library's own thread from the last published site, so slow or many
// HTTP clients never hold up the event loop that serves the instruments.
class WebServer : public QObject {
    Q_OBJECT
public:
    WebServer();
    ~WebServer() override;
    // One listener per address of the rules; their allowed networks apply.
    bool listen(int port, const AccessRules &rules);
    QString errorString() const { return lastError; }
    void publish(const Site &site);

    // Called on the library's thread.
    int admits(const QHostAddress &client);
    int answer(MHD_Connection *connection, const char *url, const char *method);

signals:
    // A client outside the allowed networks, once per address (any thread).
    void refused(const QString &client);

private:
    bool listenOn(int port, const QHostAddress &address);

    AccessRules rules;
    std::vector<MHD_Daemon *> daemons;
    QString lastError;
    mutable QMutex mutex; // guards site and toldRefused
    Site site;
    QSet<QString> toldRefused;
};

} // namespace rfgen
