#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace rfgen {

// One line sent to the instrument and what came back: what the command
// journal records.
struct Exchange {
    enum class Origin { Panel, Client, Poll };

    qint64 time = 0; // when the line went out, ms since the epoch
    Origin origin = Origin::Panel;
    QString client; // "ADDRESS:PORT" of a remote client
    QByteArray sent;
    QByteArray reply;
    bool expectsReply = false;
    bool answered = false;
    // The driver refused the value itself (outside the model's limits): the
    // line in sent never went out.
    bool refusedUnsent = false;
    // The driver's judgement of a setting's read-back, within the model's step.
    enum class Verdict { Unjudged, Accepted, Refused };
    Verdict verdict = Verdict::Unjudged;
    // Not a line but an event of the server (a client refused), said in the reply's place.
    QString notice;
};

} // namespace rfgen

Q_DECLARE_METATYPE(rfgen::Exchange)
