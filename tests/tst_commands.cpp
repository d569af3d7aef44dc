// The text command layer and the simulated instrument's logic, without I/O.
#include "instrument.h"
#include "models.h"
#include "scpi.h"

#include <QtTest>

#include <clocale>

using namespace rfgen;
using namespace rfgen::scpi;

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    void parsesHeaders_data();
    void parsesHeaders();
    void splitsChains();
    void parsesNumbers_data();
    void parsesNumbers();
    void formatsNumbers_data();
    void formatsNumbers();
    void formatsInRussianLocale();
    void queueOverflowReplacesNewest();
    void roundsHalfAwayFromZero_data();
    void roundsHalfAwayFromZero();
    void convertsDbm_data();
    void convertsDbm();
    void recognisesMaker_data();
    void recognisesMaker();
    void instrumentAnswers_data();
    void instrumentAnswers();
    void instrumentRefuses_data();
    void instrumentRefuses();
    void instrumentDiscardsLongLines();
    void instrumentAssemblesLines();
    void failedQueryKeepsItsField();
};

void TestCommands::parsesHeaders_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("header");
    QTest::addColumn<bool>("query");
    QTest::addColumn<QByteArray>("argument");
    const auto h = [](Header x) { return int(x); };
    QTest::newRow("short") << QByteArray("FREQ 1e6") << 0 << h(Header::Freq) << false
                           << QByteArray("1e6");
    QTest::newRow("long lower") << QByteArray("frequency?") << 0 << h(Header::Freq) << true
                                << QByteArray();
    QTest::newRow("source prefix")
        << QByteArray("SOUR:FREQ 5") << 0 << h(Header::Freq) << false << QByteArray("5");
    QTest::newRow("source long") << QByteArray("source:voltage?") << 0 << h(Header::Volt) << true
                                 << QByteArray();
    QTest::newRow("syst err long")
        << QByteArray("SYSTem:ERRor?") << 0 << h(Header::SystErr) << true << QByteArray();
    QTest::newRow("fm star") << QByteArray("FM:STAR 1000") << 0 << h(Header::FmStart) << false
                             << QByteArray("1000");
    QTest::newRow("fm start long")
        << QByteArray("fm:start?") << 0 << h(Header::FmStart) << true << QByteArray();
    QTest::newRow("lev mode") << QByteArray("LEVel:MODE ATT") << 0 << h(Header::LevMode) << false
                              << QByteArray("ATT");
    QTest::newRow("idn") << QByteArray("*idn?") << 0 << h(Header::Idn) << true << QByteArray();
    QTest::newRow("blanks around")
        << QByteArray("  ATT   12.5  ") << 0 << h(Header::Att) << false << QByteArray("12.5");
    QTest::newRow("partial short form") << QByteArray("FRE 5") << int(UndefinedHeader)
                                        << h(Header::Unknown) << false << QByteArray("5");
    QTest::newRow("unknown") << QByteArray("BOGUS?") << int(UndefinedHeader) << h(Header::Unknown)
                             << true << QByteArray();
    QTest::newRow("query with argument")
        << QByteArray("FREQ? 5") << int(CommandError) << h(Header::Freq) << true << QByteArray("5");
    QTest::newRow("bad characters") << QByteArray("FR#Q 5") << int(CommandError)
                                    << h(Header::Unknown) << false << QByteArray("5");
}

void TestCommands::parsesHeaders() {
    QFETCH(QByteArray, text);
    QFETCH(int, error);
    Command command;
    QCOMPARE(int(parseCommand(text, command)), error);
    if (error == UndefinedHeader || error == NoError) {
        QFETCH(int, header);
        QCOMPARE(int(command.header), header);
    }
    QFETCH(bool, query);
    QFETCH(QByteArray, argument);
    QCOMPARE(command.query, query);
    QCOMPARE(command.argument, argument);
}

void TestCommands::splitsChains() {
    QCOMPARE(splitCommands("FREQ 1;FREQ?"), (QList<QByteArray>{"FREQ 1", "FREQ?"}));
    QCOMPARE(splitCommands(" A ;; B ;"), (QList<QByteArray>{"A", "B"}));
    QVERIFY(splitCommands("").isEmpty());
}

void TestCommands::parsesNumbers_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::newRow("integer") << QByteArray("12500000") << true << 12500000.0;
    QTest::newRow("decimal") << QByteArray("0.125") << true << 0.125;
    QTest::newRow("exponent") << QByteArray("1e9") << true << 1e9;
    QTest::newRow("exponent sign") << QByteArray("12.5E+06") << true << 12.5e6;
    QTest::newRow("negative") << QByteArray("-50") << true << -50.0;
    QTest::newRow("comma") << QByteArray("12,5") << false << 0.0;
    QTest::newRow("inf") << QByteArray("inf") << false << 0.0;
    QTest::newRow("nan") << QByteArray("nan") << false << 0.0;
    QTest::newRow("hex") << QByteArray("0x10") << false << 0.0;
    QTest::newRow("word") << QByteArray("ON") << false << 0.0;
    QTest::newRow("empty") << QByteArray("") << false << 0.0;
    QTest::newRow("overflow") << QByteArray("1e999") << false << 0.0;
}

void TestCommands::parsesNumbers() {
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    double parsed = -1;
    QCOMPARE(parseNumber(text, parsed), ok);
    if (ok) {
        QFETCH(double, value);
        QCOMPARE(parsed, value);
    }
}

void TestCommands::formatsNumbers_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("integer") << 12500000.0 << QByteArray("12500000");
    QTest::newRow("large integer") << 12.75e9 << QByteArray("12750000000");
    QTest::newRow("zero") << 0.0 << QByteArray("0");
    QTest::newRow("negative zero") << -0.0 << QByteArray("0");
    QTest::newRow("decimal") << 0.001 << QByteArray("0.001");
    QTest::newRow("negative") << -12.34 << QByteArray("-12.34");
    QTest::newRow("twelve digits") << 1.0 / 3.0 << QByteArray("0.333333333333");
}

void TestCommands::formatsNumbers() {
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    QCOMPARE(formatNumber(value), text);
}

void TestCommands::formatsInRussianLocale() {
    const QLocale saved;
    const char *cLocale = std::setlocale(LC_ALL, "ru_RU.UTF-8");
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QCOMPARE(formatNumber(0.5), QByteArray("0.5"));
    double value = 0;
    QVERIFY(parseNumber("31.5", value));
    QCOMPARE(value, 31.5);
    QLocale::setDefault(saved);
    if (cLocale)
        std::setlocale(LC_ALL, "C");
}

void TestCommands::queueOverflowReplacesNewest() {
    ErrorQueue queue;
    for (int i = 0; i < ErrorQueue::capacity; ++i)
        queue.push(DataOutOfRange);
    queue.push(CommandError);
    QCOMPARE(queue.size(), ErrorQueue::capacity);
    for (int i = 0; i < ErrorQueue::capacity - 1; ++i)
        QCOMPARE(queue.pop(), int(DataOutOfRange));
    QCOMPARE(queue.pop(), int(QueueOverflow));
    QCOMPARE(queue.pop(), int(NoError));
    QCOMPARE(errorReply(DataOutOfRange), QByteArray("-222,\"Data out of range\""));
}

void TestCommands::roundsHalfAwayFromZero_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("rounded");
    QTest::newRow("grid 10k down") << 12504999.0 << 10e3 << 12500000.0;
    QTest::newRow("grid 10k half") << 12505000.0 << 10e3 << 12510000.0;
    QTest::newRow("grid 5k") << 1002500.0 << 5e3 << 1005000.0;
    QTest::newRow("grid 2k") << 1000999.0 << 2e3 << 1000000.0;
    QTest::newRow("grid 1k") << 1000500.0 << 1e3 << 1001000.0;
    QTest::newRow("mV half") << 0.0015 << 0.001 << 0.002;
    QTest::newRow("negative half") << -0.0015 << 0.001 << -0.002;
    QTest::newRow("att 0.5") << 31.25 << 0.5 << 31.5;
    QTest::newRow("att 0.1") << 10.05 << 0.1 << 10.1;
}

void TestCommands::roundsHalfAwayFromZero() {
    QFETCH(double, value);
    QFETCH(double, step);
    QFETCH(double, rounded);
    QVERIFY2(std::abs(roundToStep(value, step) - rounded) < step * 1e-6,
             qPrintable(QString::number(roundToStep(value, step), 'g', 17)));
}

void TestCommands::convertsDbm_data() {
    QTest::addColumn<double>("volts");
    QTest::addColumn<double>("dBm");
    QTest::newRow("1 V") << 1.0 << 10.0;
    QTest::newRow("1 mV") << 0.001 << -50.0;
    QTest::newRow("-10 dBm") << 0.1 << -10.0;
    QTest::newRow("+4 dBm") << 0.501187 << 4.0;
}

void TestCommands::convertsDbm() {
    QFETCH(double, volts);
    QFETCH(double, dBm);
    QVERIFY(std::abs(voltsToDbm(volts) - dBm) < 1e-4);
    QVERIFY(std::abs(dbmToVolts(dBm) - volts) < 1e-6);
}

void TestCommands::recognisesMaker_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("model");
    QTest::newRow("orvex") << QByteArray("ORVEX,OG-6000,1,1") << int(OrvexModel);
    QTest::newRow("lower, blanks") << QByteArray("  pylar ,x,y,z") << int(PylarModel);
    QTest::newRow("quendt") << QByteArray("Quendt,QM,1,2") << int(QuendtModel);
    QTest::newRow("other maker") << QByteArray("ACME,ORVEX,1,1") << int(NoModel);
    QTest::newRow("prefix only") << QByteArray("ORVEXX,1") << int(NoModel);
    QTest::newRow("empty") << QByteArray() << int(NoModel);
}

void TestCommands::recognisesMaker() {
    QFETCH(QByteArray, reply);
    QFETCH(int, model);
    QCOMPARE(modelFromIdentification(reply), model);
}

void TestCommands::instrumentAnswers_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("idn") << 1 << QByteArray("*IDN?") << QByteArray("PYLAR,PL-3200,SIM0001,1.4.2");
    QTest::newRow("reset state") << 0 << QByteArray("*RST;FREQ?;VOLT?;ATT?;OUTP?;FM:PER?")
                                 << QByteArray("100000000;0.1;0;0;0.001");
    QTest::newRow("pylar level") << 1 << QByteArray("POW?") << QByteArray("-10");
    QTest::newRow("set and read") << 1 << QByteArray("FREQ 12500000;FREQ?")
                                  << QByteArray("12500000");
    QTest::newRow("exponent input")
        << 2 << QByteArray("freq 1.2E10;FREQ?") << QByteArray("12000000000");
    QTest::newRow("amplitude mV") << 0 << QByteArray("VOLT 0.2504;VOLT?") << QByteArray("0.25");
    QTest::newRow("att step") << 0 << QByteArray("ATT 10.3;ATT?") << QByteArray("10.5");
    QTest::newRow("att fine step") << 2 << QByteArray("ATT 10.34;ATT?") << QByteArray("10.3");
    QTest::newRow("output") << 0 << QByteArray("OUTP ON;OUTP?;OUTP 0;OUTP?") << QByteArray("1;0");
    QTest::newRow("modes") << 0 << QByteArray("LEV:MODE ATT;FM:MODE hop;LEV:MODE?;FM:MODE?")
                           << QByteArray("ATT;HOP");
    QTest::newRow("sweep") << 0
                           << QByteArray("FM:STAR 30e6;FM:STOP 40e6;FM:STEP 1e6;FM:PER 0.01;"
                                         "FM:STAT ON;FM:STAT?")
                           << QByteArray("1");
    QTest::newRow("no queries") << 0 << QByteArray("FREQ 30e6") << QByteArray();
    QTest::newRow("empty queue") << 0 << QByteArray("SYST:ERR?") << QByteArray("0,\"No error\"");
}

void TestCommands::instrumentAnswers() {
    QFETCH(int, model);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, reply);
    sim::Instrument instrument(model);
    QCOMPARE(instrument.handleLine(line), reply);
    QCOMPARE(instrument.handleLine("SYST:ERR?"), QByteArray("0,\"No error\""));
}

void TestCommands::instrumentRefuses_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("readBack");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("freq low") << 0 << QByteArray("FREQ 24999999") << QByteArray("FREQ?")
                              << QByteArray("100000000")
                              << QByteArray("-222,\"Data out of range\"");
    QTest::newRow("volt high") << 0 << QByteArray("VOLT 1.001") << QByteArray("VOLT?")
                               << QByteArray("0.1") << QByteArray("-222,\"Data out of range\"");
    QTest::newRow("quendt volt 2") << 2 << QByteArray("VOLT 2.0004") << QByteArray("VOLT?")
                                   << QByteArray("2") << QByteArray("0,\"No error\"");
    QTest::newRow("pow on orvex") << 0 << QByteArray("POW -10") << QByteArray("VOLT?")
                                  << QByteArray("0.1") << QByteArray("-113,\"Undefined header\"");
    QTest::newRow("volt on pylar") << 1 << QByteArray("VOLT 0.1") << QByteArray("POW?")
                                   << QByteArray("-10") << QByteArray("-113,\"Undefined header\"");
    QTest::newRow("pylar pow high")
        << 1 << QByteArray("POW 4.01") << QByteArray("POW?") << QByteArray("-10")
        << QByteArray("-222,\"Data out of range\"");
    QTest::newRow("att beyond") << 1 << QByteArray("ATT 64") << QByteArray("ATT?")
                                << QByteArray("0") << QByteArray("-222,\"Data out of range\"");
    QTest::newRow("not a number") << 0 << QByteArray("FREQ abc") << QByteArray("FREQ?")
                                  << QByteArray("100000000")
                                  << QByteArray("-100,\"Command error\"");
    QTest::newRow("bad switch") << 0 << QByteArray("OUTP maybe") << QByteArray("OUTP?")
                                << QByteArray("0") << QByteArray("-100,\"Command error\"");
    QTest::newRow("sweep conflict")
        << 0 << QByteArray("FM:STAR 40e6;FM:STOP 30e6;FM:STAT ON") << QByteArray("FM:STAT?")
        << QByteArray("0") << QByteArray("-221,\"Settings conflict\"");
    QTest::newRow("too many points")
        << 2 << QByteArray("FM:STAR 1e6;FM:STOP 2e9;FM:STEP 1000;FM:STAT ON")
        << QByteArray("FM:STAT?") << QByteArray("0") << QByteArray("-221,\"Settings conflict\"");
}

void TestCommands::instrumentRefuses() {
    QFETCH(int, model);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, readBack);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, error);
    sim::Instrument instrument(model);
    QCOMPARE(instrument.handleLine(line), QByteArray());
    QCOMPARE(instrument.handleLine(readBack), reply);
    QCOMPARE(instrument.handleLine("SYST:ERR?"), error);
}

void TestCommands::instrumentDiscardsLongLines() {
    sim::Instrument instrument(0);
    QCOMPARE(instrument.receive(QByteArray(300, 'A') + "\nFREQ?\n"), QByteArray("100000000\n"));
    QCOMPARE(instrument.receive("SYST:ERR?\n"), QByteArray("-223,\"Too much data\"\n"));
    // A line of exactly 256 bytes is still accepted.
    const QByteArray padded = "FREQ?" + QByteArray(251, ' ');
    QCOMPARE(instrument.receive(padded + "\n"), QByteArray("100000000\n"));
}

void TestCommands::instrumentAssemblesLines() {
    sim::Instrument instrument(0);
    QCOMPARE(instrument.receive("FRE"), QByteArray());
    QCOMPARE(instrument.receive("Q?\r\n*OPC?\n"), QByteArray("100000000\n1\n"));
    instrument.setSilent(true);
    QCOMPARE(instrument.receive("FREQ?\n"), QByteArray());
    instrument.setSilent(false);
    instrument.setGarbage(true);
    const QByteArray garbage = instrument.receive("FREQ?\n");
    QVERIFY(!garbage.isEmpty());
    double value = 0;
    QVERIFY(!parseNumber(garbage.trimmed(), value));
    QCOMPARE(instrument.receivedLines().size(), 4);
}

void TestCommands::failedQueryKeepsItsField() {
    sim::Instrument instrument(1);
    QCOMPARE(instrument.handleLine("FREQ?;BOGUS?;VOLT?;OUTP?"), QByteArray("100000000;;;0"));
    QCOMPARE(instrument.handleLine("SYST:ERR?;SYST:ERR?"),
             QByteArray("-113,\"Undefined header\";-113,\"Undefined header\""));
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
