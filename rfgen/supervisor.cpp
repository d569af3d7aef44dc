#include "supervisor.h"

#include "lanservices.h"
#include "models.h"
#include "probe.h"
#include "vxi11server.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

namespace rfgen {

namespace {

constexpr int scanIntervalMs = 1000;

// A bridge outlives no supervisor, not even a killed one: it is told to stop
// as by the operator, so its output goes off. A Ctrl+C at the terminal reaches
// the supervisor alone, which then stops the bridges in order.
class BridgeProcess : public QProcess {
public:
    using QProcess::QProcess;

protected:
    void setupChildProcess() override {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != supervisor) // it died before the signal was asked for
            ::_exit(1);
    }

private:
    const pid_t supervisor = ::getpid();
};

void say(const QString &text) {
    std::fprintf(stderr, "rfgen: %s\n", qPrintable(text));
}

} // namespace

Supervisor::Supervisor(const Settings &settings) : settings(settings) {
    if (settings.httpPort)
        unusableTcpPorts.insert(settings.httpPort); // no bridge is given the web page's port
    scanTimer.setInterval(scanIntervalMs);
    connect(&scanTimer, &QTimer::timeout, this, [this] { scan(); });
}

Supervisor::~Supervisor() = default;

void Supervisor::start() {
    if (!settings.journal.isEmpty()) {
        journal.setFileName(settings.journal);
        if (!journal.open(QIODevice::WriteOnly | QIODevice::Append)) {
            say(QStringLiteral("cannot write the journal %1: %2")
                    .arg(settings.journal, journal.errorString()));
            return QCoreApplication::exit(1);
        }
    }
    if ((settings.vxi11 && !startVxi11()) || !startLanServices())
        return QCoreApplication::exit(1);
    scan();
    if (bridges.empty())
        say("no instrument found yet, serving each one as it appears");
    scanTimer.start();
}

void Supervisor::stop() {
    stopping = true;
    scanTimer.stop();
    if (bridges.empty())
        return QCoreApplication::exit(0);
    for (auto &[port, bridge] : bridges) {
        bridge.leaving = true;
        bridge.process->terminate();
    }
}

// Ports served by a bridge are its own; only the others are probed, all at once.
void Supervisor::scan() {
    const QList<QSerialPortInfo> ports = searchablePorts();
    QStringList present;
    QList<QSerialPortInfo> unserved;
    for (const QSerialPortInfo &info : ports) {
        present << info.portName();
        if (bridges.count(info.portName()) == 0 && !isOtherDevice(info.portName()))
            unserved << info;
    }
    endBridgesOfVanishedPorts(present);
    for (auto it = unanswered.begin(); it != unanswered.end();) // a replug starts afresh
        it = present.contains(it->first) ? std::next(it) : unanswered.erase(it);
    if (unserved.isEmpty())
        return;
    for (const ProbeResult &probe : probePorts(unserved)) { // in port-name order
        const bool instrument = modelSpec(probe.model) != nullptr;
        const bool opened =
            probe.outcome == ProbeResult::Answered || probe.outcome == ProbeResult::Silent;
        unanswered[probe.info.portName()] = instrument || !opened ? 0 : unansweredCount(probe) + 1;
        if (instrument)
            launch(probe.info.portName(), probe.model);
        else
            tellWhyUnusable(probe);
    }
}

int Supervisor::unansweredCount(const ProbeResult &probe) const {
    const auto it = unanswered.find(probe.info.portName());
    return it == unanswered.end() ? 0 : it->second;
}

// Another device (a modem, a board, a port someone opened without a lock
// file) is left in peace once it has not answered as an instrument a few
// times: every probe opens it, raises DTR and sends it a line. An instrument
// just plugged in gets those few chances; unplugged and plugged in, all again.
bool Supervisor::isOtherDevice(const QString &port) const {
    const auto it = unanswered.find(port);
    return it != unanswered.end() && it->second >= probesOfOtherDevices;
}

// A port another program holds, or one without permission, is named once per change.
void Supervisor::tellWhyUnusable(const ProbeResult &probe) {
    const bool unusable =
        probe.outcome == ProbeResult::Busy || probe.outcome == ProbeResult::NoPermission;
    const QString reason = unusable ? portReport(probe) : QString();
    QString &told = toldReasons[probe.info.portName()];
    if (reason != told && !reason.isEmpty())
        say(reason);
    told = reason;
}

// Their clients are closed with them, which frees the TCP port.
void Supervisor::endBridgesOfVanishedPorts(const QStringList &present) {
    for (auto &[port, bridge] : bridges)
        if (!bridge.leaving && !present.contains(port)) {
            if (lan)
                lan->removeInstrument(vxi11Name(bridge.tcpPort));
            bridge.leaving = true;
            bridge.process->terminate();
        }
}

void Supervisor::launch(const QString &port, int model) {
    const int tcpPort = tcpPortFor(port);
    if (tcpPort == 0)
        return say("no TCP port left for " + port);
    QStringList arguments{"serve", "--device", port, "--port", QString::number(tcpPort)};
    arguments << settings.accessArguments;
    if (vxi11)
        arguments << "--vxi11-relay" << relayDir->filePath(vxi11Name(tcpPort)) << "--vxi11-abort"
                  << QString::number(vxi11->abortPort());
    if (lan)
        arguments << "--report-status";
    if (journal.isOpen())
        arguments << "--journal"
                  << "-"; // lines come through here, to be marked with the port
    auto *process = new BridgeProcess(this);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process, &QProcess::readyReadStandardOutput, this, [this, port] { relay(port); });
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, port](int code, QProcess::ExitStatus status) { ended(port, code, status); });
    connect(process, &QProcess::errorOccurred, this, [this, port](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(port, 127, QProcess::CrashExit);
    });
    bridges[port] = Bridge{process, tcpPort, QString::fromLatin1(modelSpec(model)->driverName)};
    process->start(settings.program, arguments);
}

// The port it had before, else the lowest one no other serial port has had.
int Supervisor::tcpPortFor(const QString &port) {
    if (const auto known = tcpPortOfPort.find(port);
        known != tcpPortOfPort.end() && !unusableTcpPorts.contains(known->second))
        return known->second;
    QSet<int> taken = unusableTcpPorts;
    for (const auto &[other, tcpPort] : tcpPortOfPort)
        if (other != port)
            taken.insert(tcpPort);
    for (int candidate = settings.firstTcpPort; candidate <= 65535; ++candidate)
        if (!taken.contains(candidate))
            return tcpPortOfPort[port] = candidate;
    return 0;
}

// A bridge's standard output: its "listening on N", then journal lines.
void Supervisor::relay(const QString &port) {
    Bridge &bridge = bridges.at(port);
    while (bridge.process->canReadLine()) {
        const QByteArray line = bridge.process->readLine();
        if (takeStatus(bridge, line))
            continue;
        if (line.startsWith("listening on ")) {
            bridge.listening = true;
            const QString resource =
                vxi11 ? ' ' + visaResource(settings.access, vxi11Name(bridge.tcpPort)) : QString();
            std::printf("listening on %d for %s %s%s\n", bridge.tcpPort, qPrintable(port),
                        qPrintable(bridge.model), qPrintable(resource));
            std::fflush(stdout);
        } else if (journal.isOpen() &&
                   (journal.write(port.toUtf8() + '\t' + line) < 0 || !journal.flush())) {
            say("cannot write the journal: " + journal.errorString());
        }
    }
}

// A bridge that ends by itself before listening could not bind its TCP port;
// one that ends otherwise is started again by the next scan.
void Supervisor::ended(const QString &port, int exitCode, QProcess::ExitStatus status) {
    relay(port);
    const Bridge bridge = bridges.at(port);
    bridges.erase(port);
    bridge.process->deleteLater();
    if (lan)
        lan->removeInstrument(vxi11Name(bridge.tcpPort)); // withdrawn, off the page
    if (stopping) {
        if (bridges.empty())
            QCoreApplication::exit(0);
        return;
    }
    if (bridge.leaving)
        say(QStringLiteral("%1 is gone, TCP port %2 closed").arg(port).arg(bridge.tcpPort));
    else if (!bridge.listening && status == QProcess::NormalExit && exitCode == 1) {
        unusableTcpPorts.insert(bridge.tcpPort);
        say(QStringLiteral("cannot serve %1 on TCP port %2, trying another")
                .arg(port)
                .arg(bridge.tcpPort));
    } else
        say(QStringLiteral("the bridge for %1 ended, starting it again").arg(port));
}

} // namespace rfgen

namespace rfgen {

bool Supervisor::startVxi11() {
    vxi11 = std::make_unique<Vxi11Server>(
        [this](const QString &device) { return vxi11Target(device); });
    connect(vxi11.get(), &Vxi11Server::refused, this,
            [](const QString &client) { say(refusedNotice(client)); });
    relayDir = std::make_unique<QTemporaryDir>();
    if (!relayDir->isValid() || !vxi11->listen(settings.access)) {
        say("cannot serve VXI-11: " + vxi11->errorString());
        return false;
    }
    if (QString problem; !vxi11->registerWithPortmapper(problem))
        say(problem + ". Serving the raw sockets.");
    return true;
}

// instK is the instrument on TCP port N+K, while its bridge listens.
QString Supervisor::vxi11Name(int tcpPort) const {
    return QStringLiteral("inst%1").arg(tcpPort - settings.firstTcpPort);
}

Vxi11Target Supervisor::vxi11Target(const QString &device) const {
    for (const auto &[port, bridge] : bridges)
        if (bridge.listening && !bridge.leaving && vxi11Name(bridge.tcpPort) == device)
            return {nullptr, relayDir->filePath(device)};
    return {};
}

} // namespace rfgen

namespace rfgen {

bool Supervisor::startLanServices() {
    return LanServices::startAsked({settings.access, settings.announce, settings.httpPort,
                                    settings.vxi11, true, settings.version},
                                   say, lan);
}

// A bridge's status, named as the instrument is named on the network.
bool Supervisor::takeStatus(const Bridge &bridge, const QByteArray &line) {
    InstrumentStatus status;
    if (!lan || !InstrumentStatus::fromLine(line.trimmed(), status))
        return false;
    status.name = vxi11Name(bridge.tcpPort);
    status.tcpPort = bridge.tcpPort;
    if (!bridge.leaving)
        lan->setInstrument(status);
    return true;
}

} // namespace rfgen
