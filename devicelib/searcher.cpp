#include "generator.h"
#include "models.h"
#include "probe.h"
#include "scpi.h"

#include <QDeadlineTimer>
#include <QSerialPort>

#include <poll.h>

#include <algorithm>

#include <memory>
#include <vector>

using namespace rfgen;

namespace {

constexpr int probeBoundMs = 150;

struct Probe {
    QSerialPortInfo info;
    std::unique_ptr<QSerialPort> port;
    QByteArray received;
    bool done = false;
    int model = NoModel;
};

std::unique_ptr<QSerialPort> openForProbe(const QSerialPortInfo &info) {
    auto port = std::make_unique<QSerialPort>(info);
    applyLineSettings(*port);
    if (!port->open(QIODevice::ReadWrite))
        return nullptr;
    port->clear(QSerialPort::AllDirections);
    port->write("*IDN?\n");
    port->flush();
    return port;
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
        probe.model = modelFromIdentification(probe.received);
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
    std::vector<Probe> probes;
    for (const QSerialPortInfo &info : ports) {
        Probe probe;
        probe.info = info;
        probe.port = openForProbe(info);
        if (probe.port)
            probes.push_back(std::move(probe));
    }
    collectReplies(probes);
    QList<ProbeResult> results;
    for (Probe &probe : probes) {
        probe.port->close();
        results.append({probe.info, probe.model, probe.done ? probe.received : QByteArray()});
    }
    return results;
}

int Searcher::autosearch(QSerialPortInfo &port, int &model) {
    int found = 0;
    model = NoModel;
    QSerialPortInfo foundPort;
    int foundModel = NoModel;
    for (const ProbeResult &probe : probePorts(searchablePorts())) {
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
