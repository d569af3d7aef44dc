#include "journal.h"

#include "scpi.h"
#include "setups.h"

#include <QDateTime>
#include <QStringList>

#include <cmath>

namespace rfgen::journal {

namespace {

struct Command {
    QByteArray header, argument;
    bool query = false;
};

QList<Command> commandsOf(const QByteArray &line) {
    QList<Command> commands;
    for (const QByteArray &part : line.split(';')) {
        const QByteArray text = part.trimmed();
        if (text.isEmpty())
            continue;
        const int space = text.indexOf(' ');
        Command c;
        c.header = (space < 0 ? text : text.left(space)).toUpper();
        c.argument = space < 0 ? QByteArray() : text.mid(space + 1).trimmed();
        c.query = c.header.endsWith('?');
        commands << c;
    }
    return commands;
}

bool sameValue(const QByteArray &asked, const QByteArray &held) {
    double a = 0, b = 0;
    if (scpi::parseNumber(asked, a) && scpi::parseNumber(held, b))
        return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(a));
    bool on = false, heldOn = false;
    if (scpi::parseSwitch(asked, on) && scpi::parseSwitch(held, heldOn))
        return on == heldOn;
    return asked.trimmed().compare(held.trimmed(), Qt::CaseInsensitive) == 0;
}

// The settings of the line (positions in commandsOf) whose read-back in the
// same line differs from what was asked.
QList<int> refusedSettings(const Exchange &e) {
    const QList<Command> commands = commandsOf(e.sent);
    const QList<QByteArray> fields = e.reply.split(';');
    QList<int> refused;
    for (int i = 0; i < commands.size(); ++i) {
        if (commands[i].query)
            continue;
        int field = 0;
        for (int j = 0; j < commands.size(); ++j) {
            if (!commands[j].query)
                continue;
            if (j > i && commands[j].header.chopped(1) == commands[i].header) {
                if (field >= fields.size() || !sameValue(commands[i].argument, fields[field]))
                    refused << i;
                break;
            }
            ++field;
        }
    }
    return refused;
}

QString pythonString(const QByteArray &text) {
    QString quoted = QString::fromLatin1(text);
    quoted.replace('\\', QLatin1String("\\\\")).replace('"', QLatin1String("\\\""));
    return '"' + quoted + '"';
}

QString originText(const Exchange &exchange) {
    switch (exchange.origin) {
    case Exchange::Origin::Client:
        return QStringLiteral("Клиент ") + exchange.client;
    case Exchange::Origin::Poll:
        return QStringLiteral("Опрос");
    case Exchange::Origin::Panel:
        break;
    }
    return QStringLiteral("Панель");
}

QString replyText(const Exchange &exchange) {
    if (!exchange.notice.isEmpty())
        return exchange.notice;
    if (exchange.refusedUnsent)
        return QStringLiteral("не отправлено"); // outside the model's limits
    if (!exchange.expectsReply)
        return QString();
    return exchange.answered ? QString::fromLatin1(exchange.reply) : QStringLiteral("нет ответа");
}

struct Setting {
    QByteArray header, argument;
    bool taken; // the instrument holds it
};

// The settings of the exchanges, in order.
QList<Setting> settingsOf(const QList<Exchange> &exchanges) {
    QList<Setting> settings;
    for (const Exchange &e : exchanges) {
        const QList<Command> commands = commandsOf(e.sent);
        QList<int> refusedHere = refusedSettings(e);
        if (e.verdict == Exchange::Verdict::Accepted)
            refusedHere.clear();
        const bool lost = e.refusedUnsent || (e.expectsReply && !e.answered) ||
                          (e.verdict == Exchange::Verdict::Refused && refusedHere.isEmpty());
        for (int i = 0; i < commands.size(); ++i)
            if (!commands[i].query)
                settings << Setting{commands[i].header, commands[i].argument,
                                    !lost && !refusedHere.contains(i)};
    }
    return settings;
}

const std::pair<scpi::Header, std::optional<double> setups::Setup::*> numberSettings[] = {
    {scpi::Header::Freq, &setups::Setup::frequencyHz},
    {scpi::Header::Att, &setups::Setup::attenuationDb},
    {scpi::Header::FmStart, &setups::Setup::sweepStartHz},
    {scpi::Header::FmStop, &setups::Setup::sweepStopHz},
    {scpi::Header::FmStep, &setups::Setup::sweepStepHz},
    {scpi::Header::FmPeriod, &setups::Setup::sweepPeriodS},
};

void takeSetting(setups::Setup &setup, const Setting &setting) {
    scpi::Command command;
    if (scpi::parseCommand(setting.header, command) != scpi::NoError)
        return;
    const scpi::Header header = command.header;
    double value = 0;
    if (scpi::parseNumber(setting.argument, value)) {
        for (const auto &[numberHeader, member] : numberSettings)
            if (header == numberHeader)
                setup.*member = value;
        if (header == scpi::Header::Volt || header == scpi::Header::Pow) { // the last level set
            setup.amplitudeV = header == scpi::Header::Volt ? std::optional(value) : std::nullopt;
            setup.powerDbm = header == scpi::Header::Pow ? std::optional(value) : std::nullopt;
        }
    }
    const int levelMode = scpi::parseLevelMode(setting.argument);
    const int fmKind = scpi::parseFmKind(setting.argument);
    if (header == scpi::Header::LevMode && levelMode >= 0)
        setup.levelControl = levelMode;
    if (header == scpi::Header::FmMode && fmKind >= 0)
        setup.fmKind = fmKind;
}

} // namespace

setups::Setup setupOf(const QList<Exchange> &exchanges) {
    setups::Setup setup;
    for (const Setting &setting : settingsOf(exchanges))
        if (setting.taken)
            takeSetting(setup, setting);
    if (!setup.hasSweep()) // a sweep is kept whole or not at all
        setup.sweepStartHz = setup.sweepStopHz = setup.sweepStepHz = setup.sweepPeriodS =
            std::nullopt;
    return setup;
}

bool refused(const Exchange &exchange) {
    if (exchange.refusedUnsent)
        return true;
    if (exchange.verdict != Exchange::Verdict::Unjudged) // the driver knows the model's step
        return exchange.verdict == Exchange::Verdict::Refused;
    return exchange.answered && !refusedSettings(exchange).isEmpty();
}

QString field(const Exchange &exchange, int column) {
    switch (column) {
    case 0:
        return QDateTime::fromMSecsSinceEpoch(exchange.time)
            .toString(QStringLiteral("HH:mm:ss.zzz"));
    case 1:
        return originText(exchange);
    case 2:
        return QString::fromLatin1(exchange.sent);
    case 3:
        return replyText(exchange);
    default:
        return refused(exchange) ? QStringLiteral("отклонено") : QString();
    }
}

QString line(const Exchange &exchange) {
    QStringList fields;
    for (int column = 0; column < fieldCount; ++column)
        fields << field(exchange, column);
    if (fields.back().isEmpty())
        fields.removeLast();
    return fields.join('\t');
}

QString replayScript(const QList<Exchange> &exchanges, const QString &host, int port) {
    QStringList script{
        "#!/usr/bin/python3",
        "# Сервер для этого скрипта: окно \"Удаленное управление\" панели (сервер включен)",
        "# или `rfgen serve --port " + QString::number(port) + "` у прибора той же модели.",
        "import sys",
        "import pyvisa",
        "",
        QStringLiteral("RESOURCE = \"TCPIP::%1::%2::SOCKET\"").arg(host).arg(port),
        "inst = pyvisa.ResourceManager(\"@py\").open_resource(",
        "    RESOURCE, read_termination=\"\\n\", write_termination=\"\\n\", timeout=5000)",
    };
    for (const Setting &setting : settingsOf(exchanges)) {
        const QByteArray text = (setting.header + ' ' + setting.argument).trimmed();
        if (setting.taken)
            script << "inst.write(" + pythonString(text) + ")";
        else
            script << "# не принято прибором, не повторяется: " + QString::fromLatin1(text);
    }
    script << "inst.query(\"*OPC?\")"
           << "error = inst.query(\"SYST:ERR?\").strip()"
           << "if not error.startswith(\"0\"):"
           << "    sys.exit(\"the instrument reported: \" + error)"
           << "";
    return script.join('\n');
}

} // namespace rfgen::journal
