// Each model's set operations through the real serial path into a simulated
// instrument: rounding, limits, read-back and what goes over the wire.
#include "drivers.h"
#include "generator.h"
#include "instrument.h"
#include "testbed.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {
const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();
} // namespace

class TestDriver : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void roundsFrequencyToGrid_data();
    void roundsFrequencyToGrid();
    void refusesWithoutSending_data();
    void refusesWithoutSending();
    void roundsLevelAndAttenuation_data();
    void roundsLevelAndAttenuation();
    void pylarConvertsDbmBothWays();
    void switchesOutput();
    void startsSweep_data();
    void startsSweep();
    void refusesSweep_data();
    void refusesSweep();
    void stopsSweep();
    void sendsLevelControlAndFmKind();
    void ignoresInvalidHeldValues();
    void reportsOnceWhenSilent_data();
    void reportsOnceWhenSilent();
    void lateAnswerIsNotTakenForTheNext();

private:
    sim::Testbed testbed;
    std::unique_ptr<sim::Instrument> instruments[3];
    std::unique_ptr<Generator> drivers[3];

    Generator &driver(int model) { return *drivers[model]; }
    sim::Instrument &instrument(int model) { return *instruments[model]; }
};

void TestDriver::initTestCase() {
    QVERIFY2(testbed.isValid(), qPrintable(testbed.errorString()));
    for (int model = 0; model < 3; ++model) {
        instruments[model] = std::make_unique<sim::Instrument>(model);
        const int device =
            testbed.addDevice(instruments[model]->usbIdentity(), instruments[model].get());
        QSerialPortInfo port(testbed.portName(device));
        drivers[model] = rfgen::makeDriver(model);
        rfgen::connectDriver(*drivers[model], port);
        QSignalSpy firstPoll(drivers[model].get(), &Generator::newFrequency);
        QVERIFY(firstPoll.wait(2000));
        QVERIFY(drivers[model]->isConnected());
    }
}

void TestDriver::init() {
    for (int model = 0; model < 3; ++model) {
        instrument(model).handleLine("*RST;*CLS");
        instrument(model).clearReceivedLines();
        driver(model).setFrequencyGrid(3);
    }
}

void TestDriver::roundsFrequencyToGrid_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("grid");
    QTest::addColumn<double>("requested");
    QTest::addColumn<double>("held");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("pylar 12.5 MHz")
        << 1 << 3 << 12.5e6 << 12.5e6 << QByteArray("FREQ 12500000;FREQ?");
    QTest::newRow("1 kHz grid") << 0 << 0 << 100000499.0 << 100000000.0
                                << QByteArray("FREQ 100000000;FREQ?");
    QTest::newRow("2 kHz half up")
        << 0 << 1 << 100001000.0 << 100002000.0 << QByteArray("FREQ 100002000;FREQ?");
    QTest::newRow("5 kHz grid") << 2 << 2 << 1234567.0 << 1235000.0
                                << QByteArray("FREQ 1235000;FREQ?");
    QTest::newRow("10 kHz half up")
        << 2 << 3 << 1005000.0 << 1010000.0 << QByteArray("FREQ 1010000;FREQ?");
    QTest::newRow("pylar lowest rounds up")
        << 1 << 3 << 9e3 << 10e3 << QByteArray("FREQ 10000;FREQ?");
    QTest::newRow("quendt top") << 2 << 3 << 12.75e9 << 12.75e9
                                << QByteArray("FREQ 12750000000;FREQ?");
}

void TestDriver::roundsFrequencyToGrid() {
    QFETCH(int, model);
    QFETCH(int, grid);
    QFETCH(double, requested);
    QFETCH(double, held);
    QFETCH(QByteArray, sent);
    driver(model).setFrequencyGrid(grid);
    QCOMPARE(driver(model).getFrequencyGrid(), grid);
    double value = requested;
    QVERIFY(driver(model).setFrequency(value));
    QCOMPARE(value, held);
    QCOMPARE(instrument(model).frequency(), held);
    QVERIFY(instrument(model).receivedRequests().contains(sent));
}

void TestDriver::refusesWithoutSending_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<double>("value");
    QTest::newRow("orvex freq low") << 0 << "freq" << 24.99e6;
    QTest::newRow("orvex freq high") << 0 << "freq" << 6.000006e9;
    QTest::newRow("pylar freq high") << 1 << "freq" << 3.21e9;
    QTest::newRow("quendt freq low") << 2 << "freq" << 94e3;
    QTest::newRow("freq nan") << 0 << "freq" << notANumber;
    QTest::newRow("freq inf") << 2 << "freq" << infinity;
    QTest::newRow("orvex volt high") << 0 << "volt" << 1.0006;
    QTest::newRow("orvex volt zero") << 0 << "volt" << 0.0004;
    QTest::newRow("quendt volt high") << 2 << "volt" << 2.0005;
    QTest::newRow("pylar volt high") << 1 << "volt" << 0.52;
    QTest::newRow("pylar volt low") << 1 << "volt" << 0.0009;
    QTest::newRow("pylar volt negative") << 1 << "volt" << -0.1;
    QTest::newRow("volt nan") << 1 << "volt" << notANumber;
    QTest::newRow("orvex att high") << 0 << "att" << 31.75;
    QTest::newRow("pylar att high") << 1 << "att" << 63.75;
    QTest::newRow("quendt att high") << 2 << "att" << 110.05;
    QTest::newRow("att negative") << 2 << "att" << -0.05;
    QTest::newRow("att inf") << 0 << "att" << -infinity;
}

void TestDriver::refusesWithoutSending() {
    QFETCH(int, model);
    QFETCH(QString, operation);
    QFETCH(double, value);
    double argument = value;
    bool accepted = true;
    if (operation == "freq")
        accepted = driver(model).setFrequency(argument);
    else if (operation == "volt")
        accepted = driver(model).setAmplitude(argument);
    else
        accepted = driver(model).setAttenuation(argument);
    QVERIFY(!accepted);
    QVERIFY(std::isnan(value) ? std::isnan(argument) : argument == value);
    QVERIFY(instrument(model).receivedLines().isEmpty());
}

void TestDriver::roundsLevelAndAttenuation_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<double>("requested");
    QTest::addColumn<double>("held");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("orvex mV") << 0 << "volt" << 0.2505 << 0.251 << QByteArray("VOLT 0.251;VOLT?");
    QTest::newRow("orvex top") << 0 << "volt" << 1.0004 << 1.0 << QByteArray("VOLT 1;VOLT?");
    QTest::newRow("quendt 2 V") << 2 << "volt" << 2.0 << 2.0 << QByteArray("VOLT 2;VOLT?");
    QTest::newRow("orvex att 0.5") << 0 << "att" << 10.3 << 10.5 << QByteArray("ATT 10.5;ATT?");
    QTest::newRow("orvex att half") << 0 << "att" << 10.25 << 10.5 << QByteArray("ATT 10.5;ATT?");
    QTest::newRow("pylar att top") << 1 << "att" << 63.5 << 63.5 << QByteArray("ATT 63.5;ATT?");
    QTest::newRow("quendt att 0.1") << 2 << "att" << 99.94 << 99.9 << QByteArray("ATT 99.9;ATT?");
    QTest::newRow("quendt att top") << 2 << "att" << 110.0 << 110.0 << QByteArray("ATT 110;ATT?");
}

void TestDriver::roundsLevelAndAttenuation() {
    QFETCH(int, model);
    QFETCH(QString, operation);
    QFETCH(double, requested);
    QFETCH(double, held);
    QFETCH(QByteArray, sent);
    double value = requested;
    const bool volt = operation == "volt";
    QVERIFY(volt ? driver(model).setAmplitude(value) : driver(model).setAttenuation(value));
    QCOMPARE(value, held);
    QCOMPARE(volt ? instrument(model).amplitude() : instrument(model).attenuation(), held);
    QCOMPARE(instrument(model).receivedRequests().last(), sent);
}

void TestDriver::pylarConvertsDbmBothWays() {
    double volts = 0.1;
    QVERIFY(driver(1).setAmplitude(volts));
    QCOMPARE(instrument(1).receivedRequests().last(), QByteArray("POW -10;POW?"));
    QVERIFY(std::abs(volts - 0.1) < 1e-9);
    volts = 0.001;
    QVERIFY(driver(1).setAmplitude(volts));
    QCOMPARE(instrument(1).receivedRequests().last(), QByteArray("POW -50;POW?"));
    volts = 0.5;
    QVERIFY(driver(1).setAmplitude(volts));
    QCOMPARE(instrument(1).receivedRequests().last(), QByteArray("POW 3.98;POW?"));
    QVERIFY(std::abs(volts - 0.50003) < 1e-5); // what 3.98 dBm is in volts
    // A level set on the instrument itself is reported in volts.
    QSignalSpy reported(&driver(1), &Generator::newAmplitude);
    instrument(1).handleLine("POW 0");
    QVERIFY(reported.wait(2500));
    QVERIFY(std::abs(reported.last().at(0).toDouble() - 0.316228) < 1e-6);
}

void TestDriver::switchesOutput() {
    QVERIFY(driver(0).setState(true));
    QVERIFY(instrument(0).output());
    QVERIFY(driver(0).setState(false));
    QVERIFY(!instrument(0).output());
    QCOMPARE(instrument(0).receivedRequests().last(), QByteArray("OUTP OFF;OUTP?"));
}

void TestDriver::startsSweep_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("grid");
    QTest::addColumn<QList<double>>("requested");
    QTest::addColumn<QList<double>>("held");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("orvex") << 0 << 3 << QList<double>{30e6, 40e6, 1e6, 0.01}
                           << QList<double>{30e6, 40e6, 1e6, 0.01}
                           << QByteArray("FM:MODE UP;FM:STAR 30000000;FM:STOP 40000000;"
                                         "FM:STEP 1000000;FM:PER 0.01;FM:STAT ON;FM:STAR?;"
                                         "FM:STOP?;FM:STEP?;FM:PER?;FM:STAT?");
    QTest::newRow("rounded to grid and us")
        << 2 << 2 << QList<double>{1002400.0, 2002600.0, 12400.0, 0.0123456}
        << QList<double>{1000000.0, 2005000.0, 10000.0, 0.012346}
        << QByteArray("FM:MODE UP;FM:STAR 1000000;FM:STOP 2005000;FM:STEP 10000;FM:PER "
                      "0.012346;FM:STAT ON;FM:STAR?;FM:STOP?;FM:STEP?;FM:PER?;FM:STAT?");
    QTest::newRow("100000 points") << 1 << 0 << QList<double>{10e3, 100009e3, 1e3, 1000.0}
                                   << QList<double>{10e3, 100009e3, 1e3, 1000.0} << QByteArray();
}

void TestDriver::startsSweep() {
    QFETCH(int, model);
    QFETCH(int, grid);
    QFETCH(QList<double>, requested);
    QFETCH(QList<double>, held);
    QFETCH(QByteArray, sent);
    driver(model).setFrequencyGrid(grid);
    double start = requested[0], stop = requested[1], step = requested[2], period = requested[3];
    QVERIFY(driver(model).startFm(start, stop, step, period));
    QCOMPARE((QList<double>{start, stop, step, period}), held);
    QCOMPARE(instrument(model).setting("FM:STAT?"), QByteArray("1"));
    if (!sent.isEmpty())
        QCOMPARE(instrument(model).receivedRequests().last(), sent);
}

void TestDriver::refusesSweep_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QList<double>>("sweep");
    QTest::newRow("start above stop") << 0 << QList<double>{40e6, 30e6, 1e6, 0.01};
    QTest::newRow("start equals stop") << 0 << QList<double>{40e6, 40e6, 1e6, 0.01};
    QTest::newRow("step below grid") << 0 << QList<double>{30e6, 40e6, 9e3, 0.01};
    QTest::newRow("step beyond span") << 0 << QList<double>{30e6, 40e6, 11e6, 0.01};
    QTest::newRow("period short") << 0 << QList<double>{30e6, 40e6, 1e6, 0.0009};
    QTest::newRow("period long") << 0 << QList<double>{30e6, 40e6, 1e6, 1000.1};
    QTest::newRow("start below model") << 0 << QList<double>{24e6, 40e6, 1e6, 0.01};
    QTest::newRow("stop above model") << 1 << QList<double>{30e6, 3.3e9, 1e6, 0.01};
    QTest::newRow("too many points") << 2 << QList<double>{1e6, 1.001e9, 10e3, 0.01};
    QTest::newRow("nan period") << 2 << QList<double>{1e6, 2e6, 10e3, notANumber};
}

void TestDriver::refusesSweep() {
    QFETCH(int, model);
    QFETCH(QList<double>, sweep);
    double start = sweep[0], stop = sweep[1], step = sweep[2], period = sweep[3];
    QVERIFY(!driver(model).startFm(start, stop, step, period));
    QCOMPARE(start, sweep[0]);
    QCOMPARE(step, sweep[2]);
    QVERIFY(instrument(model).receivedLines().isEmpty());
}

void TestDriver::stopsSweep() {
    double start = 30e6, stop = 40e6, step = 1e6, period = 0.01;
    QVERIFY(driver(0).startFm(start, stop, step, period));
    driver(0).stopFm();
    // Commands without a query return once written; the instrument follows.
    QTRY_COMPARE(instrument(0).setting("FM:STAT?"), QByteArray("0"));
}

void TestDriver::sendsLevelControlAndFmKind() {
    driver(2).setLevelControl(1);
    driver(2).setFmMode(2);
    QCOMPARE(driver(2).getLevelControl(), 1);
    QCOMPARE(driver(2).getFmMode(), 2);
    QTRY_COMPARE(instrument(2).setting("LEV:MODE?"), QByteArray("ATT"));
    QTRY_COMPARE(instrument(2).setting("FM:MODE?"), QByteArray("HOP"));
    driver(2).setLevelControl(0);
    driver(2).setFmMode(1);
    QTRY_COMPARE(instrument(2).setting("LEV:MODE?"), QByteArray("AMPL"));
    QTRY_COMPARE(instrument(2).setting("FM:MODE?"), QByteArray("DOWN"));
    driver(2).setFmMode(0);
}

void TestDriver::ignoresInvalidHeldValues() {
    driver(0).setFrequencyGrid(1);
    driver(0).setFrequencyGrid(4);
    driver(0).setFrequencyGrid(-1);
    QCOMPARE(driver(0).getFrequencyGrid(), 1);
    driver(0).setLevelControl(2);
    QCOMPARE(driver(0).getLevelControl(), 0);
    driver(0).setFmMode(3);
    QCOMPARE(driver(0).getFmMode(), 0);
    QVERIFY(instrument(0).receivedLines().isEmpty());
}

// Run last: a silent instrument makes the calls fail, but the error is
// reported once per outage, not once per call, and only after the call.
void TestDriver::reportsOnceWhenSilent_data() {
    QTest::addColumn<QString>("between"); // a call without an answer between two sets
    QTest::newRow("nothing") << QString();
    QTest::newRow("level control") << "level";
    QTest::newRow("fm kind") << "fm";
    QTest::newRow("stop sweep") << "stop";
}

void TestDriver::reportsOnceWhenSilent() {
    QFETCH(QString, between);
    QSignalSpy errors(&driver(0), &Generator::error);
    instrument(0).setSilent(true);
    double value = 50e6;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!driver(0).setFrequency(value));
    QVERIFY(timer.elapsed() < 700); // 500 ms for the whole call
    QCOMPARE(errors.count(), 0);    // reported after the call, not inside it
    QVERIFY(!driver(0).isResponding());
    if (between == "level")
        driver(0).setLevelControl(1);
    else if (between == "fm")
        driver(0).setFmMode(1);
    else if (between == "stop")
        driver(0).stopFm();
    value = 60e6;
    QVERIFY(!driver(0).setFrequency(value));
    QTRY_COMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).toString(), QStringLiteral("Генератор не отвечает"));
    instrument(0).setSilent(false);
    value = 70e6;
    QVERIFY(driver(0).setFrequency(value));
    QCOMPARE(value, 70e6);
    QVERIFY(driver(0).isResponding());
    instrument(0).setSilent(true);
    QVERIFY(!driver(0).setFrequency(value));
    QTRY_COMPARE(errors.count(), 2);
    instrument(0).setSilent(false);
    driver(0).setLevelControl(0);
    driver(0).setFmMode(0);
    QVERIFY(driver(0).setFrequency(value)); // ends the outage for the next row
    QVERIFY(driver(0).isConnected());
}

// An answer that comes after its call gave up must not be taken for the
// answer to the next call.
void TestDriver::lateAnswerIsNotTakenForTheNext() {
    instrument(2).delayNextReply(700);
    double frequency = 50e6;
    QVERIFY(!driver(2).setFrequency(frequency));
    double attenuation = 3;
    QVERIFY(driver(2).setAttenuation(attenuation));
    QCOMPARE(attenuation, 3.0);
    double volts = 0.5;
    QVERIFY(driver(2).setAmplitude(volts));
    QCOMPARE(volts, 0.5);
    QVERIFY(driver(2).setState(true));
    QVERIFY(driver(2).setState(false));
}

QTEST_GUILESS_MAIN(TestDriver)
#include "tst_driver.moc"
