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
    LockRequest, // SYST:LOCK:REQ?, REL and OWN?: the remote-control engine's, not the instrument's
    LockRelease,
    LockOwner,
    Sav, // *SAV and *RCL: set-ups kept by the remote-control engine
    Rcl,
};

enum ErrorCode {
    NoError = 0,
    CommandError = -100,
    DataTypeError = -104,
    UndefinedHeader = -113,
    MissingParameter = -109,
    InvalidSuffix = -131,
    CommandProtected = -203,
    SettingsConflict = -221,
    DataOutOfRange = -222,
    TooMuchData = -223,
    HardwareMissing = -241,
    MassStorageError = -250,
    FileNameNotFound = -256,
    QueueOverflow = -350,
};

struct Command {
    Header header = Header::Unknown;
    bool query = false;
    QByteArray argument; // trimmed, empty when none
};

// Splits a line into its commands at ';' (blank pieces dropped).
QList<QByteArray> splitCommands(const QByteArray &line);
// Parses one command; returns NoError, CommandError or UndefinedHeader. What
// the argument may be is left to whoever carries the command out.
ErrorCode parseCommand(const QByteArray &text, Command &command);

// Numbers in the C locale: integer, decimal or exponent form.
bool parseNumber(const QByteArray &text, double &value);
// Shortest exact form for integers, up to 12 significant digits otherwise.
QByteArray formatNumber(double value);

// The unit of a header's number; None for a header that takes no number.
enum class Unit { None, Hertz, Volt, Dbm, Db, Second };
Unit unitOf(Header header);

// MIN, MAX and DEF (or MINimum, MAXimum, DEFault) in place of a number.
enum class Bound { None, Min, Max, Default };
Bound parseBound(const QByteArray &text);

// A number with an optional suffix in the unit's terms ("1.5 MHz", "500mV"),
// or a bound. The value is the decimal number the text means, in the unit,
// rounded once to binary: "1.5 MHz" gives what "1500000" gives.
struct NumericArgument {
    Bound bound = Bound::None;
    double value = 0;
};
// NoError, CommandError (not a number) or InvalidSuffix (no suffix of the unit).
ErrorCode parseNumericArgument(const QByteArray &text, Unit unit, NumericArgument &argument);

// DataTypeError when a command carries an argument where it takes none: an
// argument to *RST or *CLS, or to a query other than MIN, MAX or DEF after
// the query of a number.
ErrorCode argumentTypeError(const Command &command);

// ON, OFF, 1 or 0 (case-insensitive).
bool parseSwitch(const QByteArray &text, bool &on);

// Level control (0 AMPL, 1 ATT) and FM kind (0 UP, 1 DOWN, 2 HOP) as keywords.
QByteArray levelModeKeyword(int control);
QByteArray fmKindKeyword(int kind);
// The code of a keyword (case-insensitive), -1 when it is none.
int parseLevelMode(const QByteArray &text);
int parseFmKind(const QByteArray &text);

// SYST:LOCK's commands, which the remote-control engine answers itself.
bool isLockHeader(Header header);
// *SAV and *RCL, which the remote-control engine answers from its saved set-ups.
bool isSetupHeader(Header header);

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
