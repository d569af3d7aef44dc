#include "testbed.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>
#include <memory>

namespace {

// Answers each line it receives with the line behind a prefix.
class LineResponder : public sim::Responder {
public:
    explicit LineResponder(const QByteArray &prefix) : prefix(prefix) {}

    QByteArray receive(const QByteArray &bytes) override {
        QMutexLocker lock(&mutex);
        pending += bytes;
        QByteArray reply;
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            lines.append(line);
            reply += answer(line);
        }
        return reply;
    }

    QByteArray answer(const QByteArray &line) const { return prefix + line + '\n'; }

    QList<QByteArray> receivedLines() const {
        QMutexLocker lock(&mutex);
        return lines;
    }

private:
    const QByteArray prefix;
    mutable QMutex mutex;
    QByteArray pending;
    QList<QByteArray> lines;
};

sim::UsbIdentity identity(quint16 productId, const QString &manufacturer, const QString &product,
                          const QString &serial) {
    sim::UsbIdentity id;
    id.productId = productId;
    id.manufacturer = manufacturer;
    id.product = product;
    id.serial = serial;
    return id;
}

sim::UsbIdentity orvexIdentity(const QString &serial = QStringLiteral("OX-17")) {
    return identity(0x0001, QStringLiteral("Orvex Instruments"), QStringLiteral("ORVEX generator"),
                    serial);
}

bool isListed(const QString &portName) {
    const auto ports = QSerialPortInfo::availablePorts();
    return std::any_of(ports.begin(), ports.end(),
                       [&](const QSerialPortInfo &info) { return info.portName() == portName; });
}

QSerialPortInfo findPort(const QString &portName) {
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (info.portName() == portName)
            return info;
    return QSerialPortInfo();
}

// Opens like the device library does: 115200 8N1, no flow control.
std::unique_ptr<QSerialPort> openPort(const QString &portName) {
    auto port = std::make_unique<QSerialPort>(portName);
    port->setBaudRate(QSerialPort::Baud115200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite)) {
        qWarning("cannot open %s: %s", qPrintable(portName), qPrintable(port->errorString()));
        return nullptr;
    }
    return port;
}

// Everything up to and including the next LF, or what arrived before timeout.
QByteArray readLine(QSerialPort &port, int timeoutMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!port.canReadLine() && timer.elapsed() < timeoutMs)
        port.waitForReadyRead(int(timeoutMs - timer.elapsed()));
    return port.canReadLine() ? port.readLine() : port.readAll();
}

// What a pulled USB adapter looks like to QSerialPort.
bool hungUp(const QSerialPort &port) {
    return port.error() == QSerialPort::ReadError || port.error() == QSerialPort::ResourceError;
}

bool writeAll(QSerialPort &port, const QByteArray &bytes) {
    return port.write(bytes) == bytes.size() && port.waitForBytesWritten(3000);
}

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

const char *probeVariable = "TST_TESTBED_REPORT_VALIDITY";

} // namespace

class TestTestbed : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void invalidWithoutPreload();
    void listsUsbIdentity_data();
    void listsUsbIdentity();
    void exchangesLines_data();
    void exchangesLines();
    void servesTwoDevicesAtOnce();
    void silentPortSendsNothing();
    void reopenAfterHostClosed();
    void unplugHangsUpAndRemovesNode();
    void replugGivesNewWorkingNode();
    void replugAfterOtherDevicesWereAdded();
    void idleDevicesDoNotSpin();
    void launcherExitStatus_data();
    void launcherExitStatus();
    void launcherServesGenerators();
    void launcherControlChannel();

private:
    void startLauncher(QProcess &launcher, const QStringList &arguments);
};

void TestTestbed::initTestCase() {
    sim::Testbed testbed;
    QVERIFY2(testbed.isValid(), qPrintable(testbed.errorString()));
}

void TestTestbed::invalidWithoutPreload() {
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LD_PRELOAD"));
    env.insert(QString::fromLatin1(probeVariable), QStringLiteral("1"));
    probe.setProcessEnvironment(env);
    probe.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(probe.waitForFinished(10000));
    const QByteArray output = probe.readAllStandardOutput();
    QCOMPARE(probe.exitCode(), 0);
    QVERIFY2(output.startsWith("invalid: "), output.constData());
    QVERIFY2(output.contains("umockdev-wrapper"), output.constData());
}

void TestTestbed::listsUsbIdentity_data() {
    QTest::addColumn<quint16>("productId");
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("serial");
    QTest::newRow("orvex") << quint16(0x0001) << "Orvex Instruments"
                           << "ORVEX generator"
                           << "OX-0001";
    QTest::newRow("pylar") << quint16(0x0002) << "Pylar Lab"
                           << "PYLAR generator"
                           << "PY.42";
    QTest::newRow("quendt") << quint16(0x0003) << "Quendt Messtechnik"
                            << "QUENDT generator"
                            << "Q9";
}

void TestTestbed::listsUsbIdentity() {
    QFETCH(quint16, productId);
    QFETCH(QString, manufacturer);
    QFETCH(QString, product);
    QFETCH(QString, serial);
    LineResponder responder("");
    sim::Testbed testbed;
    const int device =
        testbed.addDevice(identity(productId, manufacturer, product, serial), &responder);
    QVERIFY2(device >= 0, qPrintable(testbed.errorString()));
    const QString portName = testbed.portName(device);
    QVERIFY(portName.startsWith(QLatin1String("ttyACM")));

    const QSerialPortInfo info = findPort(portName);
    QCOMPARE(info.portName(), portName);
    QCOMPARE(info.systemLocation(), QStringLiteral("/dev/") + portName);
    QVERIFY(info.hasVendorIdentifier());
    QCOMPARE(info.vendorIdentifier(), quint16(0x1209));
    QVERIFY(info.hasProductIdentifier());
    QCOMPARE(info.productIdentifier(), productId);
    QCOMPARE(info.manufacturer(), manufacturer);
    QCOMPARE(info.description(), product);
    QCOMPARE(info.serialNumber(), serial);
}

void TestTestbed::exchangesLines_data() {
    QTest::addColumn<QByteArrayList>("lines");
    QTest::newRow("one query") << QByteArrayList{"*IDN?"};
    QTest::newRow("several lines") << QByteArrayList{"FREQ 1e6;FREQ?", "OUTP?", "ATT?"};
    QTest::newRow("long line") << QByteArrayList{QByteArray(250, 'x')};
    QTest::newRow("empty line") << QByteArrayList{""};
}

void TestTestbed::exchangesLines() {
    QFETCH(QByteArrayList, lines);
    LineResponder responder("echo:");
    sim::Testbed testbed;
    const int device = testbed.addDevice(orvexIdentity(), &responder);
    QVERIFY(device >= 0);
    auto port = openPort(testbed.portName(device));
    QVERIFY(port);
    for (const QByteArray &line : lines) {
        QVERIFY(writeAll(*port, line + '\n'));
        QCOMPARE(readLine(*port), responder.answer(line));
    }
    QCOMPARE(responder.receivedLines(), QList<QByteArray>(lines));
}

void TestTestbed::servesTwoDevicesAtOnce() {
    LineResponder first("first:");
    LineResponder second("second:");
    sim::Testbed testbed;
    const int a = testbed.addDevice(orvexIdentity(QStringLiteral("A1")), &first);
    const int b = testbed.addDevice(orvexIdentity(QStringLiteral("B2")), &second);
    QVERIFY(a >= 0 && b >= 0);
    QVERIFY(testbed.portName(a) != testbed.portName(b));
    QVERIFY(isListed(testbed.portName(a)));
    QVERIFY(isListed(testbed.portName(b)));

    auto portA = openPort(testbed.portName(a));
    auto portB = openPort(testbed.portName(b));
    QVERIFY(portA && portB);
    QVERIFY(writeAll(*portA, "*IDN?\n"));
    QVERIFY(writeAll(*portB, "FREQ?\n"));
    QCOMPARE(readLine(*portB), second.answer("FREQ?"));
    QCOMPARE(readLine(*portA), first.answer("*IDN?"));
}

void TestTestbed::silentPortSendsNothing() {
    sim::Testbed testbed;
    const int device = testbed.addDevice(orvexIdentity(), nullptr);
    QVERIFY(device >= 0);
    QVERIFY(isListed(testbed.portName(device)));
    auto port = openPort(testbed.portName(device));
    QVERIFY(port);
    QVERIFY(writeAll(*port, "*IDN?\n"));
    QVERIFY(!port->waitForReadyRead(300));
    QCOMPARE(port->bytesAvailable(), qint64(0));
}

void TestTestbed::reopenAfterHostClosed() {
    LineResponder responder("r:");
    sim::Testbed testbed;
    const int device = testbed.addDevice(orvexIdentity(), &responder);
    for (int round = 0; round < 3; ++round) {
        auto port = openPort(testbed.portName(device));
        QVERIFY(port);
        const QByteArray line = "round " + QByteArray::number(round);
        QVERIFY(writeAll(*port, line + '\n'));
        QCOMPARE(readLine(*port), responder.answer(line));
    }
}

void TestTestbed::unplugHangsUpAndRemovesNode() {
    LineResponder responder("r:");
    sim::Testbed testbed;
    const int device = testbed.addDevice(orvexIdentity(), &responder);
    const QString portName = testbed.portName(device);
    auto port = openPort(portName);
    QVERIFY(port);
    QVERIFY(writeAll(*port, "before\n"));
    QCOMPARE(readLine(*port), responder.answer("before"));

    testbed.unplug(device);
    QVERIFY(!testbed.isPlugged(device));
    QTRY_VERIFY_WITH_TIMEOUT(hungUp(*port), 3000);
    QVERIFY(!isListed(portName));
    port->close();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^cannot open")));
    QVERIFY(!openPort(portName));
}

void TestTestbed::replugGivesNewWorkingNode() {
    LineResponder responder("r:");
    sim::Testbed testbed;
    const sim::UsbIdentity id = orvexIdentity(QStringLiteral("RP-5"));
    const int device = testbed.addDevice(id, &responder);
    const QString oldName = testbed.portName(device);
    {
        auto port = openPort(oldName);
        QVERIFY(port);
        testbed.unplug(device);
        QTRY_VERIFY(hungUp(*port));
    }
    testbed.replug(device);
    QVERIFY(testbed.isPlugged(device));
    const QString newName = testbed.portName(device);
    QVERIFY(newName != oldName);
    QVERIFY(!isListed(oldName));
    const QSerialPortInfo info = findPort(newName);
    QCOMPARE(info.portName(), newName);
    QCOMPARE(info.serialNumber(), id.serial);
    QCOMPARE(info.manufacturer(), id.manufacturer);

    auto port = openPort(newName);
    QVERIFY(port);
    QVERIFY(writeAll(*port, "after\n"));
    QCOMPARE(readLine(*port), responder.answer("after"));
}

// Unplugging frees the pty number; a device added later may get it again.
void TestTestbed::replugAfterOtherDevicesWereAdded() {
    QList<std::shared_ptr<LineResponder>> responders;
    sim::Testbed testbed;
    QList<int> devices;
    auto add = [&] {
        responders.append(
            std::make_shared<LineResponder>(QByteArray::number(devices.size()) + ':'));
        devices.append(testbed.addDevice(orvexIdentity(), responders.last().get()));
    };
    add();
    add();
    testbed.unplug(devices[0]);
    add();
    testbed.replug(devices[0]);
    testbed.unplug(devices[1]);
    add();
    testbed.replug(devices[1]);
    testbed.unplug(devices[2]);
    testbed.replug(devices[2]);

    QSet<QString> names;
    for (int i = 0; i < devices.size(); ++i) {
        QVERIFY(devices[i] >= 0);
        const QString name = testbed.portName(devices[i]);
        names.insert(name);
        QVERIFY2(isListed(name), qPrintable(name));
        auto port = openPort(name);
        QVERIFY2(port, qPrintable(name));
        QVERIFY(writeAll(*port, "ping\n"));
        QCOMPARE(readLine(*port), responders[i]->answer("ping"));
    }
    QCOMPARE(names.size(), devices.size());
}

// Ports nobody has open and unplugged ones must not keep the I/O thread busy.
void TestTestbed::idleDevicesDoNotSpin() {
    LineResponder responder("r:");
    sim::Testbed testbed;
    for (int i = 0; i < 4; ++i)
        testbed.addDevice(orvexIdentity(), i % 2 ? nullptr : &responder);
    {
        auto port = openPort(testbed.portName(0));
        QVERIFY(port);
        testbed.unplug(0);
        QTRY_VERIFY(hungUp(*port));
    }
    const double cpuBefore = processCpuSeconds();
    QTest::qSleep(1000);
    const double cpuUsed = processCpuSeconds() - cpuBefore;
    QVERIFY2(cpuUsed < 0.2, qPrintable(QString::number(cpuUsed)));
}

// The launcher is started without the preload, so it has to restart itself
// under umockdev-wrapper.
void TestTestbed::startLauncher(QProcess &launcher, const QStringList &arguments) {
#ifdef RFGEN_TESTBED_PATH
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LD_PRELOAD"));
    env.remove(QStringLiteral("UMOCKDEV_DIR"));
    launcher.setProcessEnvironment(env);
    launcher.start(QStringLiteral(RFGEN_TESTBED_PATH), arguments);
    QVERIFY2(launcher.waitForStarted(), qPrintable(launcher.errorString()));
#else
    Q_UNUSED(launcher)
    Q_UNUSED(arguments)
    QSKIP("rfgen-testbed is not built");
#endif
}

void TestTestbed::launcherExitStatus_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    const QString sh = QStringLiteral("sh");
    const QString c = QStringLiteral("-c");
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("unknown option") << QStringList{"--bogus", "--", "true"} << 2;
    QTest::newRow("unknown model") << QStringList{"--model", "zeta", "--", "true"} << 2;
    QTest::newRow("bad silent count") << QStringList{"--silent", "x", "--", "true"} << 2;
    QTest::newRow("no command") << QStringList{"--model", "orvex"} << 2;
    QTest::newRow("command status") << QStringList{"--model", "orvex", "--", sh, c, "exit 7"} << 7;
    QTest::newRow("command killed")
        << QStringList{"--silent", "1", "--", sh, c, "kill -TERM $$"} << 128 + SIGTERM;
    QTest::newRow("command missing")
        << QStringList{"--model", "pylar", "--", "/nonexistent/command"} << 1;
}

void TestTestbed::launcherExitStatus() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QProcess launcher;
    startLauncher(launcher, arguments);
    QVERIFY(launcher.waitForFinished(20000));
    QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher.exitCode(), exitCode);
}

// Each generator answers *IDN? on its own port, with its maker first.
void TestTestbed::launcherServesGenerators() {
    const QString script = QStringLiteral(
        "for port in $RFGEN_TESTBED_PORTS; do"
        "  stty -F /dev/$port raw -echo && exec 3<>/dev/$port && printf '*IDN?\\n' >&3 &&"
        "  head -n1 <&3 && exec 3<&-; done");
    QProcess launcher;
    startLauncher(launcher, {"--model", "orvex", "--model", "quendt", "--model", "pylar", "--",
                             "sh", "-c", script});
    QVERIFY(launcher.waitForFinished(20000));
    QCOMPARE(launcher.exitCode(), 0);
    const QList<QByteArray> replies = launcher.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(replies.size(), 3);
    QVERIFY2(replies[0].startsWith("ORVEX,"), replies[0].constData());
    QVERIFY2(replies[1].startsWith("QUENDT,"), replies[1].constData());
    QVERIFY2(replies[2].startsWith("PYLAR,"), replies[2].constData());
    QVERIFY(replies[0].split(',').value(2) != replies[1].split(',').value(2));
}

void TestTestbed::launcherControlChannel() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString socketPath = dir.filePath(QStringLiteral("control"));
    QProcess launcher;
    startLauncher(launcher, {"--model", "orvex", "--silent", "1", "--control", socketPath, "--",
                             "sleep", "60"});
    QLocalSocket control;
    auto connected = [&] {
        control.abort(); // the launcher may not listen yet
        control.connectToServer(socketPath);
        return control.waitForConnected(100);
    };
    QTRY_VERIFY_WITH_TIMEOUT(connected(), 10000);
    auto ask = [&](const QByteArray &line) {
        control.write(line + '\n');
        control.waitForBytesWritten(3000);
        while (!control.canReadLine() && control.waitForReadyRead(3000)) {
        }
        return control.readLine().trimmed();
    };
    QCOMPARE(ask("set 0 FREQ 2.5e9"), QByteArray("ok"));
    QCOMPARE(ask("get 0 FREQ?"), QByteArray("ok 2500000000"));
    const QByteArray silentPort = ask("port 1");
    QVERIFY2(silentPort.startsWith("ok ttyACM"), silentPort.constData());
    QCOMPARE(ask("silent 1 on"), QByteArray("error device 1 is a silent port"));
    const QByteArray generatorPort = ask("port 0").mid(3);
    QCOMPARE(ask("unplug 0"), QByteArray("ok"));
    QVERIFY(ask("list").contains("0:" + generatorPort + ":orvex:unplugged"));
    const QByteArray replugged = ask("replug 0");
    QVERIFY2(replugged.startsWith("ok ttyACM"), replugged.constData());
    QVERIFY(replugged != "ok " + generatorPort);
    QVERIFY(ask("frobnicate 0").startsWith("error"));

    ::kill(pid_t(launcher.processId()), SIGTERM);
    QVERIFY(launcher.waitForFinished(10000));
    QCOMPARE(launcher.exitCode(), 128 + SIGTERM);
    QVERIFY(!QFile::exists(socketPath));
}

int main(int argc, char *argv[]) {
    // Run by invalidWithoutPreload(): report whether a testbed can be made.
    if (qEnvironmentVariableIsSet(probeVariable)) {
        sim::Testbed testbed;
        printf("%s: %s\n", testbed.isValid() ? "valid" : "invalid",
               qPrintable(testbed.errorString()));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestTestbed test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_testbed.moc"
