#include "scpi.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace rfgen::scpi {

namespace {

// Each node is written as its long form with the short form in capitals.
struct HeaderForm {
    Header header;
    const char *nodes[2];
};

const HeaderForm headerForms[] = {
    {Header::SystErr, {"SYSTem", "ERRor"}},  {Header::Freq, {"FREQuency", nullptr}},
    {Header::Volt, {"VOLTage", nullptr}},    {Header::Pow, {"POWer", nullptr}},
    {Header::Att, {"ATTenuation", nullptr}}, {Header::Outp, {"OUTPut", nullptr}},
    {Header::LevMode, {"LEVel", "MODE"}},    {Header::FmMode, {"FM", "MODE"}},
    {Header::FmStart, {"FM", "STARt"}},      {Header::FmStop, {"FM", "STOP"}},
    {Header::FmStep, {"FM", "STEP"}},        {Header::FmPeriod, {"FM", "PERiod"}},
    {Header::FmState, {"FM", "STATe"}},
};

struct CommonForm {
    Header header;
    const char *text;
};

const CommonForm commonForms[] = {
    {Header::Idn, "*IDN"}, {Header::Rst, "*RST"}, {Header::Cls, "*CLS"}, {Header::Opc, "*OPC"}};

QByteArray shortForm(const char *node) {
    QByteArray s;
    for (const char *p = node; *p && !std::islower(static_cast<unsigned char>(*p)); ++p)
        s += *p;
    return s;
}

bool nodeMatches(const QByteArray &token, const char *node) {
    const QByteArray upper = token.toUpper();
    return upper == shortForm(node) || upper == QByteArray(node).toUpper();
}

bool isSourcePrefix(const QByteArray &token) {
    return nodeMatches(token, "SOURce");
}

Header matchHeader(const QByteArray &name) {
    for (const CommonForm &form : commonForms)
        if (name.compare(form.text, Qt::CaseInsensitive) == 0)
            return form.header;
    QList<QByteArray> tokens = name.split(':');
    if (tokens.size() > 1 && tokens.first().isEmpty())
        tokens.removeFirst(); // a leading colon is allowed
    if (tokens.size() > 1 && isSourcePrefix(tokens.first()))
        tokens.removeFirst();
    for (const HeaderForm &form : headerForms) {
        const int nodeCount = form.nodes[1] ? 2 : 1;
        if (tokens.size() != nodeCount)
            continue;
        bool all = true;
        for (int i = 0; i < nodeCount && all; ++i)
            all = nodeMatches(tokens.at(i), form.nodes[i]);
        if (all)
            return form.header;
    }
    return Header::Unknown;
}

bool validHeaderText(const QByteArray &name) {
    if (name.isEmpty())
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != ':' && c != '*')
            return false;
    return true;
}

} // namespace

QList<QByteArray> splitCommands(const QByteArray &line) {
    QList<QByteArray> commands;
    for (const QByteArray &piece : line.split(';')) {
        const QByteArray trimmed = piece.trimmed();
        if (!trimmed.isEmpty())
            commands.append(trimmed);
    }
    return commands;
}

ErrorCode parseCommand(const QByteArray &text, Command &command) {
    const QByteArray trimmed = text.trimmed();
    int split = 0;
    while (split < trimmed.size() && !std::isspace(static_cast<unsigned char>(trimmed.at(split))))
        ++split;
    QByteArray name = trimmed.left(split);
    command.argument = trimmed.mid(split).trimmed();
    command.query = name.endsWith('?');
    if (command.query)
        name.chop(1);
    if (!validHeaderText(name))
        return CommandError;
    command.header = matchHeader(name);
    if (command.header == Header::Unknown)
        return UndefinedHeader;
    if (command.query && !command.argument.isEmpty())
        return CommandError;
    return NoError;
}

bool parseNumber(const QByteArray &text, double &value) {
    const QByteArray t = text.trimmed();
    if (t.isEmpty())
        return false;
    // Only the characters of a plain decimal number: no "inf", "nan" or hex.
    for (char c : t)
        if (!std::isdigit(static_cast<unsigned char>(c)) && !std::strchr("+-.eE", c))
            return false;
    bool ok = false;
    const double parsed = QByteArray(t).toDouble(&ok); // always the C locale
    if (!ok || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

QByteArray formatNumber(double value) {
    if (value == 0)
        return "0"; // also for -0
    if (std::abs(value) < 1e15 && value == std::trunc(value))
        return QByteArray::number(static_cast<qint64>(value));
    return QByteArray::number(value, 'g', 12);
}

bool parseSwitch(const QByteArray &text, bool &on) {
    const QByteArray t = text.trimmed().toUpper();
    if (t == "ON" || t == "1") {
        on = true;
        return true;
    }
    if (t == "OFF" || t == "0") {
        on = false;
        return true;
    }
    return false;
}

namespace {
const char *const levelModeKeywords[] = {"AMPL", "ATT"};
const char *const fmKindKeywords[] = {"UP", "DOWN", "HOP"};

template <int N> int keywordIndex(const char *const (&keywords)[N], const QByteArray &text) {
    const QByteArray word = text.trimmed().toUpper();
    for (int i = 0; i < N; ++i)
        if (word == keywords[i])
            return i;
    return -1;
}
} // namespace

QByteArray levelModeKeyword(int control) {
    return levelModeKeywords[control == 1 ? 1 : 0];
}

QByteArray fmKindKeyword(int kind) {
    return fmKindKeywords[kind >= 0 && kind < 3 ? kind : 0];
}

int parseLevelMode(const QByteArray &text) {
    return keywordIndex(levelModeKeywords, text);
}

int parseFmKind(const QByteArray &text) {
    return keywordIndex(fmKindKeywords, text);
}

bool isPrintableAscii(const QByteArray &text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7e)
            return false;
    return true;
}

QByteArray shortHeader(Header header) {
    for (const CommonForm &form : commonForms)
        if (form.header == header)
            return form.text;
    for (const HeaderForm &form : headerForms) {
        if (form.header != header)
            continue;
        QByteArray s = shortForm(form.nodes[0]);
        if (form.nodes[1])
            s += ':' + shortForm(form.nodes[1]);
        return s;
    }
    return QByteArray();
}

QByteArray errorText(int code) {
    switch (code) {
    case NoError:
        return "No error";
    case CommandError:
        return "Command error";
    case UndefinedHeader:
        return "Undefined header";
    case SettingsConflict:
        return "Settings conflict";
    case DataOutOfRange:
        return "Data out of range";
    case TooMuchData:
        return "Too much data";
    case HardwareMissing:
        return "Hardware missing";
    case QueueOverflow:
        return "Queue overflow";
    default:
        return "Unknown error";
    }
}

QByteArray errorReply(int code) {
    return QByteArray::number(code) + ",\"" + errorText(code) + '"';
}

void ErrorQueue::push(int code) {
    if (int(codes.size()) < capacity) {
        codes.push_back(code);
        return;
    }
    codes.back() = QueueOverflow;
}

int ErrorQueue::pop() {
    if (codes.empty())
        return NoError;
    const int code = codes.front();
    codes.pop_front();
    return code;
}

} // namespace rfgen::scpi
