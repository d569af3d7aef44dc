// The serial link of the drivers against simulated instruments on the umockdev
// testbed: probing, link loss, failed connects, polling and verbose logging.
#include "drivers.h"
#include "generator.h"
#include "instrument.h"
#include "models.h"
#include "testbed.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <array>
#include <clocale>
#include <cmath>
#include <memory>
#include <sys/resource.h>

namespace {

// A device on the testbed: an instrument model code, or one of these.
constexpr int silentPort = -1;  // never answers
constexpr int garbagePort = -2; // answers every query with noise

// Values the poll reports, in the order of the report signals.
enum Setting { Frequency, Amplitude, Attenuation, Output, FmPeriod, settingCount };

// How a link is lost.
enum Loss { Unplug, Silence, Garbage };

// Polls need two missed answers a second apart; allow for a slow machine.
constexpr int lossTimeoutMs = 6000;
// One idle poll interval plus slack.
constexpr int reportTimeoutMs = 2000;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

QSerialPortInfo findPort(const QString &portName) {
    for (const QSerialPortInfo &info : Generator::getAvailablePorts())
        if (info.portName() == portName)
            return info;
    return QSerialPortInfo();
}

using rfgen::connectDriver;
using rfgen::makeDriver;

QList<int> repeated(int kind, int count) {
    return QVector<int>(count, kind).toList();
}

// After a missed answer the poll is led by *IDN? to get back in step.
bool isPollLine(const QByteArray &line) {
    return line.startsWith("FREQ?;") || line.startsWith("*IDN?;FREQ?;");
}

int pollCount(const sim::Instrument &instrument) {
    const QList<QByteArray> lines = instrument.receivedLines();
    return int(std::count_if(lines.begin(), lines.end(), isPollLine));
}

// Waits until the instrument has received `count` more polls and the driver
// has had time to handle the last answer.
bool waitForPolls(const sim::Instrument &instrument, int count) {
    const int target = pollCount(instrument) + count;
    if (!QTest::qWaitFor([&] { return pollCount(instrument) >= target; }, count * reportTimeoutMs))
        return false;
    QTest::qWait(200);
    return true;
}

// The report signals of one driver.
class ReportSpies {
public:
    explicit ReportSpies(Generator &driver)
        : spies{std::make_unique<QSignalSpy>(&driver, &Generator::newFrequency),
                std::make_unique<QSignalSpy>(&driver, &Generator::newAmplitude),
                std::make_unique<QSignalSpy>(&driver, &Generator::newAttenuation),
                std::make_unique<QSignalSpy>(&driver, &Generator::newState),
                std::make_unique<QSignalSpy>(&driver, &Generator::newTFm)} {}

    QSignalSpy &operator[](int setting) { return *spies[size_t(setting)]; }
    bool allReported() const {
        return std::all_of(spies.begin(), spies.end(), [](auto &spy) { return !spy->isEmpty(); });
    }
    void clear() {
        for (auto &spy : spies)
            spy->clear();
    }
    // The first reported value of a setting, booleans as 0 or 1.
    double value(int setting) { return (*this)[setting].at(0).at(0).toDouble(); }

private:
    std::array<std::unique_ptr<QSignalSpy>, settingCount> spies;
};

double instrumentValue(const sim::Instrument &instrument, int setting) {
    switch (setting) {
    case Frequency:
        return instrument.frequency();
    case Amplitude:
        return instrument.amplitude();
    case Attenuation:
        return instrument.attenuation();
    case Output:
        return instrument.output() ? 1 : 0;
    default:
        return instrument.fmPeriod();
    }
}

void changeOnInstrument(sim::Instrument &instrument, int setting, double value) {
    switch (setting) {
    case Frequency:
        return instrument.setFrequency(value);
    case Amplitude:
        return instrument.setAmplitude(value);
    case Attenuation:
        return instrument.setAttenuation(value);
    case Output:
        return instrument.setOutput(value != 0);
    default:
        return instrument.setFmPeriod(value);
    }
}

// The panel's way of changing a setting; value receives what was applied.
bool setFromPanel(Generator &driver, int setting, double &value) {
    switch (setting) {
    case Frequency:
        return driver.setFrequency(value);
    case Amplitude:
        return driver.setAmplitude(value);
    case Attenuation:
        return driver.setAttenuation(value);
    case Output:
        return driver.setState(value != 0);
    default: {
        double start = 30e6, stop = 40e6, step = 10e3;
        return driver.startFm(start, stop, step, value);
    }
    }
}

// PYLAR reports its level in dBm with 0.01 dB resolution; volts convert back
// within a fraction of a millivolt.
bool sameValue(int setting, double reported, double expected) {
    const double tolerance = setting == Amplitude ? 1e-4 : 1e-9;
    return std::abs(reported - expected) <= tolerance * std::max(1.0, std::abs(expected));
}

// An instrument on the testbed and a driver for it. The instrument outlives
// the testbed's I/O thread, the testbed outlives the driver's port.
struct Rig {
    sim::Instrument instrument;
    sim::Testbed testbed;
    int device = -1;
    std::unique_ptr<Generator> driver;

    explicit Rig(int model) : instrument(model), driver(makeDriver(model)) {
        if (testbed.isValid())
            device = testbed.addDevice(instrument.usbIdentity(), &instrument);
    }
    bool isReady() const { return device >= 0; }
    QString portName() const { return testbed.portName(device); }
    void connectDriver() {
        QSerialPortInfo port = findPort(portName());
        ::connectDriver(*driver, port);
    }
};

// Log messages of the I/O category, captured by a message handler.
QStringList ioMessages;
QtMessageHandler previousHandler = nullptr;

void captureIoMessages(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (context.category && QLatin1String(context.category) == QLatin1String("rfgen.io"))
        ioMessages.append(text);
    else if (previousHandler)
        previousHandler(type, context, text);
}

} // namespace

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void autosearch_data();
    void autosearch();
    void determineModel_data();
    void determineModel();
    void autosearchBesideSilentPortsIsBounded();
    void availablePortsSortedAndStable();

    void linkLossIsReportedOnce_data();
    void linkLossIsReportedOnce();
    void failedConnectReportsAfterReturning_data();
    void failedConnectReportsAfterReturning();
    void failedConnectDoesNotReportOverLaterLink();

    void firstPollReportsEveryValue_data();
    void firstPollReportsEveryValue();
    void instrumentChangeIsReportedOnce_data();
    void instrumentChangeIsReportedOnce();
    void panelSetIsNotReported_data();
    void panelSetIsNotReported();

    void verboseLogsSetsButNotPolls_data();
    void verboseLogsSetsButNotPolls();

private:
    // Adds one device per entry of kinds (model codes, silentPort, garbagePort).
    void addDevices(sim::Testbed &testbed, const QList<int> &kinds,
                    std::vector<std::unique_ptr<sim::Instrument>> &instruments, QStringList &names);
};

void TestLink::initTestCase() {
    sim::Testbed testbed;
    QVERIFY2(testbed.isValid(), qPrintable(testbed.errorString()));
    // Numbers must cross the link in the C locale even where the user's
    // locale writes a decimal comma: make sure that case is really exercised.
    if (qgetenv("LC_ALL").startsWith("ru_RU"))
        QCOMPARE(*std::localeconv()->decimal_point, ',');
}

void TestLink::addDevices(sim::Testbed &testbed, const QList<int> &kinds,
                          std::vector<std::unique_ptr<sim::Instrument>> &instruments,
                          QStringList &names) {
    for (int kind : kinds) {
        sim::Instrument *responder = nullptr;
        sim::UsbIdentity identity = sim::Instrument::usbIdentityFor(rfgen::OrvexModel, "X");
        if (kind != silentPort) {
            const int model = kind == garbagePort ? rfgen::OrvexModel : kind;
            const QString serial = QStringLiteral("SIM%1").arg(instruments.size());
            instruments.push_back(std::make_unique<sim::Instrument>(model, serial));
            responder = instruments.back().get();
            responder->setGarbage(kind == garbagePort);
            identity = responder->usbIdentity();
        }
        const int device = testbed.addDevice(identity, responder);
        QVERIFY2(device >= 0, qPrintable(testbed.errorString()));
        names.append(testbed.portName(device));
    }
}

void TestLink::autosearch_data() {
    QTest::addColumn<QList<int>>("devices");
    QTest::addColumn<int>("expectedCount");
    QTest::addColumn<int>("expectedModel");
    // Index into devices of the instrument to be found, -1 for none.
    QTest::addColumn<int>("foundIndex");

    using namespace rfgen;
    QTest::newRow("orvex alone") << QList<int>{OrvexModel} << 1 << int(OrvexModel) << 0;
    QTest::newRow("pylar beside a silent port")
        << QList<int>{silentPort, PylarModel} << 1 << int(PylarModel) << 1;
    QTest::newRow("quendt beside noise")
        << QList<int>{QuendtModel, garbagePort} << 1 << int(QuendtModel) << 0;
    QTest::newRow("two instruments")
        << QList<int>{OrvexModel, silentPort, PylarModel} << 2 << -1 << -1;
    QTest::newRow("three instruments")
        << QList<int>{silentPort, QuendtModel, PylarModel, OrvexModel} << 3 << -1 << -1;
    QTest::newRow("silent and noisy ports") << QList<int>{silentPort, garbagePort} << 0 << -1 << -1;
    QTest::newRow("no ports at all") << QList<int>{} << 0 << -1 << -1;
}

void TestLink::autosearch() {
    QFETCH(QList<int>, devices);
    QFETCH(int, expectedCount);
    QFETCH(int, expectedModel);
    QFETCH(int, foundIndex);
    sim::Testbed testbed;
    std::vector<std::unique_ptr<sim::Instrument>> instruments;
    QStringList names;
    addDevices(testbed, devices, instruments, names);
    if (QTest::currentTestFailed())
        return;

    // The caller's port stays when the choice is not unique.
    const QSerialPortInfo given = names.isEmpty() ? QSerialPortInfo() : findPort(names.first());
    QSerialPortInfo port = given;
    int model = 99;
    QCOMPARE(Searcher::autosearch(port, model), expectedCount);
    QCOMPARE(model, expectedModel);
    if (foundIndex >= 0)
        QCOMPARE(port.portName(), names.at(foundIndex));
    else if (expectedCount > 1)
        QCOMPARE(port.portName(), given.portName());
}

void TestLink::determineModel_data() {
    QTest::addColumn<int>("device"); // a model code, silentPort, garbagePort
    QTest::addColumn<int>("expectedModel");

    using namespace rfgen;
    QTest::newRow("orvex") << int(OrvexModel) << int(OrvexModel);
    QTest::newRow("pylar") << int(PylarModel) << int(PylarModel);
    QTest::newRow("quendt") << int(QuendtModel) << int(QuendtModel);
    QTest::newRow("silent port") << silentPort << -1;
    QTest::newRow("noisy port") << garbagePort << -1;
}

void TestLink::determineModel() {
    QFETCH(int, device);
    QFETCH(int, expectedModel);
    sim::Testbed testbed;
    std::vector<std::unique_ptr<sim::Instrument>> instruments;
    QStringList names;
    addDevices(testbed, {device}, instruments, names);
    if (QTest::currentTestFailed())
        return;

    int model = 99;
    QElapsedTimer timer;
    timer.start();
    const bool recognised = Searcher::determineModel(findPort(names.first()), model);
    const qint64 elapsedMs = timer.elapsed();
    QCOMPARE(model, expectedModel);
    QCOMPARE(recognised, expectedModel != -1);
    // A silent port gives up after the probe's bound, not a long timeout.
    QVERIFY2(elapsedMs < 400, qPrintable(QString::number(elapsedMs)));
}

void TestLink::autosearchBesideSilentPortsIsBounded() {
    sim::Testbed testbed;
    std::vector<std::unique_ptr<sim::Instrument>> instruments;
    QStringList names;
    QList<int> devices = repeated(silentPort, 8);
    devices.append(rfgen::QuendtModel);
    addDevices(testbed, devices, instruments, names);
    if (QTest::currentTestFailed())
        return;

    QSerialPortInfo port;
    int model = -1;
    QElapsedTimer timer;
    timer.start();
    const int found = Searcher::autosearch(port, model);
    const qint64 elapsedMs = timer.elapsed();
    QCOMPARE(found, 1);
    QCOMPARE(model, int(rfgen::QuendtModel));
    QCOMPARE(port.portName(), names.last());
    // The probes run at once with a 150 ms bound; 400 ms leaves room for a
    // busy machine but not for probing the ports one after another.
    QVERIFY2(elapsedMs < 400, qPrintable(QStringLiteral("%1 ms").arg(elapsedMs)));
}

void TestLink::availablePortsSortedAndStable() {
    sim::Testbed testbed;
    std::vector<std::unique_ptr<sim::Instrument>> instruments;
    QStringList names;
    // Twelve nodes: ttyACM10 and ttyACM11 sort before ttyACM2.
    addDevices(testbed, repeated(silentPort, 12), instruments, names);
    if (QTest::currentTestFailed())
        return;
    testbed.unplug(3);
    testbed.replug(3);
    names[3] = testbed.portName(3);

    const auto portNames = [](const QList<QSerialPortInfo> &ports) {
        QStringList result;
        for (const QSerialPortInfo &info : ports)
            result.append(info.portName());
        return result;
    };
    const QStringList first = portNames(Generator::getAvailablePorts());
    QStringList expected = names;
    expected.sort();
    QCOMPARE(first, expected);
    for (int call = 0; call < 5; ++call)
        QCOMPARE(portNames(Generator::getAvailablePorts()), first);
}

void TestLink::linkLossIsReportedOnce_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("loss");
    // A port error is acted on at once; missed polls take two poll intervals.
    QTest::addColumn<int>("noticeWithinMs");

    using namespace rfgen;
    QTest::newRow("orvex unplugged") << int(OrvexModel) << int(Unplug) << 1000;
    QTest::newRow("orvex silent") << int(OrvexModel) << int(Silence) << lossTimeoutMs;
    QTest::newRow("orvex noisy") << int(OrvexModel) << int(Garbage) << lossTimeoutMs;
    QTest::newRow("pylar unplugged") << int(PylarModel) << int(Unplug) << 1000;
    QTest::newRow("pylar silent") << int(PylarModel) << int(Silence) << lossTimeoutMs;
    QTest::newRow("quendt noisy") << int(QuendtModel) << int(Garbage) << lossTimeoutMs;
}

void TestLink::linkLossIsReportedOnce() {
    QFETCH(int, model);
    QFETCH(int, loss);
    QFETCH(int, noticeWithinMs);
    Rig rig(model);
    QVERIFY2(rig.isReady(), qPrintable(rig.testbed.errorString()));
    ReportSpies reports(*rig.driver);
    QSignalSpy disconnected(rig.driver.get(), &Generator::disconnected);
    rig.connectDriver();
    QVERIFY(QTest::qWaitFor([&] { return reports.allReported(); }, reportTimeoutMs));
    QVERIFY(rig.driver->isConnected());

    const int pollsBefore = pollCount(rig.instrument);
    switch (loss) {
    case Unplug:
        rig.testbed.unplug(rig.device);
        break;
    case Silence:
        rig.instrument.setSilent(true);
        break;
    default:
        rig.instrument.setGarbage(true);
    }
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, noticeWithinMs);
    QVERIFY(!rig.driver->isConnected());
    // One unanswered poll is not yet a lost link.
    if (loss != Unplug)
        QVERIFY(pollCount(rig.instrument) - pollsBefore >= 2);

    // After a hang-up the port keeps signalling until it is closed: a driver
    // that does not close it spins a core.
    const int linesBefore = rig.instrument.receivedLines().size();
    const double cpuBefore = cpuSeconds();
    QTest::qWait(1000);
    const double cpuUsed = cpuSeconds() - cpuBefore;
    QVERIFY2(cpuUsed < 0.3, qPrintable(QStringLiteral("%1 s of CPU in 1 s").arg(cpuUsed)));
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!rig.driver->isConnected());
    QCOMPARE(rig.instrument.receivedLines().size(), linesBefore);

    // The driver let go of a port that is still there.
    if (loss != Unplug) {
        QSerialPort port(findPort(rig.portName()));
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    }
}

void TestLink::failedConnectReportsAfterReturning_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("removed"); // a port that was there; else one never seen

    using namespace rfgen;
    QTest::newRow("orvex, unknown port") << int(OrvexModel) << false;
    QTest::newRow("pylar, unknown port") << int(PylarModel) << false;
    QTest::newRow("quendt, unknown port") << int(QuendtModel) << false;
    QTest::newRow("orvex, removed port") << int(OrvexModel) << true;
    QTest::newRow("pylar, removed port") << int(PylarModel) << true;
}

void TestLink::failedConnectReportsAfterReturning() {
    QFETCH(int, model);
    QFETCH(bool, removed);
    Rig rig(model);
    QVERIFY2(rig.isReady(), qPrintable(rig.testbed.errorString()));
    QSerialPortInfo port = QSerialPortInfo(QStringLiteral("ttyRFGEN-no-such-port"));
    if (removed) {
        port = findPort(rig.portName());
        QCOMPARE(port.portName(), rig.portName());
        rig.testbed.unplug(rig.device);
    }
    QSignalSpy errors(rig.driver.get(), &Generator::error);
    QSignalSpy disconnected(rig.driver.get(), &Generator::disconnected);

    connectDriver(*rig.driver, port);
    QVERIFY(errors.isEmpty());
    QVERIFY(disconnected.isEmpty());

    QTRY_COMPARE(disconnected.count(), 1);
    QCOMPARE(errors.count(), 1);
    QVERIFY(!errors.at(0).at(0).toString().isEmpty());
    QVERIFY(!rig.driver->isConnected());
    QTest::qWait(300);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(disconnected.count(), 1);
}

// A failed attempt that is followed at once by a good one must not report its
// failure over the link that now works.
void TestLink::failedConnectDoesNotReportOverLaterLink() {
    Rig rig(rfgen::OrvexModel);
    QVERIFY2(rig.isReady(), qPrintable(rig.testbed.errorString()));
    QSignalSpy disconnected(rig.driver.get(), &Generator::disconnected);
    QSignalSpy firstPoll(rig.driver.get(), &Generator::newFrequency);
    QSerialPortInfo missing(QStringLiteral("ttyRFGEN-no-such-port"));
    connectDriver(*rig.driver, missing);
    rig.connectDriver();
    QVERIFY(firstPoll.wait(reportTimeoutMs));
    QTest::qWait(200);
    QCOMPARE(disconnected.count(), 0);
    QVERIFY(rig.driver->isConnected());
}

void TestLink::firstPollReportsEveryValue_data() {
    QTest::addColumn<int>("model");
    QTest::newRow("orvex") << int(rfgen::OrvexModel);
    QTest::newRow("pylar") << int(rfgen::PylarModel);
    QTest::newRow("quendt") << int(rfgen::QuendtModel);
}

void TestLink::firstPollReportsEveryValue() {
    QFETCH(int, model);
    Rig rig(model);
    QVERIFY2(rig.isReady(), qPrintable(rig.testbed.errorString()));
    // Not the power-on values, so a report of defaults would show.
    rig.instrument.setFrequency(433.92e6);
    rig.instrument.setAmplitude(0.25);
    rig.instrument.setAttenuation(12.5);
    rig.instrument.setOutput(true);
    rig.instrument.setFmPeriod(0.02);
    ReportSpies reports(*rig.driver);
    rig.connectDriver();

    QVERIFY(QTest::qWaitFor([&] { return reports.allReported(); }, reportTimeoutMs));
    // A later poll finds nothing new.
    QVERIFY(waitForPolls(rig.instrument, 1));
    for (int setting = 0; setting < settingCount; ++setting) {
        QCOMPARE(reports[setting].count(), 1);
        const double reported = reports.value(setting);
        const double expected = instrumentValue(rig.instrument, setting);
        QVERIFY2(sameValue(setting, reported, expected),
                 qPrintable(QStringLiteral("setting %1: reported %2, instrument holds %3")
                                .arg(setting)
                                .arg(reported, 0, 'g', 12)
                                .arg(expected, 0, 'g', 12)));
    }
}

void TestLink::instrumentChangeIsReportedOnce_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("setting");
    QTest::addColumn<double>("value");

    using namespace rfgen;
    QTest::newRow("orvex frequency") << int(OrvexModel) << int(Frequency) << 2.45e9;
    QTest::newRow("pylar frequency") << int(PylarModel) << int(Frequency) << 12.345e6;
    QTest::newRow("orvex amplitude") << int(OrvexModel) << int(Amplitude) << 0.707;
    QTest::newRow("pylar amplitude") << int(PylarModel) << int(Amplitude) << 0.3;
    QTest::newRow("quendt attenuation") << int(QuendtModel) << int(Attenuation) << 42.7;
    QTest::newRow("orvex output") << int(OrvexModel) << int(Output) << 1.0;
    QTest::newRow("pylar fm period") << int(PylarModel) << int(FmPeriod) << 0.125;
}

void TestLink::instrumentChangeIsReportedOnce() {
    QFETCH(int, model);
    QFETCH(int, setting);
    QFETCH(double, value);
    Rig rig(model);
    QVERIFY2(rig.isReady(), qPrintable(rig.testbed.errorString()));
    ReportSpies reports(*rig.driver);
    rig.connectDriver();
    QVERIFY(QTest::qWaitFor([&] { return reports.allReported(); }, reportTimeoutMs));
    reports.clear();

    changeOnInstrument(rig.instrument, setting, value);
    QTRY_COMPARE_WITH_TIMEOUT(reports[setting].count(), 1, reportTimeoutMs);
    QVERIFY(sameValue(setting, reports.value(setting), instrumentValue(rig.instrument, setting)));
    // Unchanged values stay quiet, and the change is not reported again.
    QVERIFY(waitForPolls(rig.instrument, 1));
    for (int other = 0; other < settingCount; ++other)
        QCOMPARE(reports[other].count(), other == setting ? 1 : 0);
}

void TestLink::panelSetIsNotReported_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("setting");
    QTest::addColumn<double>("value");

    using namespace rfgen;
    QTest::newRow("orvex frequency") << int(OrvexModel) << int(Frequency) << 150.01e6;
    QTest::newRow("pylar amplitude") << int(PylarModel) << int(Amplitude) << 0.2;
    QTest::newRow("quendt amplitude") << int(QuendtModel) << int(Amplitude) << 1.5;
    QTest::newRow("orvex attenuation") << int(OrvexModel) << int(Attenuation) << 10.5;
    QTest::newRow("pylar output") << int(PylarModel) << int(Output) << 1.0;
    QTest::newRow("quendt fm period") << int(QuendtModel) << int(FmPeriod) << 0.01;
}

void TestLink::panelSetIsNotReported() {
    QFETCH(int, model);
    QFETCH(int, setting);
    QFETCH(double, value);
    Rig rig(model);
    QVERIFY2(rig.isReady(), qPrintable(rig.testbed.errorString()));
    ReportSpies reports(*rig.driver);
    rig.connectDriver();
    QVERIFY(QTest::qWaitFor([&] { return reports.allReported(); }, reportTimeoutMs));
    const double before = instrumentValue(rig.instrument, setting);
    reports.clear();

    QVERIFY(setFromPanel(*rig.driver, setting, value));
    const double now = instrumentValue(rig.instrument, setting);
    QVERIFY(!sameValue(setting, now, before)); // the instrument really changed
    QVERIFY(waitForPolls(rig.instrument, 2));
    for (int any = 0; any < settingCount; ++any)
        QCOMPARE(reports[any].count(), 0);
}

void TestLink::verboseLogsSetsButNotPolls_data() {
    QTest::addColumn<bool>("verbose");
    QTest::newRow("verbose") << true;
    QTest::newRow("quiet") << false;
}

void TestLink::verboseLogsSetsButNotPolls() {
    QFETCH(bool, verbose);
    Rig rig(rfgen::OrvexModel);
    QVERIFY2(rig.isReady(), qPrintable(rig.testbed.errorString()));
    ReportSpies reports(*rig.driver);
    rig.connectDriver();
    QVERIFY(QTest::qWaitFor([&] { return reports.allReported(); }, reportTimeoutMs));
    rig.driver->enableVerbose(verbose);
    QCOMPARE(rig.driver->isVerbose(), verbose);

    ioMessages.clear();
    previousHandler = qInstallMessageHandler(captureIoMessages);
    double hz = 123.45e6;
    const bool set = rig.driver->setFrequency(hz);
    const bool polled = waitForPolls(rig.instrument, 1);
    qInstallMessageHandler(previousHandler);
    const QStringList messages = ioMessages;
    QVERIFY(set);
    QVERIFY(polled);

    for (const QString &message : messages)
        QVERIFY2(!message.contains(QLatin1String("FREQ?;")), qPrintable(message));
    if (!verbose) {
        QCOMPARE(messages, QStringList());
        return;
    }
    // The command and its reply, nothing from the poll.
    QCOMPARE(messages.size(), 2);
    QVERIFY2(messages.at(0).contains(QLatin1String("FREQ 123450000;FREQ?")),
             qPrintable(messages.at(0)));
    QVERIFY2(messages.at(1).contains(QLatin1String("123450000")) &&
                 !messages.at(1).contains(QLatin1String("FREQ")),
             qPrintable(messages.at(1)));
}

QTEST_GUILESS_MAIN(TestLink)

#include "tst_link.moc"
