#include "announcer.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkInterface>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-glib/glib-watch.h>

namespace rfgen {

namespace {

constexpr int maxServiceName = 63;
constexpr int retryIntervalMs = 5000;
constexpr int maxRenames = 20;
constexpr quint16 portmapperPort = 111; // VXI-11 clients start there

using TxtRecord = QList<QPair<QByteArray, QByteArray>>;

TxtRecord txtOf(const QString &identification) {
    const Identity id = identityOf(identification);
    return {{"txtvers", "1"},
            {"Manufacturer", id.manufacturer.toUtf8()},
            {"Model", id.model.toUtf8()},
            {"SerialNumber", id.serialNumber.toUtf8()},
            {"FirmwareVersion", id.firmware.toUtf8()}};
}

AvahiStringList *avahiList(const TxtRecord &txt) {
    AvahiStringList *list = nullptr;
    for (const auto &[key, value] : txt)
        list = avahi_string_list_add_pair(list, key.constData(), value.constData());
    return list;
}

// A service bound to some addresses is announced only where they are.
QList<int> interfacesOf(const QList<QHostAddress> &addresses) {
    QList<int> indexes;
    for (const QNetworkInterface &nic : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry &entry : nic.addressEntries())
            if (addresses.contains(entry.ip()) && !indexes.contains(nic.index()))
                indexes << nic.index();
    return indexes.isEmpty() ? QList<int>{AVAHI_IF_UNSPEC} : indexes; // bound to "any"
}

} // namespace

QByteArray serviceName(const QString &identification, const QString &host) {
    const Identity id = identityOf(identification);
    const QByteArray suffix = " on " + host.toUtf8();
    QString who = QStringList{id.manufacturer, id.model, id.serialNumber}.join(' ').simplified();
    while (who.toUtf8().size() + suffix.size() > maxServiceName && !who.isEmpty())
        who.chop(1);
    return (who.toUtf8() + suffix).left(maxServiceName);
}

struct Announcer::Entry {
    Announcer *owner = nullptr;
    QString instrument;    // its key in entries
    QByteArray wantedName; // from the identification
    QByteArray name;       // as announced: a clash makes it "NAME #2"
    int tcpPort = 0;
    TxtRecord txt;
    AvahiEntryGroup *group = nullptr;
    int renames = 0;
};

Announcer::Announcer(int httpPort, bool vxi11, const QList<QHostAddress> &boundTo, Say say)
    : httpPort(httpPort), vxi11(vxi11), boundTo(boundTo), say(std::move(say)) {
    retry.setInterval(retryIntervalMs);
    retry.setSingleShot(true);
    QObject::connect(&retry, &QTimer::timeout, &context, [this] { connectToDaemon(); });
}

Announcer::~Announcer() {
    if (client)
        avahi_client_free(client); // frees the groups: the services are withdrawn
    if (poll)
        avahi_glib_poll_free(poll);
}

void Announcer::start() {
    const auto *dispatcher = QCoreApplication::eventDispatcher();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib"))
        return say("cannot announce the instruments: Qt runs without the GLib event loop "
                   "(QT_NO_GLIB is set)");
    poll = avahi_glib_poll_new(nullptr, G_PRIORITY_DEFAULT);
    connectToDaemon();
}

// Without a daemon the client waits for one to appear.
void Announcer::connectToDaemon() {
    int error = 0;
    client = avahi_client_new(avahi_glib_poll_get(poll), AVAHI_CLIENT_NO_FAIL,
                              reinterpret_cast<AvahiClientCallback>(&Announcer::clientChanged),
                              this, &error);
    if (client)
        return;
    if (!toldMissing)
        say(QStringLiteral("cannot reach avahi-daemon (%1): the instruments are not announced "
                           "until it runs; install and start avahi-daemon")
                .arg(avahi_strerror(error)));
    toldMissing = true;
    retry.start();
}

// Called from inside avahi_client_new the first time: `client` may not be set yet.
void Announcer::clientChanged(AvahiClient *client, int state, void *self) {
    auto *announcer = static_cast<Announcer *>(self);
    announcer->client = client;
    announcer->running = state == AVAHI_CLIENT_S_RUNNING;
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        announcer->toldMissing = false;
        for (auto &[name, entry] : announcer->entries)
            announcer->publish(*entry);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING: // the host's name changed: published again when running
        for (auto &[name, entry] : announcer->entries)
            if (entry->group)
                avahi_entry_group_reset(entry->group);
        break;
    case AVAHI_CLIENT_CONNECTING:
        if (!announcer->toldMissing)
            announcer->say("avahi-daemon is not running: the instruments are announced once it "
                           "starts; install and start avahi-daemon");
        announcer->toldMissing = true;
        break;
    case AVAHI_CLIENT_FAILURE:
        announcer->reconnectLater();
        break;
    }
}

// The daemon went away (a restart, say): its groups went with it. A client is
// not freed inside its own callback.
void Announcer::reconnectLater() {
    for (auto &[name, entry] : entries)
        entry->group = nullptr;
    AvahiClient *failed = client;
    client = nullptr;
    QTimer::singleShot(0, &context, [this, failed] {
        avahi_client_free(failed);
        connectToDaemon();
    });
}

void Announcer::update(const QList<InstrumentStatus> &instruments) {
    const QString host = QHostInfo::localHostName();
    std::map<QString, std::unique_ptr<Entry>> kept;
    for (const InstrumentStatus &status : instruments) {
        if (status.identification.isEmpty())
            continue;
        auto found = entries.find(status.name);
        std::unique_ptr<Entry> entry =
            found == entries.end() ? std::make_unique<Entry>() : std::move(found->second);
        if (found != entries.end())
            entries.erase(found);
        const QByteArray wanted = serviceName(status.identification, host);
        const TxtRecord txt = txtOf(status.identification);
        const bool changed =
            entry->wantedName != wanted || entry->tcpPort != status.tcpPort || entry->txt != txt;
        *entry = Entry{this,           status.name, wanted,       changed ? wanted : entry->name,
                       status.tcpPort, txt,         entry->group, changed ? 0 : entry->renames};
        if (changed)
            publish(*entry);
        kept[status.name] = std::move(entry);
    }
    for (auto &[name, gone] : entries)
        if (gone->group)
            avahi_entry_group_free(gone->group); // withdraws its services
    entries = std::move(kept);
}

void Announcer::publish(Entry &entry) {
    if (!client || !running)
        return; // published once the daemon is there
    if (!entry.group)
        entry.group = avahi_entry_group_new(
            client, reinterpret_cast<AvahiEntryGroupCallback>(&Announcer::groupChanged), &entry);
    else
        avahi_entry_group_reset(entry.group);
    if (!entry.group)
        return say(
            QStringLiteral("cannot announce %1: %2")
                .arg(QString::fromUtf8(entry.name), avahi_strerror(avahi_client_errno(client))));
    if (addServices(entry))
        avahi_entry_group_commit(entry.group);
}

// All of an instrument's services under one name; a name another service of
// this host has already is changed as Avahi changes it.
bool Announcer::addServices(Entry &entry) {
    QList<QPair<const char *, int>> services{{"_scpi-raw._tcp", entry.tcpPort}};
    if (vxi11)
        services.append({"_vxi-11._tcp", portmapperPort});
    if (httpPort)
        services.append({{"_lxi._tcp", httpPort}, {"_http._tcp", httpPort}});
    AvahiStringList *txt = avahiList(entry.txt);
    int result = AVAHI_OK;
    const QList<int> interfaces = interfacesOf(boundTo);
    for (int i = 0; i < services.size() * interfaces.size() && result == AVAHI_OK; ++i) {
        const auto &[type, port] = services.at(i / interfaces.size());
        result = avahi_entry_group_add_service_strlst(
            entry.group, interfaces.at(i % interfaces.size()), AVAHI_PROTO_UNSPEC,
            AvahiPublishFlags(0), entry.name.constData(), type, nullptr, nullptr, quint16(port),
            txt);
    }
    avahi_string_list_free(txt);
    if (result == AVAHI_ERR_COLLISION) {
        rename(entry);
        return false;
    }
    if (result != AVAHI_OK)
        say(QStringLiteral("cannot announce %1: %2")
                .arg(QString::fromUtf8(entry.name), avahi_strerror(result)));
    return result == AVAHI_OK;
}

void Announcer::rename(Entry &entry) {
    if (++entry.renames > maxRenames)
        return say("cannot announce " + QString::fromUtf8(entry.wantedName) +
                   ": every name tried is taken");
    char *alternative = avahi_alternative_service_name(entry.name.constData());
    entry.name = alternative;
    avahi_free(alternative);
    QTimer::singleShot(0, &context, [this, instrument = entry.instrument] {
        if (const auto found = entries.find(instrument); found != entries.end())
            publish(*found->second); // unless it was unplugged meanwhile
    });
}

void Announcer::groupChanged(AvahiEntryGroup *group, int state, void *entryPointer) {
    auto &entry = *static_cast<Entry *>(entryPointer);
    entry.group = group; // the first call may come before avahi_entry_group_new returns
    if (state == AVAHI_ENTRY_GROUP_COLLISION)
        entry.owner->rename(entry);
    else if (state == AVAHI_ENTRY_GROUP_FAILURE)
        entry.owner->say(QStringLiteral("cannot announce %1: %2")
                             .arg(QString::fromUtf8(entry.name),
                                  avahi_strerror(avahi_client_errno(entry.owner->client))));
}

} // namespace rfgen
