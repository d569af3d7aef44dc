// Each model's driver through the real QSerialPort into simulated instruments on the
// testbed: set operations, getting back in step, polling, link loss, connects, probing.
#include "drivers.h"
#include "exchange.h"
#include "generator.h"
#include "instrument.h"
#include "testbed.h"

#include <QSerialPort>
#include <QtTest>

#include <poll.h>

#include <cmath>
#include <deque>
#include <memory>

namespace {
constexpr int silentPort = -1, garbagePort = -2; // devices besides the model codes
const double notANumber = qQNaN();
enum Setting { Frequency, Amplitude, Attenuation, Output, FmPeriod, settingCount };

// Devices on a testbed (one testbed at a time per process) and their drivers.
// Instruments outlive the testbed's I/O thread, the testbed the drivers' ports.
struct Bench {
    std::vector<std::unique_ptr<sim::Instrument>> instruments; // null: a silent port
    sim::Testbed testbed;
    std::vector<std::unique_ptr<Generator>> drivers;
    QStringList names;

    explicit Bench(const QList<int> &kinds) {
        for (int kind : kinds) {
            std::unique_ptr<sim::Instrument> responder;
            auto identity = sim::Instrument::usbIdentityFor(0, QStringLiteral("MUTE"));
            if (kind != silentPort) {
                const QString serial = QStringLiteral("SIM%1").arg(names.size());
                responder = std::make_unique<sim::Instrument>(std::max(kind, 0), serial);
                responder->setGarbage(kind == garbagePort);
                identity = responder->usbIdentity();
            }
            names << testbed.portName(testbed.addDevice(identity, responder.get()));
            instruments.push_back(std::move(responder));
            drivers.emplace_back();
        }
    }
    bool ok() const { return testbed.isValid() && !names.contains(QString()); }
    sim::Instrument &instrument(int device) { return *instruments[size_t(device)]; }
    Generator &driver(int device) { return *drivers[size_t(device)]; }
    Generator &connect(int device) {
        drivers[size_t(device)] = rfgen::makeDriver(instrument(device).modelCode());
        QSerialPortInfo port(names[device]);
        rfgen::connectDriver(driver(device), port);
        return driver(device);
    }
    QList<QByteArray> sent(int device) { // what the driver sent besides its polls
        QList<QByteArray> lines;
        for (const QByteArray &line : instrument(device).receivedRequests())
            if (!line.startsWith("FREQ?;"))
                lines << line;
        return lines;
    }
    int polls(int d) { return instrument(d).receivedLines().size() - sent(d).size(); }
};

struct Reports {
    QSignalSpy spies[settingCount];
    explicit Reports(Generator &g)
        : spies{{&g, &Generator::newFrequency},
                {&g, &Generator::newAmplitude},
                {&g, &Generator::newAttenuation},
                {&g, &Generator::newState},
                {&g, &Generator::newTFm}} {}
};

double held(sim::Instrument &i, int setting) {
    const double values[] = {i.frequency(), i.amplitude(), i.attenuation(), double(i.output()),
                             i.fmPeriod()};
    return values[setting];
}
// The panel's way of changing a setting (FmPeriod: a sweep, start, stop,
// step, period); v receives what was applied.
bool setFromPanel(Generator &g, int setting, QList<double> &v) {
    return setting == Frequency     ? g.setFrequency(v[0])
           : setting == Amplitude   ? g.setAmplitude(v[0])
           : setting == Attenuation ? g.setAttenuation(v[0])
           : setting == Output      ? g.setState(v[0] != 0)
                                    : g.startFm(v[0], v[1], v[2], v[3]);
}
bool near(double a, double b) {
    return std::abs(a - b) <= 1e-4 * std::max(1.0, std::abs(b)) || (a != a && b != b);
}
// A row of set operations: sent is the start of the one line sent (empty: the
// value is refused, nothing sent), held what the driver and instrument hold.
void row(const char *name, int model, int setting, QList<double> requested, const char *sent = "",
         QList<double> held = {}, int grid = 3) {
    QTest::newRow(name) << model << setting << grid << requested << QByteArray(sent)
                        << (held.isEmpty() ? requested : held);
}

// True while some descriptor of this process is open on path.
bool processHolds(const QString &path) {
    const auto fds = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System);
    return std::any_of(fds.begin(), fds.end(),
                       [&](auto &fd) { return fd.symLinkTarget() == path; });
}
} // namespace

class TestDevice : public QObject {
    Q_OBJECT
    std::unique_ptr<Bench> shared; // one instrument per model, connected

    Bench *models() {
        if (!shared) {
            auto bench = std::make_unique<Bench>(QList<int>{0, 1, 2});
            for (int m = 0; m < 3; ++m)
                if (!bench->ok() || !QSignalSpy(&bench->connect(m), &Generator::newTFm).wait(3000))
                    return nullptr;
            shared = std::move(bench);
        }
        for (int m = 0; shared && m < 3; ++m) {
            shared->instrument(m).handleLine("*RST;*CLS");
            shared->instrument(m).clearReceivedLines();
            shared->driver(m).setFrequencyGrid(3);
        }
        return shared.get();
    }

private slots:
    void initTestCase() { qRegisterMetaType<rfgen::Exchange>(); }

    void setsAndReadsBack_data() {
        for (const char *column : {"model", "setting", "grid"})
            QTest::addColumn<int>(column);
        QTest::addColumn<QList<double>>("requested");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QList<double>>("held");
        row("1 kHz grid rounds down", 0, Frequency, {100000499}, "FREQ 100000000;FREQ?", {1e8}, 0);
        row("2 kHz grid rounds a half up", 0, Frequency, {100001000}, "FREQ 100002000;", {100002e3},
            1);
        row("5 kHz grid", 2, Frequency, {1234567}, "FREQ 1235000;FREQ?", {1235000}, 2);
        row("10 kHz grid rounds a half up", 2, Frequency, {1005000}, "FREQ 1010000;", {1.01e6});
        row("below orvex's lowest, rounded up", 0, Frequency, {24.996e6}, "FREQ 25000000;", {25e6});
        row("quendt's highest", 2, Frequency, {12.75e9}, "FREQ 12750000000;FREQ?");
        row("orvex below 25 MHz", 0, Frequency, {24.99e6});
        row("orvex above 6 GHz once rounded", 0, Frequency, {6.000006e9});
        row("pylar above 3.2 GHz", 1, Frequency, {3.21e9});
        row("quendt below 100 kHz", 2, Frequency, {94e3});
        row("frequency not a number", 0, Frequency, {notANumber});
        row("orvex rounds to 1 mV, a half up", 0, Amplitude, {0.0715}, "VOLT 0.072;VOLT?", {0.072});
        row("quendt goes up to 2 V", 2, Amplitude, {2}, "VOLT 2;VOLT?");
        row("pylar sends dBm", 1, Amplitude, {0.1}, "POW -10;POW?");
        row("pylar's lowest level", 1, Amplitude, {0.001}, "POW -50;POW?");
        row("pylar rounds to 0.01 dBm, answers in volts", 1, Amplitude, {0.5}, "POW 3.98;POW?",
            {0.500035});
        row("orvex above 1 V", 0, Amplitude, {1.0006});
        row("orvex below 1 mV once rounded", 0, Amplitude, {0.0004});
        row("quendt above 2 V", 2, Amplitude, {2.0005});
        row("pylar above +4 dBm", 1, Amplitude, {0.52});
        row("pylar below -50 dBm", 1, Amplitude, {0.0009});
        row("pylar given negative volts", 1, Amplitude, {-0.1});
        row("level not a number", 1, Amplitude, {notANumber});
        row("orvex attenuates in 0.5 dB steps", 0, Attenuation, {10.25}, "ATT 10.5;ATT?", {10.5});
        row("pylar attenuates up to 63.5 dB", 1, Attenuation, {63.5}, "ATT 63.5;ATT?");
        row("quendt attenuates in 0.1 dB steps", 2, Attenuation, {2.05}, "ATT 2.1;ATT?", {2.1});
        row("orvex beyond 31.5 dB", 0, Attenuation, {31.75});
        row("pylar beyond 63.5 dB", 1, Attenuation, {63.75});
        row("quendt beyond 110 dB", 2, Attenuation, {110.05});
        row("negative attenuation", 2, Attenuation, {-0.05});
        row("attenuation not a number", 0, Attenuation, {notANumber});
        row("output on", 0, Output, {1}, "OUTP ON;OUTP?");
        row("sweep rounded to the grid and 1 us, read back", 2, FmPeriod,
            {1002400, 2002600, 12400, 0.0123456},
            "FM:MODE UP;FM:STAR 1000000;FM:STOP 2005000;FM:STEP 10000;FM:PER 0.012346;FM:STAT ON;",
            {1e6, 2005000, 10000, 0.012346}, 2);
        row("sweep of 100000 points", 1, FmPeriod, {10e3, 100009e3, 1e3, 1000}, "FM:", {}, 0);
        row("sweep start above stop", 0, FmPeriod, {40e6, 30e6, 1e6, 0.01});
        row("sweep start equals stop", 0, FmPeriod, {40e6, 40e6, 1e6, 0.01});
        row("sweep step below the grid", 0, FmPeriod, {30e6, 40e6, 9e3, 0.01});
        row("sweep step beyond the span", 0, FmPeriod, {30e6, 40e6, 11e6, 0.01});
        row("sweep period below 1 ms", 0, FmPeriod, {30e6, 40e6, 1e6, 0.0009});
        row("sweep period above 1000 s", 0, FmPeriod, {30e6, 40e6, 1e6, 1000.1});
        row("sweep stop above the model", 1, FmPeriod, {30e6, 3.3e9, 1e6, 0.01});
        row("sweep of too many points", 2, FmPeriod, {1e6, 1.001e9, 10e3, 0.01});
        row("sweep period not a number", 2, FmPeriod, {1e6, 2e6, 10e3, notANumber});
    }
    void setsAndReadsBack() {
        QFETCH(int, model);
        QFETCH(int, setting);
        QFETCH(int, grid);
        QFETCH(QList<double>, requested);
        QFETCH(QByteArray, sent);
        QFETCH(QList<double>, held);
        Bench *bench = models();
        QVERIFY(bench);
        bench->driver(model).setFrequencyGrid(grid);
        QList<double> v = requested;
        QCOMPARE(setFromPanel(bench->driver(model), setting, v), !sent.isEmpty());
        const QList<QByteArray> lines = bench->sent(model);
        QCOMPARE(lines.size(), sent.isEmpty() ? 0 : 1);
        QVERIFY2(lines.value(0).startsWith(sent), lines.value(0));
        for (int i = 0; i < v.size(); ++i) // refused: the arguments as they were
            QVERIFY2(near(v[i], held[i]), qPrintable(QString::number(v[i], 'g', 12)));
        if (!sent.isEmpty())
            QVERIFY(near(::held(bench->instrument(model), setting), held.last()));
    }

    // An answer that comes after its exchange was given up is not the next
    // call's, whatever the exchange was: the next call reads what the instrument holds.
    void lateAnswerIsNotTakenForTheNext_data() {
        QTest::addColumn<QString>("late");
        for (const char *kind :
             {"setting", "query", "poll given up by a call", "poll timed out", "identification"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void lateAnswerIsNotTakenForTheNext() {
        QFETCH(QString, late);
        Bench *bench = models();
        QVERIFY(bench);
        sim::Instrument &instrument = bench->instrument(2);
        instrument.handleLine("ATT 42.7");
        if (late == "identification") // connected anew: its *IDN? is the late one
            bench->drivers[2] = rfgen::makeDriver(2);
        Generator &g = bench->driver(2);
        QSignalSpy records(&g, &Generator::exchanged);
        const auto givenUp = [&records] {
            return std::any_of(records.begin(), records.end(), [](const QList<QVariant> &r) {
                return !r.at(0).value<rfgen::Exchange>().answered;
            });
        };
        QByteArray reply;
        double frequency = 50e6;
        const bool call = late == "setting" || late == "query";
        instrument.delayNextReply(call ? 700 : late.startsWith("poll given") ? 400 : 900);
        QSerialPortInfo port(bench->names[2]);
        if (late == "identification")
            rfgen::connectDriver(g, port);
        if (late == "setting")
            QVERIFY(!g.setFrequency(frequency));
        else if (late == "query")
            QVERIFY(!g.query("FREQ?", reply));
        else if (late.startsWith("poll given")) // the call waits a moment, then gives it up
            QTRY_VERIFY(instrument.receivedLines().join().contains("FREQ?;VOLT?"));
        else
            QTRY_VERIFY(givenUp());
        QVERIFY(g.query("ATT?", reply));
        QCOMPARE(reply, QByteArray("42.7"));
    }

    // A silent instrument's error comes once per outage, after the call
    // returned; sends that expect no answer do not end the outage.
    void reportsOnceWhenSilent() {
        Bench *bench = models();
        QVERIFY(bench);
        Generator &g = bench->driver(0);
        QSignalSpy errors(&g, &Generator::error);
        bench->instrument(0).setSilent(true);
        double value = 50e6;
        QVERIFY(!g.setFrequency(value));
        QCOMPARE(errors.count(), 0);
        g.setLevelControl(1);
        g.setFmMode(1);
        g.stopFm();
        QVERIFY(!g.setFrequency(value));
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors.first().at(0).toString(), QStringLiteral("Генератор не отвечает"));
        bench->instrument(0).setSilent(false);
        QVERIFY(g.setFrequency(value));
        bench->instrument(0).setSilent(true);
        QVERIFY(!g.setFrequency(value));
        QTRY_COMPARE(errors.count(), 2);
        bench->instrument(0).setSilent(false);
    }

    // All three models at once: the first poll reports what the instrument holds,
    // a knob turned on the instrument is reported once, the panel's own set never.
    void pollReportsInstrumentChangesOnly() {
        shared.reset();
        Bench bench({0, 1, 2});
        QVERIFY(bench.ok());
        // Per model: a knob turned on the instrument and its value, a set from the panel.
        const int knob[] = {Frequency, Amplitude, Attenuation},
                  panel[] = {Amplitude, Attenuation, FmPeriod};
        const char *const turn[] = {"FREQ 2450000000", "POW 0", "ATT 42.7"};
        const double to[] = {2.45e9, 0.316228, 42.7};
        QList<double> set[] = {{0.5}, {10.5}, {30e6, 40e6, 10e3, 0.01}};
        std::deque<Reports> reports;
        for (int m = 0; m < 3; ++m) {
            sim::Instrument &i = bench.instrument(m);
            i.setFrequency(433.92e6), i.setAmplitude(0.25), i.setAttenuation(12.5);
            i.setOutput(true), i.setFmPeriod(0.02);
            reports.emplace_back(bench.connect(m));
        }
        for (int m = 0; m < 3; ++m) {
            QTRY_VERIFY(std::none_of(reports[m].spies, reports[m].spies + settingCount,
                                     [](auto &spy) { return spy.isEmpty(); }));
            for (int s = 0; s < settingCount; ++s)
                QVERIFY(near(reports[m].spies[s].takeFirst().at(0).toDouble(),
                             held(bench.instrument(m), s)));
            QVERIFY(setFromPanel(bench.driver(m), panel[m], set[m]));
            bench.instrument(m).handleLine(turn[m]);
        }
        // A later poll, seen by its report, shows that nothing more came.
        for (int m = 0; m < 3; ++m)
            QTRY_COMPARE(reports[m].spies[knob[m]].count(), 1);
        for (int m = 0; m < 3; ++m)
            bench.instrument(m).setOutput(false);
        for (int m = 0; m < 3; ++m) {
            QTRY_COMPARE(reports[m].spies[Output].count(), 1);
            QVERIFY(near(reports[m].spies[knob[m]].at(0).at(0).toDouble(), to[m]));
            for (int s = 0; s < settingCount; ++s)
                QCOMPARE(reports[m].spies[s].count(), int(s == knob[m] || s == Output));
        }
    }

    // Unplugged, silent for two polls, answering noise, silent while the panel
    // keeps calling it: one disconnected() each, and the port is closed (a port
    // left open after a hang-up spins a core).
    void linkLossIsReportedOnce() {
        shared.reset();
        Bench bench({0, 1, 2, 0});
        QVERIFY(bench.ok());
        std::deque<QSignalSpy> lost;
        QStringList ptys;
        for (int m = 0; m < 4; ++m) {
            QVERIFY(QSignalSpy(&bench.connect(m), &Generator::newTFm).wait(3000));
            lost.emplace_back(&bench.driver(m), &Generator::disconnected);
            ptys << QFileInfo(bench.testbed.umockdevDir() + "/dev/" + bench.names[m])
                        .symLinkTarget();
            QVERIFY2(processHolds(ptys[m]), qPrintable(ptys[m]));
        }
        const int polls[] = {0, bench.polls(1), bench.polls(2)};
        bench.testbed.unplug(0);
        bench.instrument(1).setSilent(true);
        bench.instrument(2).setGarbage(true);
        bench.instrument(3).setSilent(true);
        QTimer caller; // failed calls must not keep putting the polls off
        QObject::connect(&caller, &QTimer::timeout, [&bench] {
            double hz = 50e6;
            bench.driver(3).setFrequency(hz);
        });
        caller.start(100);
        for (int m = 0; m < 4; ++m) {
            QTRY_COMPARE_WITH_TIMEOUT(lost[m].count(), 1, 10000);
            QVERIFY(!bench.driver(m).isConnected());
            QVERIFY(!processHolds(ptys[m]));
        }
        for (int m = 1; m < 3; ++m) {
            QCOMPARE(bench.polls(m) - polls[m], 2); // lost on the second missed poll
            QSerialPort port(bench.names[m]);       // released, lock file included
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        }
        QCoreApplication::processEvents();
        for (int m = 0; m < 4; ++m)
            QCOMPARE(lost[m].count(), 1);
    }

    // A connect fails to a port never seen (orvex) or unplugged since it was
    // listed (pylar), or is followed at once by a good connect (quendt).
    void failedConnectIsReportedAfterReturning_data() {
        QTest::addColumn<int>("model");
        QTest::newRow("a port never seen") << 0;
        QTest::newRow("a port unplugged since listed") << 1;
        QTest::newRow("a good connect right after") << 2;
    }
    void failedConnectIsReportedAfterReturning() {
        QFETCH(int, model);
        shared.reset();
        Bench bench({model});
        QVERIFY(bench.ok());
        QSerialPortInfo port(model == 1 ? bench.names[0] : QStringLiteral("ttyRFGEN-none"));
        if (model == 1)
            bench.testbed.unplug(0);
        bench.drivers[0] = rfgen::makeDriver(model);
        Generator &g = bench.driver(0);
        QSignalSpy errors(&g, &Generator::error), lost(&g, &Generator::disconnected);
        rfgen::connectDriver(g, port);
        QCOMPARE(errors.count() + lost.count(), 0);
        if (model == 2) {
            QSerialPortInfo good(bench.names[0]);
            rfgen::connectDriver(g, good);
            QVERIFY(QSignalSpy(&g, &Generator::newTFm).wait(3000));
            QVERIFY(g.isConnected());
            QCOMPARE(errors.count() + lost.count(), 0); // the first poll came after its turn
            return;
        }
        QTRY_COMPARE(lost.count(), 1);
        QCOMPARE(errors.count(), 1);
        QVERIFY(!g.isConnected());
    }

    void probes_data() {
        QTest::addColumn<QList<int>>("devices"); // model codes, silentPort, garbagePort
        QTest::addColumn<int>("found");
        QTest::addColumn<int>("at"); // the device found, -1 for none
        QTest::newRow("orvex alone") << QList<int>{0} << 1 << 0;
        QTest::newRow("pylar beside a silent port") << QList<int>{silentPort, 1} << 1 << 1;
        QTest::newRow("quendt beside noise") << QList<int>{2, garbagePort} << 1 << 0;
        QTest::newRow("two instruments") << QList<int>{0, silentPort, 1} << 2 << -1;
        QTest::newRow("silent and noisy ports") << QList<int>{silentPort, garbagePort} << 0 << -1;
        QTest::newRow("no ports at all") << QList<int>{} << 0 << -1;
    }
    void probes() {
        QFETCH(QList<int>, devices);
        QFETCH(int, found);
        QFETCH(int, at);
        shared.reset();
        Bench bench(devices);
        QVERIFY(bench.ok());
        QSerialPortInfo port(bench.names.value(0)); // kept unless one is found
        int model = 99;
        QCOMPARE(Searcher::autosearch(port, model), found);
        QCOMPARE(model, at < 0 ? -1 : devices[at]);
        QCOMPARE(port.portName(), bench.names.value(std::max(at, 0)));
        for (int d = 0; d < devices.size(); ++d) {
            const bool recognised = devices[d] >= 0;
            QCOMPARE(Searcher::determineModel(QSerialPortInfo(bench.names[d]), model), recognised);
            QCOMPARE(model, recognised ? devices[d] : -1);
        }
    }

    // A waiting call that takes the bytes the port's watch was woken for
    // leaves that watch an empty read (EAGAIN): the link is not lost by it.
    void emptiedReadIsNotALoss() {
        Bench *bench = models();
        QVERIFY(bench);
        Generator &g = bench->driver(0);
        QSignalSpy lost(&g, &Generator::disconnected), reported(&g, &Generator::newFrequency);
        const QString pty =
            QFileInfo(bench->testbed.umockdevDir() + "/dev/" + bench->names[0]).symLinkTarget();
        const auto fds = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System);
        const auto fd =
            std::find_if(fds.begin(), fds.end(), [&](auto &f) { return f.symLinkTarget() == pty; });
        QVERIFY(fd != fds.end());
        pollfd readable{fd->fileName().toInt(), POLLIN, 0};
        QVERIFY(g.send("*OPC?")); // its answer is taken by the waiting call below
        QCOMPARE(::poll(&readable, 1, -1), 1);
        bench->instrument(0).delayNextReply(200); // the waiting call's own answer comes late
        QMetaObject::invokeMethod(
            &g,
            [&g] {
                QByteArray reply;
                g.query("*OPC?", reply);
            },
            Qt::QueuedConnection);
        bench->instrument(0).setFrequency(2e9);
        QTRY_VERIFY(!reported.isEmpty());
        QCOMPARE(lost.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
