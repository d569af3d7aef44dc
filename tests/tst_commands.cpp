// The text command layer and the simulated instrument's logic, without I/O, in
// a locale that writes a decimal comma (numbers on the wire never do).
#include "instrument.h"
#include "journal.h"
#include "models.h"
#include "scpi.h"

#include <QtTest>
#include <clocale>

using namespace rfgen;
using namespace rfgen::scpi;

static const QByteArray noError = "0,\"No error\"", outOfRange = "-222,\"Data out of range\"";

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        std::setlocale(LC_ALL, "ru_RU.UTF-8");
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QVERIFY2(*std::localeconv()->decimal_point == ',', "ru_RU.UTF-8 locale missing");
    }

    void parsesCommands_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("header");
        QTest::addColumn<bool>("query");
        QTest::addColumn<QByteArray>("argument");
        const auto row = [](const char *name, const char *text, int error, Header header,
                            bool query, const char *argument) {
            QTest::newRow(name) << QByteArray(text) << error << int(header) << query
                                << QByteArray(argument);
        };
        row("short form", "FREQ 1e6", 0, Header::Freq, false, "1e6");
        row("long form, lower case", "frequency?", 0, Header::Freq, true, "");
        row("source prefix", "SOUR:FREQ 5", 0, Header::Freq, false, "5");
        row("long two-level header", "SYSTem:ERRor?", 0, Header::SystErr, true, "");
        row("short FM header", "FM:STAR 1000", 0, Header::FmStart, false, "1000");
        row("long FM header", "fm:start?", 0, Header::FmStart, true, "");
        row("common command", "*idn?", 0, Header::Idn, true, "");
        row("blanks around", "  ATT   12.5  ", 0, Header::Att, false, "12.5");
        row("neither short nor long form", "FRE 5", UndefinedHeader, Header::Unknown, false, "5");
        row("unknown header", "BOGUS?", UndefinedHeader, Header::Unknown, true, "");
        row("query with an argument", "FREQ? max", 0, Header::Freq, true, "max");
        row("bad characters", "FR#Q 5", CommandError, Header::Unknown, false, "5");
    }
    void parsesCommands() {
        QFETCH(QByteArray, text);
        QFETCH(int, error);
        QFETCH(int, header);
        QFETCH(bool, query);
        QFETCH(QByteArray, argument);
        Command command;
        QCOMPARE(int(parseCommand(text, command)), error);
        if (error != CommandError)
            QCOMPARE(int(command.header), header);
        QCOMPARE(command.query, query);
        QCOMPARE(command.argument, argument);
    }
    void splitsChains() {
        QCOMPARE(splitCommands("FREQ 1;FREQ?"), (QList<QByteArray>{"FREQ 1", "FREQ?"}));
        QCOMPARE(splitCommands(" A ;; B ;"), (QList<QByteArray>{"A", "B"}));
    }

    void parsesNumbers_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("value"); // NaN: not a number of the command set
        const double no = qQNaN();
        for (auto [text, value] : {std::pair{"12500000", 12.5e6},
                                   {"0.125", 0.125},
                                   {"1e9", 1e9},
                                   {"12.5E+06", 12.5e6},
                                   {"-50", -50.0},
                                   {"12,5", no},
                                   {"inf", no},
                                   {"nan", no},
                                   {"0x10", no},
                                   {"ON", no},
                                   {"", no},
                                   {"1e999", no}})
            QTest::newRow(*text ? text : "empty") << QByteArray(text) << value;
    }
    void parsesNumbers() {
        QFETCH(QByteArray, text);
        QFETCH(double, value);
        double parsed = -1;
        QCOMPARE(parseNumber(text, parsed), !qIsNaN(value));
        if (!qIsNaN(value))
            QCOMPARE(parsed, value);
    }

    // The value in the unit, NaN for MIN, MAX and DEF, or the error.
    void parsesSuffixesAndBounds_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("unit");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("error");
        const auto row = [](const char *text, Unit unit, double value, int error = NoError) {
            QTest::newRow(text) << QByteArray(text) << int(unit) << value << error;
        };
        // Every suffix against every quantity: the power of ten it means in
        // hertz, volts, dBm, dB and seconds; '-' where it is none of that quantity's.
        const std::pair<const char *, const char *> suffixes[] = {
            {"", "0 0 0 0 0"},     {"HZ", "0 - - - -"},   {"khz", "3 - - - -"},
            {"MHZ", "6 - - - -"},  {"MAHZ", "6 - - - -"}, {"GHz", "9 - - - -"},
            {"UHZ", "-6 - - - -"}, {"NHZ", "-9 - - - -"}, {"V", "- 0 - - -"},
            {"KV", "- 3 - - -"},   {"mV", "- -3 - - -"},  {"MAV", "- 6 - - -"},
            {"UV", "- -6 - - -"},  {"NV", "- -9 - - -"},  {"GV", "- 9 - - -"},
            {"dBm", "- - 0 - -"},  {"DB", "- - - 0 -"},   {"S", "- - - - 0"},
            {"ms", "- - - - -3"},  {"US", "- - - - -6"},  {"NS", "- - - - -9"},
            {"KS", "- - - - 3"},   {"MAS", "- - - - 6"},  {"GS", "- - - - 9"},
            {"K", "3 3 - - 3"},    {"M", "-3 -3 - - -3"}, {"ma", "6 6 - - 6"},
            {"G", "9 9 - - 9"},    {"U", "-6 -6 - - -6"}, {"N", "-9 -9 - - -9"},
            {"KDBM", "- - - - -"}, {"MDB", "- - - - -"},  {"DBMV", "- - - - -"},
            {"HZS", "- - - - -"},  {"X", "- - - - -"}};
        const Unit units[] = {Unit::Hertz, Unit::Volt, Unit::Dbm, Unit::Db, Unit::Second};
        for (const auto &[suffix, exponents] : suffixes)
            for (int u = 0; u < 5; ++u) {
                const QByteArray exponent = QByteArray(exponents).split(' ').at(u);
                double value = 0;
                const bool valid = exponent != "-" && parseNumber("-2.5e" + exponent, value);
                const QByteArray text = QByteArray("-2.5") + (u % 2 ? " " : "") + suffix;
                QTest::newRow(qPrintable(text + " in quantity " + QByteArray::number(u)))
                    << text << int(units[u]) << value << int(valid ? NoError : InvalidSuffix);
            }
        row("1.005MHZ", Unit::Hertz, 1005000); // not 1.005 * 1e6 = 1004999.9999999999
        row("12.5E+3 khz", Unit::Hertz, 12.5e6);
        row("maximum", Unit::Db, qQNaN());
        row("MHZ", Unit::Hertz, 0, CommandError);
        row("5 5", Unit::Hertz, 0, CommandError);
        row("0e9223372036854775807GHZ", Unit::Hertz, 0, CommandError); // no overflow
    }
    void parsesSuffixesAndBounds() {
        QFETCH(QByteArray, text);
        QFETCH(int, unit);
        QFETCH(double, value);
        QFETCH(int, error);
        NumericArgument argument;
        QCOMPARE(int(parseNumericArgument(text, Unit(unit), argument)), error);
        QCOMPARE(argument.bound == Bound::None, !qIsNaN(value));
        if (error == NoError && !qIsNaN(value)) // exactly the double the decimal means
            QVERIFY2(argument.value == value, qPrintable(QString::number(argument.value, 'g', 17)));
    }
    void refusesArgumentsWhereNoneTaken() {
        for (auto [text, error] : {std::pair{"*RST 5", DataTypeError},
                                   {"*CLS ON", DataTypeError},
                                   {"OUTP? 1", DataTypeError},
                                   {"FREQ? 5", DataTypeError},
                                   {"SYST:ERR? MAX", DataTypeError},
                                   {"FM:PER? min", NoError},
                                   {"FREQ 5", NoError}}) {
            Command command;
            QCOMPARE(int(parseCommand(text, command)), int(NoError));
            QVERIFY2(argumentTypeError(command) == error, text);
        }
    }

    void formatsNumbers_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("large integer") << 12.75e9 << QByteArray("12750000000");
        QTest::newRow("negative zero") << -0.0 << QByteArray("0");
        QTest::newRow("decimal point, not comma") << 0.5 << QByteArray("0.5");
        QTest::newRow("negative") << -12.34 << QByteArray("-12.34");
        QTest::newRow("twelve digits") << 1.0 / 3.0 << QByteArray("0.333333333333");
    }
    void formatsNumbers() {
        QFETCH(double, value);
        QFETCH(QByteArray, text);
        QCOMPARE(formatNumber(value), text);
    }

    void queueOverflowReplacesNewest() {
        ErrorQueue queue;
        for (int i = 0; i <= ErrorQueue::capacity; ++i)
            queue.push(i < ErrorQueue::capacity ? DataOutOfRange : CommandError);
        for (int i = 0; i < ErrorQueue::capacity - 1; ++i)
            QCOMPARE(queue.pop(), int(DataOutOfRange));
        QCOMPARE(queue.pop(), int(QueueOverflow));
        QCOMPARE(queue.pop(), int(NoError));
    }

    void roundsHalfAwayFromZero_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("step");
        QTest::addColumn<double>("rounded");
        QTest::newRow("10 kHz, just below a half") << 12504999.0 << 10e3 << 12500000.0;
        QTest::newRow("10 kHz, a half") << 12505000.0 << 10e3 << 12510000.0;
        QTest::newRow("1 mV, a half just below in binary") << 0.0215 << 0.001 << 0.022;
        QTest::newRow("negative half") << -0.0215 << 0.001 << -0.022;
        QTest::newRow("0.1 dB, a half just below in binary") << 2.05 << 0.1 << 2.1;
    }
    void roundsHalfAwayFromZero() {
        QFETCH(double, value);
        QFETCH(double, step);
        QFETCH(double, rounded);
        QVERIFY2(std::abs(roundToStep(value, step) - rounded) < step * 1e-6,
                 qPrintable(QString::number(roundToStep(value, step), 'g', 17)));
    }

    void convertsDbm_data() {
        QTest::addColumn<double>("volts");
        QTest::addColumn<double>("dBm");
        QTest::newRow("1 V") << 1.0 << 10.0;
        QTest::newRow("1 mV, the lowest level") << 0.001 << -50.0;
        QTest::newRow("+4 dBm, the highest") << 0.501187 << 4.0;
    }
    void convertsDbm() {
        QFETCH(double, volts);
        QFETCH(double, dBm);
        QVERIFY(std::abs(voltsToDbm(volts) - dBm) < 1e-4);
        QVERIFY(std::abs(dbmToVolts(dBm) - volts) < 1e-6);
    }

    void recognisesMaker_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("model");
        QTest::newRow("maker field") << QByteArray("QUENDT,QM,1,2") << int(QuendtModel);
        QTest::newRow("lower case, blanks") << QByteArray("  pylar ,x,y,z") << int(PylarModel);
        QTest::newRow("maker in another field") << QByteArray("ACME,ORVEX,1,1") << int(NoModel);
        QTest::newRow("maker as a prefix") << QByteArray("ORVEXX,1") << int(NoModel);
    }
    void recognisesMaker() {
        QFETCH(QByteArray, reply);
        QFETCH(int, model);
        QCOMPARE(modelFromIdentification(reply), model);
    }

    // A line to a fresh instrument, its reply and what SYST:ERR? says after it.
    // The journal marks a setting refused when its read-back in the same line differs.
    void journalSeesRefusals_data() {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("verdict"); // the driver's: 0 none, 1 accepted, 2 refused
        QTest::addColumn<bool>("refused");
        const auto row = [](const char *name, const char *sent, const char *reply, int verdict,
                            bool refused) {
            QTest::newRow(name) << QByteArray(sent) << QByteArray(reply) << verdict << refused;
        };
        row("taken", "FREQ 5e6;FREQ?", "5000000", 0, false);
        row("kept another", "FREQ 5e6;FREQ?", "6000000", 0, true);
        row("after a lead", "*IDN?;ATT 3;ATT?", "X,Y;3", 0, false);
        row("switch", "OUTP ON;OUTP?", "0", 0, true);
        row("second of two", "FM:STAR 1;FM:STOP 2;FM:STAR?;FM:STOP?", "1;3", 0, true);
        row("no read-back", "LEV:MODE ATT", "", 0, false);
        row("within the driver's step", "VOLT 0.5;VOLT?", "0.5004", 1, false);
        row("beyond the driver's step", "FREQ 5e6;FREQ?", "5000000.000001", 2, true);
    }
    void journalSeesRefusals() {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        QFETCH(int, verdict);
        QFETCH(bool, refused);
        rfgen::Exchange e;
        e.sent = sent;
        e.reply = reply;
        e.expectsReply = e.answered = !reply.isEmpty();
        e.verdict = rfgen::Exchange::Verdict(verdict);
        QCOMPARE(rfgen::journal::refused(e), refused);
        const QString script = rfgen::journal::replayScript({e}, "localhost", 5025);
        QCOMPARE(script.contains("# не принято прибором"), refused);
    }

    // "Сохранить как набор": the last accepted value of each setting; refused
    // ones and the output are left out, and a sweep never set whole.
    void journalAsSetup() {
        const auto exchange = [](const char *sent, const char *reply, bool unsent = false) {
            rfgen::Exchange e;
            e.sent = sent;
            e.reply = reply;
            e.expectsReply = e.answered = *reply;
            e.refusedUnsent = unsent;
            return e;
        };
        const QList<rfgen::Exchange> journal = {
            exchange("FREQ 5e6;FREQ?", "5000000"),
            exchange("FREQ 7e6;FREQ?", "7000000"),
            exchange("FREQ 9e9", "", true),
            exchange("VOLT 0.5;VOLT?", "0.4"),
            exchange("VOLT 0.25;VOLT?", "0.25"),
            exchange("ATT 3;ATT?", "3"),
            exchange("OUTP ON;OUTP?", "1"),
            exchange("LEV:MODE ATT", ""),
            exchange("LEV:MODE AMPL", ""),
            exchange("FM:MODE HOP;FM:STAR 3e6;FM:STAT ON;FM:STAR?", "3000000"),
            exchange("FM:MODE UP;FM:STAR 1e6;FM:STOP 2e6;FM:STEP 1e4;FM:PER 0.01;FM:STAT ON;"
                     "FM:STAR?;FM:STOP?;FM:STEP?;FM:PER?;FM:STAT?",
                     "1000000;2000000;10000;0.01;1"),
            exchange("FREQ?;VOLT?;ATT?;OUTP?;FM:PER?", "1;2;3;4;5"),
        };
        QCOMPARE(rfgen::setups::text(rfgen::journal::setupOf(journal)).split('\n').mid(1),
                 QByteArray("frequency_hz = 7000000\namplitude_v = 0.25\nattenuation_db = 3\n"
                            "sweep_start_hz = 1000000\nsweep_stop_hz = 2000000\n"
                            "sweep_step_hz = 10000\nsweep_period_s = 0.01\n"
                            "level_control = AMPL\nfm_kind = UP\n")
                     .split('\n'));
        QVERIFY(!rfgen::journal::setupOf(journal.mid(0, 10)).sweepStartHz); // only FM:STAR so far
    }

    void instrumentRuns_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("error");
        const auto row = [](const char *name, int model, const char *line, const char *reply,
                            const QByteArray &error = noError) {
            QTest::newRow(name) << model << QByteArray(line) << QByteArray(reply) << error;
        };
        row("power-on state", 0, "FREQ?;VOLT?;ATT?;OUTP?;FM:PER?", "100000000;0.1;0;0;0.001");
        row("exponent input", 2, "freq 1.2E10;FREQ?", "12000000000");
        row("amplitude to 1 mV", 0, "VOLT 0.2504;VOLT?", "0.25");
        row("attenuation to 0.5 dB", 0, "ATT 10.3;ATT?", "10.5");
        row("attenuation to 0.1 dB", 2, "ATT 10.34;ATT?", "10.3");
        row("quendt's 2 V", 2, "VOLT 2.0004;VOLT?", "2");
        row("output and modes", 0, "OUTP ON;LEV:MODE ATT;FM:MODE hop;OUTP?;LEV:MODE?;FM:MODE?",
            "1;ATT;HOP");
        row("sweep", 0, "FM:STAR 30e6;FM:STOP 40e6;FM:STEP 1e6;FM:PER 0.01;FM:STAT ON;FM:STAT?",
            "1");
        row("reset", 0, "FREQ 30e6;*RST;FREQ?", "100000000");
        row("below the frequency range", 0, "FREQ 24999999;FREQ?", "100000000", outOfRange);
        row("above 1 V", 0, "VOLT 1.001;VOLT?", "0.1", outOfRange);
        row("above +4 dBm", 1, "POW 4.01;POW?", "-10", outOfRange);
        row("beyond pylar's attenuation", 1, "ATT 64;ATT?", "0", outOfRange);
        row("POW on a volts model", 0, "POW -10;VOLT?", "0.1", "-113,\"Undefined header\"");
        row("VOLT on a dBm model", 1, "VOLT 0.1;POW?", "-10", "-113,\"Undefined header\"");
        row("not a number", 0, "FREQ abc;FREQ?", "100000000", "-100,\"Command error\"");
        row("not a switch", 0, "OUTP maybe;OUTP?", "0", "-100,\"Command error\"");
        row("no MIN or MAX on the wire", 2, "FREQ? MAX;FREQ?", ";100000000",
            "-100,\"Command error\"");
        row("sweep start above stop", 0, "FM:STAR 40e6;FM:STOP 30e6;FM:STAT ON;FM:STAT?", "0",
            "-221,\"Settings conflict\"");
        row("sweep of too many points", 2, "FM:STAR 1e6;FM:STOP 2e9;FM:STEP 1000;FM:STAT ON", "",
            "-221,\"Settings conflict\"");
        row("a failed query keeps its field", 1, "FREQ?;BOGUS?;OUTP?", "100000000;;0",
            "-113,\"Undefined header\"");
    }
    void instrumentRuns() {
        QFETCH(int, model);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, error);
        sim::Instrument instrument(model);
        QCOMPARE(instrument.handleLine(line), reply);
        QCOMPARE(instrument.handleLine("SYST:ERR?;SYST:ERR?"), error + ';' + noError);
    }

    void instrumentFramesLines() {
        sim::Instrument instrument(0);
        QCOMPARE(instrument.receive("FRE"), QByteArray());
        QCOMPARE(instrument.receive("Q?\r\n*OPC?\n"), QByteArray("100000000\n1\n"));
        QCOMPARE(instrument.receive(QByteArray(300, 'A') + "\nFREQ?\n"), QByteArray("100000000\n"));
        QCOMPARE(instrument.receive("SYST:ERR?\n"), QByteArray("-223,\"Too much data\"\n"));
        const QByteArray longest = "FREQ?" + QByteArray(251, ' ') + '\n'; // 256 bytes
        QCOMPARE(instrument.receive(longest), QByteArray("100000000\n"));
        instrument.setSilent(true);
        QCOMPARE(instrument.receive("FREQ?\n"), QByteArray());
        instrument.setSilent(false);
        instrument.setGarbage(true);
        double value = 0;
        QVERIFY(!parseNumber(instrument.receive("FREQ?\n").trimmed(), value));
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
