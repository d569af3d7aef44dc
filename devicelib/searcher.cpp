#include "generator.h"
#include "models.h"
#include "probe.h"
#include "scpi.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSerialPort>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

using namespace rfgen;

namespace {

constexpr int probeBoundMs = 150;

// Where QSerialPort (and programs of the uucp tradition) keep a port's lock
// file, LCK..<port>, with the holder's PID on its first line.
const char *const lockDirectories[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                       "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                       "/var/lock/lockdev", "/run/lock"};

struct Probe {
    ProbeResult result;
    std::unique_ptr<QSerialPort> port; // null when it could not be opened
    QByteArray received;
    bool done = false;
};

bool processIsGone(qint64 pid) {
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// Whether a lock file says the port is taken, and by whom (0: not told). A
// file left behind by a process that is gone takes nothing.
bool findLock(const QString &portName, qint64 &holder) {
    for (const char *directory : lockDirectories) {
        QFile file(QString::fromLatin1(directory) + QStringLiteral("/LCK..") + portName);
        if (!file.exists())
            continue;
        const qint64 pid =
            file.open(QIODevice::ReadOnly) ? file.readLine(32).trimmed().toLongLong() : 0;
        if (pid > 0 && processIsGone(pid))
            continue;
        holder = std::max<qint64>(pid, 0);
        return true;
    }
    return false;
}

// QSerialPort reports a lock file, a port without permission and one opened
// exclusively (TIOCEXCL) by another program all alike: the lock files and
// open(2)'s own error tell them apart.
void tellWhyNotOpened(ProbeResult &result, const QSerialPort &port) {
    if (findLock(result.info.portName(), result.holder)) {
        result.outcome = ProbeResult::Busy;
        return;
    }
    const QByteArray path = QFile::encodeName(result.info.systemLocation());
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (fd < 0 && (error == EACCES || error == EPERM))
        result.outcome = ProbeResult::NoPermission;
    else if (fd < 0 && error == EBUSY)
        result.outcome = ProbeResult::Busy;
    else
        result.openError = port.errorString();
}

void openForProbe(Probe &probe) {
    probe.port = std::make_unique<QSerialPort>(probe.result.info);
    applyLineSettings(*probe.port);
    if (!probe.port->open(QIODevice::ReadWrite)) {
        probe.result.outcome = ProbeResult::NotOpened;
        tellWhyNotOpened(probe.result, *probe.port);
        probe.port.reset();
        probe.done = true;
        return;
    }
    probe.port->clear(QSerialPort::AllDirections);
    probe.port->write("*IDN?\n");
    probe.port->flush();
}

void takeReply(Probe &probe) {
    probe.port->waitForReadyRead(0); // moves what the descriptor holds into the buffer
    probe.received += probe.port->readAll();
    const int end = probe.received.indexOf('\n');
    if (end >= 0) {
        probe.received.truncate(end);
        if (probe.received.endsWith('\r'))
            probe.received.chop(1);
        if (!scpi::isPrintableAscii(probe.received))
            probe.received.clear(); // noise is no identification
        probe.done = true;
    } else if (probe.received.size() > 1024) {
        probe.received.clear();
        probe.done = true; // noise, not an instrument
    }
}

// Waits on all descriptors at once, so silent ports cost no extra time.
void collectReplies(std::vector<Probe> &probes) {
    const QDeadlineTimer deadline(probeBoundMs);
    while (!deadline.hasExpired()) {
        std::vector<pollfd> fds;
        std::vector<Probe *> owners;
        for (Probe &probe : probes)
            if (!probe.done) {
                fds.push_back({int(probe.port->handle()), POLLIN, 0});
                owners.push_back(&probe);
            }
        if (fds.empty())
            return;
        const int ready = ::poll(fds.data(), fds.size(), int(deadline.remainingTime()));
        if (ready <= 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & POLLIN)
                takeReply(*owners[i]);
            else if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL))
                owners[i]->done = true; // hung up: no instrument there
        }
    }
}

} // namespace

void rfgen::applyLineSettings(QSerialPort &port) {
    port.setBaudRate(QSerialPort::Baud115200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

// Bluetooth serial ports can block for seconds in open(): a search leaves them
// out, a port the user picked is probed all the same.
QList<QSerialPortInfo> rfgen::searchablePorts() {
    QList<QSerialPortInfo> ports = Generator::getAvailablePorts();
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [](const QSerialPortInfo &info) {
                                   return info.portName().startsWith("rfcomm");
                               }),
                ports.end());
    return ports;
}

QList<ProbeResult> rfgen::probePorts(const QList<QSerialPortInfo> &ports) {
    std::vector<Probe> probes(size_t(ports.size()));
    for (size_t i = 0; i < probes.size(); ++i) {
        probes[i].result.info = ports.at(int(i));
        openForProbe(probes[i]);
    }
    collectReplies(probes);
    QList<ProbeResult> results;
    for (Probe &probe : probes) {
        if (probe.port) {
            probe.port->close();
            if (probe.done && !probe.received.isEmpty()) {
                probe.result.outcome = ProbeResult::Answered;
                probe.result.identification = probe.received;
                probe.result.model = modelFromIdentification(probe.received);
            }
        }
        results.append(probe.result);
    }
    return results;
}

QString rfgen::portReport(const ProbeResult &result) {
    const QString name = result.info.portName();
    switch (result.outcome) {
    case ProbeResult::Busy:
        return name + QStringLiteral(" is busy") +
               (result.holder ? QStringLiteral(" (held by PID %1)").arg(result.holder) : QString());
    case ProbeResult::NoPermission:
        return name + QStringLiteral(": no permission (see the README's section on connecting "
                                     "hardware)");
    case ProbeResult::NotOpened:
        return name + QStringLiteral(": ") + result.openError;
    case ProbeResult::Silent:
        return name + QStringLiteral(": no answer");
    case ProbeResult::Answered:
        break;
    }
    const ModelSpec *spec = modelSpec(result.model);
    return name + QStringLiteral(": ") +
           (spec ? QString::fromLatin1(spec->driverName)
                 : QStringLiteral("answered ") + QString::fromLatin1(result.identification));
}

QStringList rfgen::whyNoInstrument(const QList<ProbeResult> &results) {
    if (results.isEmpty())
        return {QStringLiteral("no instrument found")};
    QStringList lines;
    if (std::count_if(results.begin(), results.end(),
                      [](const ProbeResult &r) { return r.model != NoModel; }) > 1)
        lines << QStringLiteral("several instruments found, name one with --device");
    for (const ProbeResult &result : results)
        lines << portReport(result);
    return lines;
}

int Searcher::autosearch(QSerialPortInfo &port, int &model) {
    QList<ProbeResult> results;
    return autosearch(port, model, results);
}

int Searcher::autosearch(QSerialPortInfo &port, int &model, QList<ProbeResult> &results) {
    int found = 0;
    model = NoModel;
    QSerialPortInfo foundPort;
    int foundModel = NoModel;
    results = probePorts(searchablePorts());
    for (const ProbeResult &probe : results) {
        if (probe.model == NoModel)
            continue;
        ++found;
        foundPort = probe.info;
        foundModel = probe.model;
    }
    if (found == 1) {
        port = foundPort;
        model = foundModel;
    }
    return found;
}

bool Searcher::determineModel(QSerialPortInfo port, int &model) {
    const QList<ProbeResult> probes = probePorts({port});
    model = probes.isEmpty() ? NoModel : probes.front().model;
    return model != NoModel;
}
