#pragma once

#include "exchange.h"

#include <QList>
#include <QString>

// The command journal's texts: one line per exchange, whether the instrument
// refused a setting, and a pyvisa script that replays the settings.
namespace rfgen::journal {

// "Панель", "Клиент ADDRESS:PORT" or "Опрос".
QString originText(const Exchange &exchange);
// The reply column: the reply, "нет ответа", or empty for a line that wants none.
QString replyText(const Exchange &exchange);
// True when the instrument's read-back of a setting differs from what was
// asked, or the driver refused the value before sending it.
bool refused(const Exchange &exchange);
// "HH:mm:ss.zzz\tORIGIN\tSENT\tREPLY", with "\tотклонено" for a refused setting.
QString line(const Exchange &exchange);
// A Python script for pyvisa that replays the settings of the exchanges, in
// order, through the remote-control server on host:port.
QString replayScript(const QList<Exchange> &exchanges, const QString &host, int port);

} // namespace rfgen::journal
