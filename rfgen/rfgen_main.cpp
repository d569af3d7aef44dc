// rfgen: list instruments, bridge one to the network, or send it commands.
#include "commandengine.h"
#include "controllock.h"
#include "drivers.h"
#include "generator.h"
#include "journal.h"
#include "lanservices.h"
#include "models.h"
#include "probe.h"
#include "remoteserver.h"
#include "supervisor.h"
#include "vxi11server.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace rfgen;

namespace {

const char usageText[] =
    "Usage: rfgen list\n"
    "       rfgen serve [--port N] [--device PORT] [--journal FILE] [--vxi11] [LAN...]\n"
    "                   [ACCESS...]\n"
    "       rfgen serve --all [--port N] [--journal FILE] [--vxi11] [LAN...] [ACCESS...]\n"
    "       rfgen send [--device PORT] COMMAND...\n"
    "\n"
    "  list    probe every serial port and print PORT<TAB>MODEL<TAB>IDN\n"
    "  serve   connect to the instrument and serve remote-control clients on TCP\n"
    "          port N (default 5025); reconnects after a link loss; with\n"
    "          --journal, appends every exchange but the polls to FILE (- for\n"
    "          standard output)\n"
    "  serve --all\n"
    "          serve every instrument found, now or plugged in later, each on a\n"
    "          TCP port of its own from N upwards (\"listening on N for PORT\n"
    "          MODEL\"); journal lines begin with the instrument's port\n"
    "  --vxi11 also serve VXI-11 (TCPIP::HOST::instK::INSTR), registered with\n"
    "          rpcbind: the instrument is inst0, under --all the one on TCP port\n"
    "          N+K is instK\n"
    "  LAN, for colleagues' tools and browsers:\n"
    "  --announce   announce each instrument over mDNS/DNS-SD through avahi-daemon\n"
    "               (_scpi-raw._tcp; _vxi-11._tcp with --vxi11; _lxi._tcp and\n"
    "               _http._tcp with --http)\n"
    "  --http PORT  serve a read-only web page on PORT: each instrument with its\n"
    "               VISA addresses, lock, clients and values; the LXI\n"
    "               identification at /lxi/identification\n"
    "  send    run each COMMAND line on the instrument, print query replies;\n"
    "          errors go to standard error (exit 1), no instrument: exit 2\n"
    "\n"
    "  ACCESS, each may be given several times:\n"
    "  --bind ADDRESS        listen on this address only (default: every interface)\n"
    "  --allow NETWORK/BITS  serve only clients from these networks (default: all);\n"
    "                        others are closed unread, told once per address\n"
    "  --idle N              with 4 clients connected, a newcomer takes the place of\n"
    "                        the one idle longest if it has sent nothing for N\n"
    "                        seconds (default 30) and holds no lock\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

int usageError(const QString &message) {
    std::fprintf(stderr, "rfgen: %s\n%s", qPrintable(message), usageText);
    return 2;
}

struct Options {
    QString verb;
    int tcpPort = 5025;
    QString device;
    bool all = false;
    QString journal;
    QStringList commands;
    AccessRules access;
    QStringList accessArguments; // passed on to the bridges of --all
    bool vxi11 = false;
    bool announce = false;
    int httpPort = 0;
    bool reportStatus = false; // a bridge of --all: status lines for the supervisor
    // A bridge of --all: VXI-11 links come relayed over this local socket,
    // named for the device, and create_link announces the relay's abort port.
    QString vxi11Relay;
    int vxi11AbortPort = 0;
};

// --bind, --allow and --idle with their value; false with the problem.
bool takeAccessOption(const QString &name, const QString &value, AccessRules &access,
                      QString &problem) {
    if (name == "--bind") {
        const QHostAddress address(value);
        access.listenAddresses << address;
        problem = address.isNull() ? "--bind needs an IPv4 or IPv6 address" : QString();
    } else if (name == "--allow") {
        const auto network = QHostAddress::parseSubnet(value);
        access.allowedNetworks << network;
        problem =
            network.second < 0 ? "--allow needs NETWORK/BITS, e.g. 192.168.1.0/24" : QString();
    } else {
        bool ok = false;
        access.idleSeconds = value.toInt(&ok);
        problem = !ok || access.idleSeconds < 1 ? "--idle needs a number of seconds" : QString();
    }
    return problem.isEmpty();
}

// Splits "--name=value" into name and value; other words are left as they are.
QStringList expandArguments(const QStringList &args) {
    QStringList words;
    for (const QString &arg : args) {
        const int equals = arg.indexOf('=');
        if (arg.startsWith("--") && equals > 2)
            words << arg.left(equals) << arg.mid(equals + 1);
        else
            words << arg;
    }
    return words;
}

bool takeOption(const QStringList &args, int &i, Options &options, QString &problem) {
    const QString arg = args.at(i);
    static const QStringList flags{"--all", "--vxi11", "--announce", "--report-status"};
    if (flags.contains(arg) && options.verb == "serve") {
        bool Options::*const flag[] = {&Options::all, &Options::vxi11, &Options::announce,
                                       &Options::reportStatus};
        options.*flag[flags.indexOf(arg)] = true;
        return true;
    }
    if ((arg == "--vxi11-relay" || arg == "--vxi11-abort") && options.verb == "serve" &&
        i + 1 < args.size()) {
        if (arg == "--vxi11-relay")
            options.vxi11Relay = args.at(++i);
        else
            options.vxi11AbortPort = args.at(++i).toInt();
        return true;
    }
    const bool accessOption = arg == "--bind" || arg == "--allow" || arg == "--idle";
    const bool serveOption =
        arg == "--port" || arg == "--http" || arg == "--journal" || accessOption;
    if ((!serveOption || options.verb != "serve") &&
        (arg != "--device" || options.verb == "list")) {
        problem = "unexpected argument " + arg;
        return false;
    }
    if (++i >= args.size()) {
        problem = arg + " needs a value";
        return false;
    }
    if (accessOption) {
        options.accessArguments << arg << args.at(i);
        return takeAccessOption(arg, args.at(i), options.access, problem);
    }
    if (arg == "--device" || arg == "--journal") {
        (arg == "--device" ? options.device : options.journal) = args.at(i);
        return true;
    }
    bool ok = false;
    int &port = arg == "--http" ? options.httpPort : options.tcpPort;
    port = args.at(i).toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        problem = "port must be 1..65535";
        return false;
    }
    return true;
}

// Instrument commands never begin with '-', so every such word is an option.
bool parseOptions(const QStringList &given, Options &options, QString &problem) {
    const QStringList args = expandArguments(given);
    options.verb = args.value(1);
    for (int i = 2; i < args.size(); ++i) {
        if (args.at(i).startsWith('-')) {
            if (!takeOption(args, i, options, problem))
                return false;
        } else if (options.verb == "send") {
            options.commands.append(args.at(i));
        } else {
            problem = "unexpected argument " + args.at(i);
            return false;
        }
    }
    if (options.verb == "send" && options.commands.isEmpty()) {
        problem = "send needs at least one COMMAND";
        return false;
    }
    if (options.httpPort && options.httpPort == options.tcpPort) {
        problem = "--http needs a port of its own";
        return false;
    }
    if (options.all && !options.device.isEmpty()) {
        problem = "--all serves every port: it takes no --device";
        return false;
    }
    return true;
}

QString modelName(int model) {
    const ModelSpec *spec = modelSpec(model);
    return spec ? QString::fromLatin1(spec->driverName) : QStringLiteral("-");
}

// What the MODEL column says of a port: the model, or why it could not be used.
QString modelColumn(const ProbeResult &result) {
    if (result.outcome == ProbeResult::Busy)
        return result.holder ? QStringLiteral("busy (PID %1)").arg(result.holder)
                             : QStringLiteral("busy");
    if (result.outcome == ProbeResult::NoPermission)
        return QStringLiteral("no permission");
    return modelName(result.model);
}

// One line per port.
int runList() {
    for (const ProbeResult &result : probePorts(searchablePorts())) {
        const QByteArray idn = result.identification.isEmpty() ? "-" : result.identification;
        std::printf("%s\t%s\t%s\n", qPrintable(result.info.portName()),
                    qPrintable(modelColumn(result)), idn.constData());
    }
    return 0;
}

// A port by its name ("ttyACM0") or its device path ("/dev/ttyACM0").
QSerialPortInfo portNamed(const QString &device) {
    for (const QSerialPortInfo &port : Generator::getAvailablePorts())
        if (port.portName() == device || port.systemLocation() == device)
            return port;
    return QSerialPortInfo(device);
}

// Finds the instrument to use: the given port, or the one recognised
// instrument; otherwise says why not, a line per port.
bool findInstrument(const QString &device, QSerialPortInfo &port, int &model, QStringList &why) {
    QList<ProbeResult> results;
    if (device.isEmpty()) {
        if (Searcher::autosearch(port, model, results) == 1 && modelSpec(model))
            return true;
    } else if ((port = portNamed(device)).isNull()) {
        why = QStringList{device + QStringLiteral(": no such port")};
        return false;
    } else {
        results = probePorts({port});
        if (modelSpec(model = results.front().model))
            return true;
    }
    why = whyNoInstrument(results);
    return false;
}

void tellEach(const QStringList &lines) {
    for (const QString &line : lines)
        std::fprintf(stderr, "rfgen: %s\n", qPrintable(line));
}

std::unique_ptr<Generator> connectedDriver(int model, QSerialPortInfo &port) {
    std::unique_ptr<Generator> driver = makeDriver(model);
    connectDriver(*driver, port);
    return driver;
}

int runSend(const Options &options) {
    QSerialPortInfo port;
    int model = NoModel;
    // A few tries: a device plugged in a moment ago may not answer the first probe.
    bool found = false;
    QStringList why;
    for (int attempt = 0; attempt < 3 && !found; ++attempt)
        found = findInstrument(options.device, port, model, why);
    if (!found) {
        tellEach(why);
        return 2;
    }
    std::unique_ptr<Generator> driver = connectedDriver(model, port);
    QObject::connect(driver.get(), &Generator::error, [](const QString &text) {
        std::fprintf(stderr, "rfgen: %s\n", qPrintable(text));
    });
    QByteArray ignored;
    driver->query("*OPC?", ignored); // also waits for the identification
    CommandEngine engine(driver.get());
    bool anyError = !driver->isConnected();
    for (const QString &line : options.commands) {
        const QByteArray reply = engine.execute(line.toLatin1());
        if (!reply.isNull())
            std::printf("%s\n", reply.constData());
    }
    for (int code = engine.errors().pop(); code != scpi::NoError; code = engine.errors().pop()) {
        std::fprintf(stderr, "%s\n", scpi::errorReply(code).constData());
        anyError = true;
    }
    std::fflush(stdout);
    return anyError ? 1 : 0;
}

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// The headless bridge: serve clients, reconnect after a loss, stop cleanly.
// It listens only once its driver has the instrument's port open, so no
// client is ever told "Hardware missing" by a server that just started.
class Bridge : public QObject {
public:
    explicit Bridge(const Options &options) : options(options) {
        retry.setInterval(500);
        QObject::connect(&retry, &QTimer::timeout, this, [this] { tryConnect(); });
        statusTimer.setInterval(statusIntervalMs);
        QObject::connect(&statusTimer, &QTimer::timeout, this, [this] { tellStatus(); });
    }

    bool openJournal() {
        if (options.journal.isEmpty())
            return true;
        journal.setFileName(options.journal);
        if (options.journal == "-" ? journal.open(stdout, QIODevice::WriteOnly)
                                   : journal.open(QIODevice::WriteOnly | QIODevice::Append))
            return true;
        std::fprintf(stderr, "rfgen: cannot write the journal %s: %s\n",
                     qPrintable(options.journal), qPrintable(journal.errorString()));
        return false;
    }

    void start() {
        if (!openJournal() || !startLanServices())
            return QCoreApplication::exit(1);
        if (lan || options.reportStatus)
            statusTimer.start();
        tryConnect();
        if (!driver || !driver->isConnected())
            retry.start();
    }

    // The output goes off before the process ends; a link lost a moment ago
    // is found again for it.
    void stop() {
        if (driver) {
            if (!driver->isConnected())
                tryConnect();
            if (!driver->isConnected() || !driver->setState(false))
                std::fprintf(stderr, "rfgen: could not switch the RF output off\n");
            driver->stopServer();
        }
        QCoreApplication::exit(0); // the VXI-11 service unregisters as it goes
    }

private:
    Options options;
    QTimer retry;
    QFile journal;
    std::unique_ptr<Generator> driver;
    std::unique_ptr<Vxi11Server> vxi11;
    std::unique_ptr<LanServices> lan;
    QTimer statusTimer;
    InstrumentStatus reported; // the values as the instrument last reported them
    InstrumentStatus lastTold;
    bool announced = false;
    QString lastProblem;
    static constexpr int statusIntervalMs = 250;

    bool startLanServices() {
        return LanServices::startAsked(
            {options.access, options.announce, options.httpPort, options.vxi11, false,
             PROJECT_VERSION_TEXT},
            [](const QString &line) { tellEach({line}); }, lan);
    }

    // What the page and the announcement tell, or the supervisor of --all
    // for them; while the link is down, no identification and no values.
    InstrumentStatus status() const {
        const bool up = driver && driver->isConnected();
        InstrumentStatus now = up ? reported : InstrumentStatus{};
        now.name = vxi11Name();
        now.port = driver ? driver->portName() : options.device;
        now.model = driver ? driver->modelCode() : NoModel;
        now.identification = up ? driver->identification() : QString();
        now.tcpPort = options.tcpPort;
        now.lockHolder = driver ? driver->controlLock().holderName() : QString();
        now.clients = (driver ? driver->serverClientCount() : 0) + (vxi11 ? vxi11->linkCount() : 0);
        return now;
    }

    void tellStatus() {
        const InstrumentStatus now = status();
        if (now == lastTold)
            return;
        lastTold = now;
        if (lan)
            lan->setInstrument(now);
        if (options.reportStatus) {
            std::printf("%s\n", now.toLine().constData());
            std::fflush(stdout);
        }
    }

    void followReports(Generator &made) {
        reported = InstrumentStatus{};
        QObject::connect(&made, &Generator::newFrequency, this,
                         [this](double hz) { reported.frequencyHz = hz; });
        QObject::connect(&made, &Generator::newAmplitude, this,
                         [this](double volts) { reported.amplitudeV = volts; });
        QObject::connect(&made, &Generator::newAttenuation, this,
                         [this](double dB) { reported.attenuationDb = dB; });
        QObject::connect(&made, &Generator::newState, this,
                         [this](bool on) { reported.output = on; });
    }

    // A line per port and reason; told once per change.
    void tell(const QString &problem) {
        if (problem != lastProblem && !problem.isEmpty())
            tellEach(problem.split('\n'));
        lastProblem = problem;
    }

    void tryConnect() {
        QSerialPortInfo port;
        int model = NoModel;
        QStringList why;
        if (!findInstrument(options.device, port, model, why))
            return tell(why.join('\n'));
        if (driver && driver->modelCode() == model)
            connectDriver(*driver, port); // clients stay connected
        else
            driver = newDriver(model, port);
        if (!driver->isConnected())
            return; // taken between the search and now: the next search says by whom
        retry.stop();
        tell(QStringLiteral("serving %1 on %2").arg(modelName(model), port.portName()));
        if (!driver->isServerListening())
            startServer();
    }

    // inst0, or the name the relay's socket has under --all.
    QString vxi11Name() const {
        return options.vxi11Relay.isEmpty() ? QStringLiteral("inst0")
                                            : QFileInfo(options.vxi11Relay).fileName();
    }

    bool startVxi11() {
        vxi11 = std::make_unique<Vxi11Server>([this](const QString &device) {
            return device == vxi11Name() ? Vxi11Target{driver.get(), {}} : Vxi11Target{};
        });
        QObject::connect(vxi11.get(), &Vxi11Server::refused, this,
                         [](const QString &client) { tellEach({refusedNotice(client)}); });
        const bool listening =
            options.vxi11Relay.isEmpty()
                ? vxi11->listen(options.access)
                : vxi11->listenLocal(options.vxi11Relay, quint16(options.vxi11AbortPort));
        if (!listening)
            std::fprintf(stderr, "rfgen: cannot serve VXI-11: %s\n",
                         qPrintable(vxi11->errorString()));
        else if (QString problem; options.vxi11 && !vxi11->registerWithPortmapper(problem))
            std::fprintf(stderr, "rfgen: %s. Serving the raw socket.\n", qPrintable(problem));
        return listening;
    }

    std::unique_ptr<Generator> newDriver(int model, QSerialPortInfo &port) {
        std::unique_ptr<Generator> made = makeDriver(model);
        followReports(*made); // before the first poll, which reports every value
        connectDriver(*made, port);
        QObject::connect(made.get(), &Generator::disconnected, this, [this] {
            if (retry.isActive())
                return; // an attempt that failed to open the port, already told
            tell(QStringLiteral("lost the instrument, searching again"));
            QTimer::singleShot(0, this, [this] { tryConnect(); });
            retry.start();
        });
        QObject::connect(made.get(), &Generator::error, this, [](const QString &text) {
            std::fprintf(stderr, "rfgen: %s\n", qPrintable(text));
        });
        QObject::connect(made.get(), &Generator::exchanged, this, [](const Exchange &e) {
            if (!e.notice.isEmpty())
                tellEach({refusedNotice(e.client)});
        });
        if (journal.isOpen())
            QObject::connect(made.get(), &Generator::exchanged, this, [this](const Exchange &e) {
                if (e.origin != Exchange::Origin::Poll)
                    writeToJournal(e);
            });
        return made;
    }

    void writeToJournal(const Exchange &e) {
        if (journal.write((journal::line(e) + '\n').toUtf8()) < 0 || !journal.flush())
            tell("cannot write the journal: " + journal.errorString());
    }

    void startServer() {
        driver->setTcpPort(options.tcpPort);
        driver->setAccessRules(options.access);
        driver->startServer();
        if (!driver->isServerListening()) {
            QCoreApplication::exit(1);
            return;
        }
        if ((options.vxi11 || !options.vxi11Relay.isEmpty()) && !vxi11 && !startVxi11() &&
            options.vxi11)
            return QCoreApplication::exit(1);
        if (!announced && options.vxi11)
            std::printf("listening on %d %s\n", options.tcpPort,
                        qPrintable(visaResource(options.access, vxi11Name())));
        else if (!announced)
            std::printf("listening on %d\n", options.tcpPort);
        std::fflush(stdout);
        announced = true;
    }
};

// Runs the server until SIGINT or SIGTERM asks it to stop. The bridges that
// serve --all starts must not inherit the pipe.
template <typename Server> int runUntilSignalled(Server &server) {
    if (::pipe2(signalPipe, O_CLOEXEC) != 0)
        return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    // The byte is taken, or the notifier fires again and again while the
    // servers of --all switch their outputs off.
    QObject::connect(&notifier, &QSocketNotifier::activated, &server, [&server] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        server.stop();
    });
    QTimer::singleShot(0, &server, [&server] { server.start(); });
    return QCoreApplication::exec();
}

// An address given to --bind that this machine does not have ends the run at
// once, before --all's bridges would each fail on it.
bool canBind(const QList<QHostAddress> &addresses) {
    for (const QHostAddress &address : addresses) {
        QTcpServer probe;
        if (!probe.listen(address, 0)) {
            std::fprintf(stderr, "rfgen: cannot listen on %s: %s\n", qPrintable(address.toString()),
                         qPrintable(probe.errorString()));
            return false;
        }
    }
    return true;
}

int runServe(const Options &options) {
    if (!canBind(options.access.listenAddresses))
        return 1;
    if (options.all) {
        Supervisor supervisor({QCoreApplication::applicationFilePath(), options.tcpPort,
                               options.journal, options.accessArguments, options.access,
                               options.vxi11, options.announce, options.httpPort,
                               PROJECT_VERSION_TEXT});
        return runUntilSignalled(supervisor);
    }
    Bridge bridge(options);
    return runUntilSignalled(bridge);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("rfgen");
    QCoreApplication::setApplicationVersion(PROJECT_VERSION_TEXT);
    const QStringList args = app.arguments();
    if (args.contains("--help")) {
        std::printf("%s", usageText);
        return 0;
    }
    if (args.contains("--version")) {
        std::printf("rfgen %s\n", PROJECT_VERSION_TEXT);
        return 0;
    }
    Options options;
    QString problem;
    if (args.size() < 2)
        return usageError("no command given");
    if (options.verb = args.at(1);
        options.verb != "list" && options.verb != "serve" && options.verb != "send")
        return usageError("unknown command " + options.verb);
    if (!parseOptions(args, options, problem))
        return usageError(problem);
    if (options.verb == "list")
        return runList();
    if (options.verb == "send")
        return runSend(options);
    return runServe(options);
}
