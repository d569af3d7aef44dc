#pragma once

#include "exchange.h"
#include "setups.h"

#include <QList>
#include <QString>

// The command journal's texts: one line per exchange, whether the instrument
// refused a setting, and a pyvisa script that replays the settings.
namespace rfgen::journal {

// True when the instrument's read-back of a setting differs from what was
// asked, or the driver refused the value before sending it.
bool refused(const Exchange &exchange);
// One column of the journal: 0 time with ms, 1 origin ("Панель", "Клиент
// ADDRESS:PORT" or "Опрос"), 2 line sent, 3 reply ("нет ответа", "не
// отправлено", or empty for a line that wants none), 4 "отклонено" for a
// refused setting (else empty).
QString field(const Exchange &exchange, int column);
constexpr int fieldCount = 5;
// The columns, tab-separated: "HH:mm:ss.zzz\tORIGIN\tSENT\tREPLY", with
// "\tотклонено" for a refused setting.
QString line(const Exchange &exchange);
// A Python script for pyvisa that replays the settings of the exchanges, in
// order, through the remote-control server on host:port.
QString replayScript(const QList<Exchange> &exchanges, const QString &host, int port);

// The settings the instrument took, the last of each, as a set-up (the
// output state and the sweep's running are no part of one).
setups::Setup setupOf(const QList<Exchange> &exchanges);

} // namespace rfgen::journal
