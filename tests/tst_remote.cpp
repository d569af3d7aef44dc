// The remote-control server inside the library: what a client's commands do
// to the driver's signals, and the server's own life cycle.
#include "generator.h"
#include "instrument.h"
#include "testbed.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

class TestRemote : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void reportsAcceptedChanges_data();
    void reportsAcceptedChanges();
    void refusalsAreNotReported();
    void signalsRemoteControl();
    void withoutInstrumentEveryCommandFails();
    void movesToNewPort();
    void reportsPortInUse();
    void ignoresInvalidPorts();
    void stopClosesClients();
    void survivesHandlersThatReenter_data();
    void survivesHandlersThatReenter();
    void silentInstrumentCostsOneWaitPerLine();
    void linesSentBeforeHangingUpAreServed();
    void resetReportsEachChangeOnce();
    void occupiedPortKeepsServerRunning();

private:
    sim::Testbed testbed;
    std::unique_ptr<sim::Instrument> instrument;
    std::unique_ptr<Orvex> driver;
    int tcpPort = 0;

    std::unique_ptr<QTcpSocket> client(int port = 0);
    QByteArray ask(QTcpSocket &socket, const QByteArray &line);
};

static int unusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void TestRemote::initTestCase() {
    QVERIFY2(testbed.isValid(), qPrintable(testbed.errorString()));
    instrument = std::make_unique<sim::Instrument>(0);
    QSerialPortInfo port(
        testbed.portName(testbed.addDevice(instrument->usbIdentity(), instrument.get())));
    driver = std::make_unique<Orvex>();
    QSignalSpy firstPoll(driver.get(), &Generator::newFrequency);
    driver->connect(port);
    QVERIFY(firstPoll.wait(2000));
}

void TestRemote::init() {
    tcpPort = unusedPort();
    driver->setTcpPort(tcpPort);
    driver->startServer();
    QVERIFY(driver->isServerListening());
    instrument->handleLine("*RST");
}

void TestRemote::cleanup() {
    driver->stopServer();
}

std::unique_ptr<QTcpSocket> TestRemote::client(int port) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, quint16(port ? port : tcpPort));
    return socket->waitForConnected(2000) ? std::move(socket) : nullptr;
}

QByteArray TestRemote::ask(QTcpSocket &socket, const QByteArray &line) {
    socket.write(line + '\n');
    QElapsedTimer timer;
    timer.start();
    while (!socket.canReadLine() && timer.elapsed() < 3000)
        QTest::qWait(5); // the server runs on this thread's event loop
    if (!socket.canReadLine())
        return "<no reply>";
    return socket.readLine().trimmed();
}

void TestRemote::reportsAcceptedChanges_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("frequency on grid")
        << QByteArray("FREQ 30004999") << "frequency" << QVariant(30000000.0);
    QTest::newRow("amplitude") << QByteArray("VOLT 0.5") << "amplitude" << QVariant(0.5);
    QTest::newRow("power in dBm") << QByteArray("POW 0") << "amplitude" << QVariant(0.316);
    QTest::newRow("attenuation") << QByteArray("ATT 12.3") << "attenuation" << QVariant(12.5);
    QTest::newRow("output") << QByteArray("OUTP ON") << "state" << QVariant(true);
    QTest::newRow("sweep") << QByteArray("FM:STAR 30e6;FM:STOP 40e6;FM:STEP 1e6;FM:PER 0.02;"
                                         "FM:STAT ON")
                           << "period" << QVariant(0.02);
}

void TestRemote::reportsAcceptedChanges() {
    QFETCH(QByteArray, command);
    QFETCH(QString, signal);
    QFETCH(QVariant, value);
    QSignalSpy frequency(driver.get(), &Generator::newFrequency);
    QSignalSpy amplitude(driver.get(), &Generator::newAmplitude);
    QSignalSpy attenuation(driver.get(), &Generator::newAttenuation);
    QSignalSpy state(driver.get(), &Generator::newState);
    QSignalSpy period(driver.get(), &Generator::newTFm);
    QSignalSpy *spy = signal == "frequency"     ? &frequency
                      : signal == "amplitude"   ? &amplitude
                      : signal == "attenuation" ? &attenuation
                      : signal == "state"       ? &state
                                                : &period;
    auto socket = client();
    QVERIFY(socket);
    QCOMPARE(ask(*socket, command + ";SYST:ERR?"), QByteArray("0,\"No error\""));
    QCOMPARE(spy->count(), 1);
    if (value.type() == QVariant::Bool)
        QCOMPARE(spy->first().at(0).toBool(), value.toBool());
    else
        QVERIFY(std::abs(spy->first().at(0).toDouble() - value.toDouble()) < 1e-3);
}

void TestRemote::refusalsAreNotReported() {
    QSignalSpy frequency(driver.get(), &Generator::newFrequency);
    auto socket = client();
    QVERIFY(socket);
    QCOMPARE(ask(*socket, "FREQ 7e9;SYST:ERR?"), QByteArray("-222,\"Data out of range\""));
    QCOMPARE(frequency.count(), 0);
}

void TestRemote::signalsRemoteControl() {
    QSignalSpy remote(driver.get(), &Generator::netControl);
    auto first = client();
    QVERIFY(remote.wait(2000));
    auto second = client();
    QCOMPARE(ask(*second, "*OPC?"), QByteArray("1"));
    QCOMPARE(remote.count(), 1);
    QCOMPARE(remote.first().at(0).toBool(), true);
    first->disconnectFromHost();
    QTest::qWait(100);
    QCOMPARE(remote.count(), 1); // one client is still there
    second->disconnectFromHost();
    QVERIFY(remote.wait(2000));
    QCOMPARE(remote.last().at(0).toBool(), false);
}

void TestRemote::withoutInstrumentEveryCommandFails() {
    Orvex unbound;
    const int port = unusedPort();
    unbound.setTcpPort(port);
    unbound.startServer();
    auto socket = client(port);
    QVERIFY(socket);
    // A failed query adds no field, but the client still gets its reply line.
    QCOMPARE(ask(*socket, "*IDN?"), QByteArray());
    QCOMPARE(ask(*socket, "FREQ 30e6;SYST:ERR?;SYST:ERR?;SYST:ERR?"),
             QByteArray("-241,\"Hardware missing\";-241,\"Hardware missing\";0,\"No error\""));
}

void TestRemote::movesToNewPort() {
    const int newPort = unusedPort();
    driver->setTcpPort(newPort);
    QCOMPARE(driver->getTcpPort(), newPort);
    driver->startServer();
    QVERIFY(client(newPort));
    QVERIFY(!client(tcpPort));
}

void TestRemote::reportsPortInUse() {
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    Orvex other;
    QSignalSpy errors(&other, &Generator::error);
    other.setTcpPort(occupant.serverPort());
    other.startServer();
    QCOMPARE(errors.count(), 1);
    QVERIFY(!other.isServerListening());
}

void TestRemote::ignoresInvalidPorts() {
    Pylar other;
    QCOMPARE(other.getTcpPort(), 5025);
    other.setTcpPort(0);
    other.setTcpPort(65536);
    other.setTcpPort(-5);
    QCOMPARE(other.getTcpPort(), 5025);
    other.setTcpPort(65535);
    QCOMPARE(other.getTcpPort(), 65535);
}

void TestRemote::stopClosesClients() {
    auto socket = client();
    QVERIFY(socket);
    QCOMPARE(ask(*socket, "*OPC?"), QByteArray("1"));
    driver->stopServer();
    QVERIFY(!driver->isServerListening());
    QTRY_COMPARE(socket->state(), QAbstractSocket::UnconnectedState);
}

void TestRemote::survivesHandlersThatReenter_data() {
    QTest::addColumn<QString>("handler");
    QTest::newRow("error box runs an event loop") << "loop";
    QTest::newRow("report stops the server") << "stop";
}

// A handler of a driver signal may run an event loop (a modal box) or stop
// the server while a client's line is being served; the client may hang up
// meanwhile. None of it may touch a client that is gone.
void TestRemote::survivesHandlersThatReenter() {
    QFETCH(QString, handler);
    QMetaObject::Connection hook;
    if (handler == "loop") {
        instrument->setSilent(true);
        hook = connect(driver.get(), &Generator::error, this, [] {
            QEventLoop loop;
            QTimer::singleShot(800, &loop, &QEventLoop::quit);
            loop.exec();
        });
    } else {
        hook =
            connect(driver.get(), &Generator::newFrequency, this, [this] { driver->stopServer(); });
    }
    auto socket = client();
    QVERIFY(socket);
    socket->write("FREQ 2e8;ATT 3;VOLT 0.5\nFREQ 3e8\n");
    QTest::qWait(300);
    socket->abort();
    QTest::qWait(1500);
    disconnect(hook);
    instrument->setSilent(false);
    driver->startServer();
    auto fresh = client();
    QVERIFY(fresh);
    QCOMPARE(ask(*fresh, "*OPC?"), QByteArray("1"));
}

// One line's wait for a silent instrument is bounded: after the first
// unanswered request the rest of the line fails at once.
void TestRemote::silentInstrumentCostsOneWaitPerLine() {
    auto socket = client();
    QVERIFY(socket);
    instrument->setSilent(true);
    QByteArray line;
    for (int i = 0; i < 100; ++i)
        line += "FREQ?;";
    QElapsedTimer timer;
    timer.start();
    const QByteArray reply = ask(*socket, line + "SYST:ERR?");
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    instrument->setSilent(false);
    QVERIFY(reply.endsWith("-241,\"Hardware missing\""));
    QCOMPARE(reply.count(';'), 100); // every query kept its field
    double value = 100e6;
    QVERIFY(driver->setFrequency(value)); // the instrument answers again
}

void TestRemote::linesSentBeforeHangingUpAreServed() {
    auto socket = client();
    QVERIFY(socket);
    socket->write("FREQ 200000000\nATT 3\nOUTP ON\n");
    socket->disconnectFromHost();
    QTRY_VERIFY(instrument->output());
    QCOMPARE(instrument->frequency(), 200e6);
    QCOMPARE(instrument->attenuation(), 3.0);
    QVERIFY(driver->setState(false));
}

// *RST goes through the driver: each value that changed is reported once
// (later polls find nothing new), and the panel's level control stays in force.
void TestRemote::resetReportsEachChangeOnce() {
    double value = 200e6;
    QVERIFY(driver->setFrequency(value));
    driver->setLevelControl(1);
    QSignalSpy frequency(driver.get(), &Generator::newFrequency);
    auto socket = client();
    QVERIFY(socket);
    QCOMPARE(ask(*socket, "*RST;*OPC?"), QByteArray("1"));
    QCOMPARE(frequency.count(), 1);
    QCOMPARE(frequency.first().at(0).toDouble(), 100e6);
    QTest::qWait(2500); // two polls
    QCOMPARE(frequency.count(), 1);
    QCOMPARE(instrument->setting("LEV:MODE?"), QByteArray("ATT"));
    driver->setLevelControl(0);
}

void TestRemote::occupiedPortKeepsServerRunning() {
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    QSignalSpy errors(driver.get(), &Generator::error);
    driver->setTcpPort(occupant.serverPort());
    driver->startServer();
    QCOMPARE(errors.count(), 1);
    QVERIFY(driver->isServerListening());
    QVERIFY(client(tcpPort)); // still on the old port
}

QTEST_GUILESS_MAIN(TestRemote)
#include "tst_remote.moc"
