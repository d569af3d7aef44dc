#include "lanservices.h"

#include "announcer.h"
#include "webserver.h"

#include <QNetworkInterface>

#include <algorithm>

namespace rfgen {

namespace {

// Where the services can be reached: the bound addresses, or every address
// of this host but loopback and link-local ones.
QStringList hostAddresses(const AccessRules &rules) {
    QStringList addresses;
    const QList<QHostAddress> candidates =
        rules.listenAddresses.isEmpty() ? QNetworkInterface::allAddresses() : rules.listenAddresses;
    for (const QHostAddress &address : candidates)
        if (!address.isLoopback() && !address.isLinkLocal())
            addresses << plainAddress(address).toString();
    return addresses;
}

} // namespace

LanServices::LanServices(const Settings &settings, Say say)
    : settings(settings), say(std::move(say)) {}

LanServices::~LanServices() = default;

bool LanServices::startAsked(const Settings &settings, Say say,
                             std::unique_ptr<LanServices> &services) {
    if (!settings.announce && !settings.httpPort)
        return true;
    services = std::make_unique<LanServices>(settings, std::move(say));
    return services->start();
}

bool LanServices::start() {
    if (settings.httpPort) {
        web = std::make_unique<WebServer>();
        connect(web.get(), &WebServer::refused, this,
                [this](const QString &client) { say(refusedNotice(client)); });
        if (!web->listen(settings.httpPort, settings.access)) {
            say("cannot serve the web page: " + web->errorString());
            return false;
        }
    }
    if (settings.announce) {
        announcer = std::make_unique<Announcer>(settings.httpPort, settings.vxi11,
                                                settings.access.listenAddresses, say);
        announcer->start();
    }
    changed();
    return true;
}

void LanServices::setInstrument(const InstrumentStatus &status) {
    InstrumentStatus &known = instruments[status.name];
    if (known == status)
        return;
    known = status;
    changed();
}

void LanServices::removeInstrument(const QString &name) {
    if (instruments.erase(name))
        changed();
}

void LanServices::changed() {
    QList<InstrumentStatus> list;
    for (const auto &[name, status] : instruments)
        list << status;
    std::sort(list.begin(), list.end(), [](const auto &a, const auto &b) {
        return a.tcpPort < b.tcpPort; // inst2 before inst10
    });
    if (announcer)
        announcer->update(list);
    if (web)
        web->publish({serviceHost(settings.access), settings.httpPort, settings.vxi11,
                      settings.rack, settings.version, hostAddresses(settings.access), list});
}

} // namespace rfgen
