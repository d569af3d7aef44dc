#pragma once

#include <QFile>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include "access.h"

#include <map>
#include <memory>

namespace rfgen {
struct ProbeResult;
class Vxi11Server;
struct Vxi11Target;
class LanServices;
} // namespace rfgen

namespace rfgen {

// `rfgen serve --all`: every recognised instrument gets a bridge process of
// its own (`rfgen serve --device PORT --port N`). Drivers wait on their
// instrument synchronously, so instruments sharing one process would make the
// clients of one wait on another's silence; separate processes also keep a
// crash to one instrument.
class Supervisor : public QObject {
public:
    struct Settings {
        QString program; // the rfgen executable the bridges run
        int firstTcpPort = 5025;
        QString journal;             // empty: none
        QStringList accessArguments; // --bind, --allow, --idle for every bridge
        AccessRules access;
        bool vxi11 = false; // one VXI-11 service, instK relayed to the bridge on port N+K
        bool announce = false;
        int httpPort = 0; // the web page's; 0: none
        QString version;
    };

    explicit Supervisor(const Settings &settings);
    ~Supervisor() override;
    void start();
    // Every bridge switches its output off and ends; then the process exits 0.
    void stop();

private:
    struct Bridge {
        QProcess *process = nullptr;
        int tcpPort = 0;
        QString model;
        bool listening = false;
        bool leaving = false; // its port is gone, or everything stops
    };

    void scan();
    void tellWhyUnusable(const rfgen::ProbeResult &probe);
    int unansweredCount(const rfgen::ProbeResult &probe) const;
    bool isOtherDevice(const QString &port) const;
    void endBridgesOfVanishedPorts(const QStringList &present);
    void launch(const QString &port, int model);
    int tcpPortFor(const QString &port);
    void relay(const QString &port);
    bool takeStatus(const Bridge &bridge, const QByteArray &line);
    bool startLanServices();
    void ended(const QString &port, int exitCode, QProcess::ExitStatus status);
    bool startVxi11();
    Vxi11Target vxi11Target(const QString &device) const;
    QString vxi11Name(int tcpPort) const;

    Settings settings;
    std::unique_ptr<QTemporaryDir> relayDir; // the bridges' VXI-11 sockets, this user's alone
    std::unique_ptr<Vxi11Server> vxi11;      // unregisters from rpcbind as it goes
    std::unique_ptr<LanServices> lan;        // fed with the bridges' status lines
    QTimer scanTimer;
    QFile journal;
    bool stopping = false;
    std::map<QString, Bridge> bridges;      // by serial port name
    std::map<QString, int> tcpPortOfPort;   // kept after an unplug, for the replug
    QSet<int> unusableTcpPorts;             // a bridge could not listen on them
    std::map<QString, QString> toldReasons; // why a port cannot be used, as last said
    std::map<QString, int> unanswered;      // probes in a row that found no instrument there
    static constexpr int probesOfOtherDevices = 3;
};

} // namespace rfgen
