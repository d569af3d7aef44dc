#pragma once

#include <QByteArray>
#include <QList>
#include <QSerialPort>
#include <QSerialPortInfo>

namespace rfgen {

struct ProbeResult {
    QSerialPortInfo info;
    int model = -1;            // model code, -1 when not recognised
    QByteArray identification; // first reply line, empty when none
};

// The instruments' line settings: 115200 baud, 8N1, no flow control.
void applyLineSettings(QSerialPort &port);

// The ports a search probes: every serial port but Bluetooth ones.
QList<QSerialPortInfo> searchablePorts();

// Asks every port for its identification at once, for at most 150 ms in all.
// Ports that cannot be opened are left out.
QList<ProbeResult> probePorts(const QList<QSerialPortInfo> &ports);

} // namespace rfgen
