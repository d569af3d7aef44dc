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
    const char *nodes[3];
};

const HeaderForm headerForms[] = {
    {Header::SystErr, {"SYSTem", "ERRor"}},
    {Header::Freq, {"FREQuency", nullptr}},
    {Header::Volt, {"VOLTage", nullptr}},
    {Header::Pow, {"POWer", nullptr}},
    {Header::Att, {"ATTenuation", nullptr}},
    {Header::Outp, {"OUTPut", nullptr}},
    {Header::LevMode, {"LEVel", "MODE"}},
    {Header::FmMode, {"FM", "MODE"}},
    {Header::FmStart, {"FM", "STARt"}},
    {Header::FmStop, {"FM", "STOP"}},
    {Header::FmStep, {"FM", "STEP"}},
    {Header::FmPeriod, {"FM", "PERiod"}},
    {Header::FmState, {"FM", "STATe"}},
    {Header::LockRequest, {"SYSTem", "LOCK", "REQuest"}},
    {Header::LockRelease, {"SYSTem", "LOCK", "RELease"}},
    {Header::LockOwner, {"SYSTem", "LOCK", "OWNer"}},
};

int nodeCount(const HeaderForm &form) {
    int count = 0;
    while (count < 3 && form.nodes[count])
        ++count;
    return count;
}

struct CommonForm {
    Header header;
    const char *text;
};

const CommonForm commonForms[] = {{Header::Idn, "*IDN"}, {Header::Rst, "*RST"},
                                  {Header::Cls, "*CLS"}, {Header::Opc, "*OPC"},
                                  {Header::Sav, "*SAV"}, {Header::Rcl, "*RCL"}};

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
        if (tokens.size() != nodeCount(form))
            continue;
        bool all = true;
        for (int i = 0; i < tokens.size() && all; ++i)
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

Unit unitOf(Header header) {
    switch (header) {
    case Header::Freq:
    case Header::FmStart:
    case Header::FmStop:
    case Header::FmStep:
        return Unit::Hertz;
    case Header::Volt:
        return Unit::Volt;
    case Header::Pow:
        return Unit::Dbm;
    case Header::Att:
        return Unit::Db;
    case Header::FmPeriod:
        return Unit::Second;
    default:
        return Unit::None;
    }
}

Bound parseBound(const QByteArray &text) {
    const QByteArray word = text.trimmed().toUpper();
    if (word == "MIN" || word == "MINIMUM")
        return Bound::Min;
    if (word == "MAX" || word == "MAXIMUM")
        return Bound::Max;
    if (word == "DEF" || word == "DEFAULT")
        return Bound::Default;
    return Bound::None;
}

namespace {

struct UnitForm {
    Unit unit;
    const char *symbol;
    bool takesMultipliers; // not the logarithmic dB and dBm
};

const UnitForm unitForms[] = {{Unit::Hertz, "HZ", true},
                              {Unit::Volt, "V", true},
                              {Unit::Dbm, "DBM", false},
                              {Unit::Db, "DB", false},
                              {Unit::Second, "S", true}};

struct Multiplier {
    const char *prefix;
    int exponent;
};

// SCPI's multipliers; M is milli, MA mega.
const Multiplier multipliers[] = {{"G", 9}, {"MA", 6}, {"K", 3}, {"M", -3}, {"U", -6}, {"N", -9}};

const UnitForm *unitForm(Unit unit) {
    for (const UnitForm &form : unitForms)
        if (form.unit == unit)
            return &form;
    return nullptr;
}

// The power of ten a suffix stands for: the unit's symbol, a multiplier with
// or without it, and MHZ, which means mega-hertz although M alone is milli.
bool suffixExponent(const QByteArray &suffix, Unit unit, int &exponent) {
    const UnitForm *form = unitForm(unit);
    const QByteArray word = suffix.toUpper();
    exponent = 0;
    if (!form)
        return false;
    if (word == form->symbol)
        return true;
    if (unit == Unit::Hertz && word == "MHZ") {
        exponent = 6;
        return true;
    }
    for (const Multiplier &m : multipliers) {
        if (form->takesMultipliers &&
            (word == m.prefix || word == m.prefix + QByteArray(form->symbol))) {
            exponent = m.exponent;
            return true;
        }
    }
    return false;
}

bool isDigit(const QByteArray &t, int i) {
    return i < t.size() && std::isdigit(static_cast<unsigned char>(t.at(i)));
}

bool isSign(const QByteArray &t, int i) {
    return i < t.size() && (t.at(i) == '+' || t.at(i) == '-');
}

// Where the number at the start of text ends; an E belongs to it only when
// digits follow.
int numberEnd(const QByteArray &t, int &exponentStart) {
    int i = isSign(t, 0) ? 1 : 0;
    while (isDigit(t, i) || (i < t.size() && t.at(i) == '.'))
        ++i;
    exponentStart = i;
    if (i >= t.size() || std::toupper(static_cast<unsigned char>(t.at(i))) != 'E')
        return i;
    int end = isSign(t, i + 1) ? i + 2 : i + 1;
    if (!isDigit(t, end))
        return i;
    while (isDigit(t, end))
        ++end;
    return end;
}

// The number with its decimal exponent moved by shift, rounded to binary once:
// 0.1 GHz is the double nearest 100000000, not 0.1 times 1e9.
bool parseShifted(const QByteArray &number, int exponentStart, int shift, double &value) {
    bool ok = true;
    const QByteArray exponent = number.mid(exponentStart + 1);
    const qint64 given = exponent.isEmpty() ? 0 : exponent.toLongLong(&ok);
    // Far beyond any double's range: no sum that could overflow.
    if (!ok || given < -100000 || given > 100000)
        return false;
    const qint64 power = given + shift;
    return parseNumber(number.left(exponentStart) + 'e' + QByteArray::number(power), value);
}

bool allLetters(const QByteArray &text) {
    for (char c : text)
        if (!std::isalpha(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

ErrorCode parseNumericArgument(const QByteArray &text, Unit unit, NumericArgument &argument) {
    const QByteArray t = text.trimmed();
    argument = NumericArgument{parseBound(t), 0};
    if (argument.bound != Bound::None)
        return NoError;
    int exponentStart = 0;
    const int end = numberEnd(t, exponentStart);
    const QByteArray number = t.left(end), suffix = t.mid(end).trimmed();
    if (!allLetters(suffix) || !parseNumber(number, argument.value))
        return CommandError;
    int shift = 0;
    if (!suffix.isEmpty() && !suffixExponent(suffix, unit, shift))
        return InvalidSuffix;
    const bool parsed = shift == 0 || parseShifted(number, exponentStart, shift, argument.value);
    return parsed ? NoError : CommandError;
}

ErrorCode argumentTypeError(const Command &command) {
    if (command.argument.isEmpty())
        return NoError;
    if (command.query) {
        const bool bound = parseBound(command.argument) != Bound::None;
        return unitOf(command.header) != Unit::None && bound ? NoError : DataTypeError;
    }
    const bool takesNone = command.header == Header::Rst || command.header == Header::Cls ||
                           command.header == Header::LockRelease;
    return takesNone ? DataTypeError : NoError;
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

bool isLockHeader(Header header) {
    return header == Header::LockRequest || header == Header::LockRelease ||
           header == Header::LockOwner;
}

bool isSetupHeader(Header header) {
    return header == Header::Sav || header == Header::Rcl;
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
        for (int i = 1; i < nodeCount(form); ++i)
            s += ':' + shortForm(form.nodes[i]);
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
    case DataTypeError:
        return "Data type error";
    case UndefinedHeader:
        return "Undefined header";
    case MissingParameter:
        return "Missing parameter";
    case InvalidSuffix:
        return "Invalid suffix";
    case CommandProtected:
        return "Command protected";
    case SettingsConflict:
        return "Settings conflict";
    case DataOutOfRange:
        return "Data out of range";
    case TooMuchData:
        return "Too much data";
    case HardwareMissing:
        return "Hardware missing";
    case MassStorageError:
        return "Mass storage error";
    case FileNameNotFound:
        return "File name not found";
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
