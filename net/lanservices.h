#pragma once

#include "access.h"
#include "lanstatus.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>

namespace rfgen {

class Announcer;
class WebServer;

// rfgen serve's presence on the LAN: the mDNS/DNS-SD announcement and the
// read-only web page, both told of each instrument as its status changes.
class LanServices : public QObject {
public:
    struct Settings {
        AccessRules access;
        bool announce = false;
        int httpPort = 0; // 0: no web page
        bool vxi11 = false;
        bool rack = false; // --all
        QString version;
    };
    using Say = std::function<void(const QString &line)>;

    LanServices(const Settings &settings, Say say);
    ~LanServices() override;
    // The services the settings ask for, started into `services` (left empty
    // when they ask for none); false when the web page cannot listen (said).
    static bool startAsked(const Settings &settings, Say say,
                           std::unique_ptr<LanServices> &services);
    void setInstrument(const InstrumentStatus &status);
    void removeInstrument(const QString &name);

private:
    bool start();
    void changed();

    Settings settings;
    Say say;
    std::unique_ptr<Announcer> announcer;
    std::unique_ptr<WebServer> web;
    std::map<QString, InstrumentStatus> instruments; // by name
};

} // namespace rfgen
