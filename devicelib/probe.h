#pragma once

#include <QByteArray>
#include <QList>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QStringList>

namespace rfgen {

struct ProbeResult {
    // What became of the port: it answered (identification set), stayed
    // silent, or could not be opened, and why.
    enum Outcome { Answered, Silent, Busy, NoPermission, NotOpened };

    QSerialPortInfo info;
    int model = -1;            // model code, -1 when not recognised
    QByteArray identification; // first reply line, empty when none
    Outcome outcome = Silent;
    qint64 holder = 0; // Busy: the process holding the port, 0 when unknown
    QString openError; // NotOpened: the serial port's own error text
};

// The instruments' line settings: 115200 baud, 8N1, no flow control.
void applyLineSettings(QSerialPort &port);

// The ports a search probes: every serial port but Bluetooth ones.
QList<QSerialPortInfo> searchablePorts();

// Asks every port for its identification at once, for at most 150 ms in all.
// One result per port, in the order given; a port that cannot be opened says
// why (busy, with its holder when a lock file names it; no permission).
QList<ProbeResult> probePorts(const QList<QSerialPortInfo> &ports);

// What the probe found at one port, for a person: "ttyACM0 is busy (held by
// PID 1234)", "ttyACM0: no permission (...)", "ttyACM0: no answer".
QString portReport(const ProbeResult &result);

// Why a search over these results gives no one instrument, one line per port;
// "no instrument found" when there was no port at all.
QStringList whyNoInstrument(const QList<ProbeResult> &results);

} // namespace rfgen
