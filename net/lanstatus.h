#pragma once

#include <QList>
#include <QString>

#include <cmath>

namespace rfgen {

// What the bridge's announcement and web page tell of one instrument. Under
// --all each bridge process sends its own to the supervisor as one line.
struct InstrumentStatus {
    QString name;           // "instK": its name in VXI-11 and on the web page
    QString port;           // the serial port, "ttyACM0"
    int model = -1;         // model code; -1 while unknown
    QString identification; // the *IDN? reply, empty while unknown
    int tcpPort = 0;        // its raw-socket port
    QString lockHolder;     // "ADDRESS:PORT" of the client holding its lock
    int clients = 0;        // raw-socket clients and VXI-11 links
    // As the instrument last reported them; NaN (or -1) while unknown.
    double frequencyHz = NAN;
    double amplitudeV = NAN;
    double attenuationDb = NAN;
    int output = -1;

    bool operator==(const InstrumentStatus &other) const;
    bool operator!=(const InstrumentStatus &other) const { return !(*this == other); }
    QByteArray toLine() const;
    // False for a line that is not a status of this form.
    static bool fromLine(const QByteArray &line, InstrumentStatus &status);
};

// The four fields of an identification reply, "MAKER,MODEL,SERIAL,FIRMWARE".
struct Identity {
    QString manufacturer, model, serialNumber, firmware;
};
Identity identityOf(const QString &identification);

} // namespace rfgen
