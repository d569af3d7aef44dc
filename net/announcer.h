#pragma once

#include "lanstatus.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiGLibPoll;

namespace rfgen {

// Announces each instrument over mDNS/DNS-SD through avahi-daemon:
// _scpi-raw._tcp on its raw-socket port, _vxi-11._tcp with VXI-11, _lxi._tcp
// and _http._tcp with the web page, under one name that tells instruments
// apart. Runs on the Qt event loop (GLib's, which Avahi's GLib adapter joins);
// waits for a daemon that is missing and publishes again after it restarts.
class Announcer {
public:
    using Say = std::function<void(const QString &line)>;
    // Published on the interfaces that have the bound addresses; none bound: on every one.
    Announcer(int httpPort, bool vxi11, const QList<QHostAddress> &boundTo, Say say);
    ~Announcer();
    void start();
    // Announces the instruments whose identification is known; withdraws the others.
    void update(const QList<InstrumentStatus> &instruments);

private:
    struct Entry;
    static void clientChanged(AvahiClient *client, int state, void *self);
    static void groupChanged(AvahiEntryGroup *group, int state, void *entry);
    void connectToDaemon();
    void reconnectLater();
    void publish(Entry &entry);
    bool addServices(Entry &entry);
    void rename(Entry &entry);

    const int httpPort;
    const bool vxi11;
    const QList<QHostAddress> boundTo;
    Say say;
    QObject context; // for calls put off until the current Avahi callback has returned
    QTimer retry;
    AvahiGLibPoll *poll = nullptr;
    AvahiClient *client = nullptr;
    bool running = false;
    bool toldMissing = false;
    std::map<QString, std::unique_ptr<Entry>> entries; // by instrument name
};

// "MAKER MODEL SERIAL on HOST", cut to the 63 bytes a DNS-SD name may have.
QByteArray serviceName(const QString &identification, const QString &host);

} // namespace rfgen
