// rfgen-testbed: runs a command with simulated signal generators plugged in
// as USB serial devices, served until the command exits.

#include "instrument.h"
#include "testbed.h"

#include <QByteArrayList>
#include <QStringList>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int usageExitCode = 2;
constexpr int setupExitCode = 1;
constexpr int maxControlLine = 1024;
const char reexecVariable[] = "RFGEN_TESTBED_REEXEC";
const char *const modelNames[] = {"orvex", "pylar", "quendt"};

const char usageText[] =
    "Usage: rfgen-testbed [OPTIONS] -- COMMAND [ARGS...]\n"
    "Runs COMMAND with simulated signal generators plugged in as USB serial\n"
    "devices /dev/ttyACM<n> (through umockdev), serving them until COMMAND exits.\n"
    "Exits with COMMAND's status (128+N when killed by signal N).\n"
    "\n"
    "Options:\n"
    "  --model NAME      add a generator: orvex, pylar or quendt (or 0, 1, 2);\n"
    "                    may be repeated\n"
    "  --silent N        add N ports that never answer\n"
    "  --control PATH    accept control commands on a UNIX stream socket at PATH\n"
    "  --help            show this text\n"
    "\n"
    "Devices are numbered from 0 in the order given: generators first, then the\n"
    "silent ports. COMMAND gets their node names, space-separated, in\n"
    "RFGEN_TESTBED_PORTS. SIGINT and SIGTERM are passed on to COMMAND.\n"
    "\n"
    "Control commands, one per line; each is answered by one line,\n"
    "\"ok [VALUE]\" or \"error TEXT\":\n"
    "  list                    every device as I:NODE:MODEL:plugged|unplugged\n"
    "  port I                  node name of device I, e.g. ttyACM0\n"
    "  unplug I                hang up and remove device I like a pulled adapter\n"
    "  replug I [same]         plug device I in again under a new node name, or\n"
    "                          its old one (as the kernel does once it is closed)\n"
    "  plug NAME               plug in a new generator of model NAME; answers\n"
    "                          \"ok I NODE\"\n"
    "  silent I on|off         generator I stops / resumes answering\n"
    "  garbage I on|off        generator I answers queries with garbage\n"
    "  set I HEADER VALUE      change a value as if on generator I itself;\n"
    "                          HEADER: FREQ (Hz), VOLT (V), POW (dBm), ATT (dB),\n"
    "                          OUTP (ON|OFF|1|0), FM:PER (s)\n"
    "  get I QUERY             current setting, e.g. \"get 0 FREQ?\"\n"
    "  serial I TEXT           the serial number *IDN? names from now on\n"
    "\n"
    "Example:\n"
    "  rfgen-testbed --model orvex --model pylar --silent 2 -- rfgen list\n";

struct Options {
    std::vector<int> models;
    int silentPorts = 0;
    QByteArray controlPath;
    std::vector<char *> command;
};

enum class ParseResult { Run, Help, UsageError };

int modelCodeFromName(const QByteArray &name) {
    for (int code = 0; code < 3; ++code)
        if (name.toLower() == modelNames[code] || name == QByteArray::number(code))
            return code;
    return -1;
}

ParseResult usageError(const char *message, const char *argument = "") {
    fprintf(stderr, "rfgen-testbed: %s%s\n\n%s", message, argument, usageText);
    return ParseResult::UsageError;
}

ParseResult parseArguments(int argc, char *argv[], Options &options) {
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        const QByteArray option = argv[i];
        if (option == "--help")
            return ParseResult::Help;
        if (option != "--model" && option != "--silent" && option != "--control")
            return usageError("unknown option ", argv[i]);
        if (i + 1 >= argc)
            return usageError("missing value for ", argv[i]);
        const QByteArray value = argv[++i];
        bool ok = true;
        if (option == "--model") {
            options.models.push_back(modelCodeFromName(value));
            ok = options.models.back() >= 0;
        } else if (option == "--silent") {
            options.silentPorts = value.toInt(&ok);
            ok = ok && options.silentPorts >= 0 && options.silentPorts <= 64;
        } else {
            options.controlPath = value;
            ok = !value.isEmpty() && value.size() < int(sizeof(sockaddr_un::sun_path));
        }
        if (!ok)
            return usageError("bad value for ", option.constData());
    }
    if (i + 1 >= argc)
        return usageError("no command given after --");
    options.command.assign(argv + i + 1, argv + argc);
    options.command.push_back(nullptr);
    return ParseResult::Run;
}

// Devices can only be added while the umockdev preload library is loaded:
// start again under umockdev-wrapper, once.
void reexecUnderPreloadIfNeeded(char *argv[]) {
    const QByteArray preload = qgetenv("LD_PRELOAD");
    if (preload.contains("libumockdev-preload") || qEnvironmentVariableIsSet(reexecVariable))
        return;
    qputenv(reexecVariable, "1");
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        strncpy(self, argv[0], sizeof self - 1);
    std::vector<char *> args{const_cast<char *>(UMOCKDEV_WRAPPER), self};
    for (char **arg = argv + 1; *arg; ++arg)
        args.push_back(*arg);
    args.push_back(nullptr);
    execvp(args[0], args.data());
    fprintf(stderr, "rfgen-testbed: cannot run %s: %s\n", UMOCKDEV_WRAPPER, strerror(errno));
    exit(setupExitCode);
}

// The simulated devices and the control commands that act on them.
class Bench {
public:
    bool setUp(const Options &options);
    QByteArray portList() const;
    QByteArray execute(const QByteArray &line);

private:
    struct Device {
        int handle = -1;
        std::unique_ptr<sim::Instrument> instrument; // null: a silent port
    };

    bool addDevice(const sim::UsbIdentity &identity, std::unique_ptr<sim::Instrument> instrument);
    bool addGenerator(int model);
    QByteArray plug(const QByteArray &modelName);
    QByteArray describe(int index) const;
    QByteArray setValue(sim::Instrument &instrument, const QByteArray &header,
                        const QByteArray &value);

    std::vector<Device> devices;
    // Destroyed first: its I/O thread calls into the instruments.
    sim::Testbed testbed;
};

bool Bench::setUp(const Options &options) {
    if (!testbed.isValid()) {
        fprintf(stderr, "rfgen-testbed: %s\n", qPrintable(testbed.errorString()));
        return false;
    }
    for (int model : options.models)
        if (!addGenerator(model))
            return false;
    for (int i = 0; i < options.silentPorts; ++i) {
        sim::UsbIdentity identity;
        identity.productId = 0x00ff;
        identity.manufacturer = QStringLiteral("Silent Serial");
        identity.product = QStringLiteral("Serial port");
        identity.serial = QStringLiteral("SILENT%1").arg(i + 1);
        if (!addDevice(identity, nullptr))
            return false;
    }
    for (size_t i = 0; i < devices.size(); ++i)
        fprintf(stderr, "rfgen-testbed: device %s\n", describe(int(i)).constData());
    return true;
}

bool Bench::addDevice(const sim::UsbIdentity &identity,
                      std::unique_ptr<sim::Instrument> instrument) {
    Device device;
    device.handle = testbed.addDevice(identity, instrument.get());
    if (device.handle < 0) {
        fprintf(stderr, "rfgen-testbed: cannot add a device: %s\n",
                qPrintable(testbed.errorString()));
        return false;
    }
    device.instrument = std::move(instrument);
    devices.push_back(std::move(device));
    return true;
}

bool Bench::addGenerator(int model) {
    const QString serial = QStringLiteral("SIM%1").arg(devices.size() + 1, 4, 10, QChar('0'));
    auto instrument = std::make_unique<sim::Instrument>(model, serial);
    const sim::UsbIdentity identity = instrument->usbIdentity();
    return addDevice(identity, std::move(instrument));
}

QByteArray Bench::plug(const QByteArray &modelName) {
    const int model = modelCodeFromName(modelName);
    if (model < 0)
        return "error unknown model " + modelName;
    if (!addGenerator(model))
        return "error " + testbed.errorString().toUtf8();
    const int index = int(devices.size()) - 1;
    return "ok " + QByteArray::number(index) + ' ' +
           testbed.portName(devices.back().handle).toLatin1();
}

QByteArray Bench::portList() const {
    QByteArrayList names;
    for (const Device &device : devices)
        names.append(testbed.portName(device.handle).toLatin1());
    return names.join(' ');
}

QByteArray Bench::describe(int index) const {
    const Device &device = devices[size_t(index)];
    const QByteArray model =
        device.instrument ? QByteArray(modelNames[device.instrument->modelCode()]) : "silent";
    return QByteArray::number(index) + ':' + testbed.portName(device.handle).toLatin1() + ':' +
           model + ':' + (testbed.isPlugged(device.handle) ? "plugged" : "unplugged");
}

bool parseSwitch(const QByteArray &word, bool &on) {
    const QByteArray lower = word.toLower();
    on = lower == "on" || lower == "1";
    return on || lower == "off" || lower == "0";
}

QByteArray Bench::execute(const QByteArray &line) {
    const QByteArrayList words = line.simplified().split(' ');
    const QByteArray verb = words.value(0).toLower();
    if (verb == "list") {
        QByteArrayList all;
        for (size_t i = 0; i < devices.size(); ++i)
            all.append(describe(int(i)));
        return "ok " + all.join(' ');
    }
    if (verb == "plug" && words.size() == 2)
        return plug(words[1]);
    static const QByteArrayList verbs{"port",    "unplug", "replug", "silent",
                                      "garbage", "set",    "get",    "serial"};
    if (!verbs.contains(verb))
        return "error unknown command " + verb;
    bool ok = false;
    const int index = words.value(1).toInt(&ok);
    if (!ok || index < 0 || index >= int(devices.size()))
        return "error no device " + words.value(1);
    Device &device = devices[size_t(index)];
    const QByteArray argument = words.value(2);
    if (verb == "port" && words.size() == 2)
        return "ok " + testbed.portName(device.handle).toLatin1();
    if (verb == "unplug" && words.size() == 2) {
        if (!testbed.isPlugged(device.handle))
            return "error device " + words[1] + " is not plugged in";
        testbed.unplug(device.handle);
        return "ok";
    }
    const bool sameName = words.size() == 3 && argument == "same";
    if (verb == "replug" && (words.size() == 2 || sameName)) {
        if (testbed.isPlugged(device.handle))
            return "error device " + words[1] + " is plugged in";
        testbed.replug(device.handle, sameName);
        return testbed.isPlugged(device.handle) ? "ok " + testbed.portName(device.handle).toLatin1()
                                                : "error " + testbed.errorString().toUtf8();
    }
    if (verb == "port" || verb == "unplug" || verb == "replug")
        return "error bad arguments";
    if (!device.instrument)
        return "error device " + words[1] + " is a silent port";
    bool on = false;
    if (verb == "silent" && words.size() == 3 && parseSwitch(argument, on)) {
        device.instrument->setSilent(on);
        return "ok";
    }
    if (verb == "garbage" && words.size() == 3 && parseSwitch(argument, on)) {
        device.instrument->setGarbage(on);
        return "ok";
    }
    if (verb == "set" && words.size() == 4)
        return setValue(*device.instrument, argument.toUpper(), words[3]);
    if (verb == "serial" && words.size() == 3) {
        device.instrument->setSerial(QString::fromUtf8(argument));
        return "ok";
    }
    if (verb == "get" && words.size() == 3) {
        const QByteArray reply = device.instrument->setting(argument);
        return reply.isEmpty() ? "error unknown query " + argument : "ok " + reply;
    }
    return "error bad arguments";
}

QByteArray Bench::setValue(sim::Instrument &instrument, const QByteArray &header,
                           const QByteArray &value) {
    if (header == "OUTP") {
        bool on = false;
        if (!parseSwitch(value, on))
            return "error bad value " + value;
        instrument.setOutput(on);
        return "ok";
    }
    bool ok = false;
    const double number = value.toDouble(&ok); // C locale whatever the user's is
    if (!ok || !std::isfinite(number))
        return "error bad value " + value;
    if (header == "FREQ")
        instrument.setFrequency(number);
    else if (header == "VOLT")
        instrument.setAmplitude(number);
    else if (header == "POW") // dBm into 50 ohm, as peak volts
        instrument.setAmplitude(std::sqrt(std::pow(10.0, number / 10 - 3) * 100));
    else if (header == "ATT")
        instrument.setAttenuation(number);
    else if (header == "FM:PER")
        instrument.setFmPeriod(number);
    else
        return "error unknown header " + header;
    return "ok";
}

// Signals reach the main loop through a pipe.
int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber) {
    const int saved = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignalHandlers() {
    if (pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    for (int signalNumber : {SIGINT, SIGTERM, SIGCHLD})
        sigaction(signalNumber, &action, nullptr);
    return true;
}

// The control channel: a listening UNIX socket and its clients.
class ControlServer {
public:
    ~ControlServer();
    bool listen(const QByteArray &path);
    void addPollFds(std::vector<pollfd> &fds) const;
    void handle(const std::vector<pollfd> &fds, Bench &bench);

private:
    void serveClient(int fd, Bench &bench);

    QByteArray path;
    int listenFd = -1;
    std::map<int, QByteArray> clients; // descriptor -> bytes of an unfinished line
};

ControlServer::~ControlServer() {
    for (const auto &client : clients)
        close(client.first);
    if (listenFd >= 0) {
        close(listenFd);
        unlink(path.constData());
    }
}

bool ControlServer::listen(const QByteArray &socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd < 0 || bind(listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) ||
        ::listen(listenFd, 8)) {
        fprintf(stderr, "rfgen-testbed: cannot listen on %s: %s\n", socketPath.constData(),
                strerror(errno));
        return false;
    }
    path = socketPath;
    return true;
}

void ControlServer::addPollFds(std::vector<pollfd> &fds) const {
    if (listenFd >= 0)
        fds.push_back(pollfd{listenFd, POLLIN, 0});
    for (const auto &client : clients)
        fds.push_back(pollfd{client.first, POLLIN, 0});
}

void ControlServer::handle(const std::vector<pollfd> &fds, Bench &bench) {
    for (const pollfd &entry : fds) {
        if (!entry.revents)
            continue;
        if (entry.fd == listenFd) {
            const int client = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                clients[client];
        } else if (clients.count(entry.fd)) {
            serveClient(entry.fd, bench);
        }
    }
}

// A client that hung up must not kill the launcher with SIGPIPE.
void sendReply(int fd, const QByteArray &reply) {
    [[maybe_unused]] ssize_t sent = send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
}

void ControlServer::serveClient(int fd, Bench &bench) {
    char buffer[1024];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
        close(fd);
        clients.erase(fd);
        return;
    }
    QByteArray &pending = clients[fd];
    pending.append(buffer, int(n));
    for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
        const QByteArray reply = bench.execute(pending.left(end).trimmed()) + '\n';
        pending.remove(0, end + 1);
        sendReply(fd, reply);
    }
    if (pending.size() > maxControlLine) {
        const QByteArray reply = "error line too long\n";
        sendReply(fd, reply);
        pending.clear();
    }
}

pid_t startCommand(std::vector<char *> &command) {
    pid_t child = -1;
    const int result = posix_spawnp(&child, command[0], nullptr, nullptr, command.data(), environ);
    if (result != 0) {
        fprintf(stderr, "rfgen-testbed: cannot run %s: %s\n", command[0], strerror(result));
        return -1;
    }
    return child;
}

int exitCodeOf(int status) {
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

// Serves the control channel and passes signals on until the child exits.
int superviseChild(pid_t child, ControlServer &control, Bench &bench) {
    for (;;) {
        std::vector<pollfd> fds{pollfd{signalPipe[0], POLLIN, 0}};
        control.addPollFds(fds);
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return setupExitCode;
        char signals[16];
        const ssize_t count = read(signalPipe[0], signals, sizeof signals);
        for (ssize_t i = 0; i < count; ++i)
            if (signals[i] == SIGINT || signals[i] == SIGTERM)
                kill(child, signals[i]);
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return exitCodeOf(status);
        control.handle(fds, bench);
    }
}

} // namespace

int main(int argc, char *argv[]) {
    Options options;
    switch (parseArguments(argc, argv, options)) {
    case ParseResult::Help:
        fputs(usageText, stdout);
        return 0;
    case ParseResult::UsageError:
        return usageExitCode;
    case ParseResult::Run:
        break;
    }
    reexecUnderPreloadIfNeeded(argv);
    qunsetenv(reexecVariable);

    Bench bench;
    ControlServer control;
    if (!installSignalHandlers() || !bench.setUp(options))
        return setupExitCode;
    if (!options.controlPath.isEmpty() && !control.listen(options.controlPath))
        return setupExitCode;
    qputenv("RFGEN_TESTBED_PORTS", bench.portList());
    const pid_t child = startCommand(options.command);
    if (child < 0)
        return setupExitCode;
    return superviseChild(child, control, bench);
}
