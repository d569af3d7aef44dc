#pragma once

#include <QByteArray>
#include <QList>

#include <deque>

// The text command layer shared by the instruments, the drivers and the
// remote-control engine: parsing, number formats and error codes. No I/O.
namespace rfgen::scpi {

enum class Header {
    Unknown,
    Idn,
    Rst,
    Cls,
    Opc,
    SystErr,
    Freq,
    Volt,
    Pow,
    Att,
    Outp,
    LevMode,
    FmMode,
    FmStart,
    FmStop,
    FmStep,
    FmPeriod,
    FmState,
};

enum ErrorCode {
    NoError = 0,
    CommandError = -100,
    UndefinedHeader = -113,
    SettingsConflict = -221,
    DataOutOfRange = -222,
    TooMuchData = -223,
    HardwareMissing = -241,
    QueueOverflow = -350,
};

struct Command {
    Header header = Header::Unknown;
    bool query = false;
    QByteArray argument; // trimmed, empty when none
};

// Splits a line into its commands at ';' (blank pieces dropped).
QList<QByteArray> splitCommands(const QByteArray &line);
// Parses one command; returns NoError, CommandError or UndefinedHeader.
ErrorCode parseCommand(const QByteArray &text, Command &command);

// Numbers in the C locale: integer, decimal or exponent form.
bool parseNumber(const QByteArray &text, double &value);
// Shortest exact form for integers, up to 12 significant digits otherwise.
QByteArray formatNumber(double value);
// ON, OFF, 1 or 0 (case-insensitive).
bool parseSwitch(const QByteArray &text, bool &on);

// Level control (0 AMPL, 1 ATT) and FM kind (0 UP, 1 DOWN, 2 HOP) as keywords.
QByteArray levelModeKeyword(int control);
QByteArray fmKindKeyword(int kind);
// The code of a keyword (case-insensitive), -1 when it is none.
int parseLevelMode(const QByteArray &text);
int parseFmKind(const QByteArray &text);

// Only bytes 0x20..0x7e: anything else is no command and no identification.
bool isPrintableAscii(const QByteArray &text);

// The short form of a header, for composing commands ("FREQ", "FM:STAR").
QByteArray shortHeader(Header header);

QByteArray errorText(int code);
// "CODE,\"TEXT\"" as SYST:ERR? answers it.
QByteArray errorReply(int code);

// Bounded error queue: a 17th error replaces the newest with -350.
class ErrorQueue {
public:
    static constexpr int capacity = 16;
    void push(int code);
    // Oldest error, NoError when empty.
    int pop();
    void clear() { codes.clear(); }
    int size() const { return int(codes.size()); }

private:
    std::deque<int> codes;
};

} // namespace rfgen::scpi
