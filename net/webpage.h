#pragma once

#include "lanstatus.h"

#include <QByteArray>
#include <QStringList>

namespace rfgen {

// What the bridge's web page and its LXI identification describe.
struct Site {
    QString host; // as in the VISA resource strings
    int httpPort = 0;
    bool vxi11 = false;
    bool rack = false;     // --all: the identification is the bridge's, naming each instrument
    QString version;       // rfgen's
    QStringList addresses; // this host's, where the services listen
    QList<InstrumentStatus> instruments;
};

struct WebResponse {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
};

// The answer to a GET of path (no query string).
WebResponse webResponse(const Site &site, const QByteArray &path);

// Text as it may stand in HTML or XML text and quoted attributes: markup
// characters escaped, control characters replaced (XML allows few of them,
// and reads a CR back as LF).
QString escaped(const QString &text);

} // namespace rfgen
