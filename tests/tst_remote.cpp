// The remote-control server: what clients' commands do to the driver's signals; its life cycle.
#include "drivers.h"
#include "instrument.h"
#include <QtNetwork>
#include <QtTest>
namespace {
std::unique_ptr<QTcpSocket> client(int port) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket->waitForConnected(2000) ? std::move(socket) : nullptr;
}
QByteArray ask(QTcpSocket *socket, const QByteArray &line) {
    const bool answered = socket && socket->write(line + '\n') > 0 &&
                          QTest::qWaitFor([&] { return socket->canReadLine(); }, 3000);
    return answered ? socket->readLine().trimmed() : "<no reply>";
}
void row(const char *name, const char *command, const char *signal, double value = qQNaN()) {
    QTest::newRow(name) << QByteArray(command) << QByteArray(signal) << value;
}
} // namespace
class TestRemote : public QObject {
    Q_OBJECT
    sim::Instrument instrument{0};
    sim::Testbed testbed;
    std::unique_ptr<Generator> driver; // connected to the instrument, serving on port
    int port = 0;
    bool serve(Generator &g) { // on a free port
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        g.setTcpPort(port = probe.serverPort());
        probe.close();
        g.startServer();
        return g.isServerListening();
    }
private slots:
    void init() {
        if (testbed.portName(0).isEmpty()) // the driver replaced below lets go of the port
            QCOMPARE(testbed.addDevice(instrument.usbIdentity(), &instrument), 0);
        QSerialPortInfo info(testbed.portName(0));
        rfgen::connectDriver(*(driver = rfgen::makeDriver(0)), info);
        QVERIFY(QSignalSpy(driver.get(), &Generator::newTFm).wait(3000));
        QVERIFY(serve(*driver));
    }
    void reportsAcceptedChangesOnly_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("signal"); // that reports the change
        QTest::addColumn<double>("value");      // NaN: refused
        row("frequency onto the grid", "FREQ 30004999", SIGNAL(newFrequency(double)), 30e6);
        row("amplitude", "VOLT 0.5", SIGNAL(newAmplitude(double)), 0.5);
        row("power in dBm", "POW 0", SIGNAL(newAmplitude(double)), 0.316);
        row("attenuation", "ATT 12.3", SIGNAL(newAttenuation(double)), 12.5);
        row("output", "OUTP ON", SIGNAL(newState(bool)), 1);
        row("sweep", "FM:STAR 30e6;FM:STOP 40e6;FM:STEP 1e6;FM:PER 0.02;FM:STAT ON",
            SIGNAL(newTFm(double)), 0.02);
        row("frequency out of range", "FREQ 7e9", SIGNAL(newFrequency(double)));
    }
    void reportsAcceptedChangesOnly() {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, signal);
        QFETCH(double, value);
        QSignalSpy reports(driver.get(), signal.constData());
        QCOMPARE(ask(client(port).get(), command + ";SYST:ERR?"),
                 QByteArray(qIsNaN(value) ? "-222,\"Data out of range\"" : "0,\"No error\""));
        QCOMPARE(reports.count(), qIsNaN(value) ? 0 : 1);
        QVERIFY(qIsNaN(value) || std::abs(reports[0][0].toDouble() - value) < 1e-5);
    }
    void lifeCycle() {
        QSignalSpy remote(driver.get(), &Generator::netControl),
            errors(driver.get(), &Generator::error);
        auto first = client(port);
        QTRY_COMPARE(remote.count(), 1); // netControl(true) on the first client
        auto second = client(port);
        QCOMPARE(ask(second.get(), "*OPC?"), QByteArray("1"));
        first->disconnectFromHost();
        const int old = port;
        QVERIFY(serve(*driver));
        QVERIFY(client(port) && !client(old)); // moved, with the clients
        QTcpServer occupant;                   // a port in use is reported, the server kept
        QVERIFY(occupant.listen(QHostAddress::Any, 0));
        driver->setTcpPort(occupant.serverPort());
        driver->startServer();
        QCOMPARE(errors.count(), 1);
        QCOMPARE(ask(second.get(), "*OPC?"), QByteArray("1"));
        second->disconnectFromHost(); // netControl(false) after the last client, not before
        QTRY_COMPARE(QList<QVariantList>(remote), (QList<QVariantList>{{true}, {false}}));
        auto third = client(port);
        QTRY_COMPARE(remote.count(), 3);
        driver->stopServer(); // closes the clients
        QTRY_COMPARE(third->state(), QAbstractSocket::UnconnectedState);
    }
    void survivesHandlersThatReenter_data() {
        QTest::addColumn<int>("handler"); // on netControl, then on newFrequency
        for (int h = 0; h < 4; ++h)
            QTest::addRow("%s %s", h < 2 ? "netControl" : "newFrequency",
                          h % 2 ? "deletes the driver" : "stops the server")
                << h;
    }
    void survivesHandlersThatReenter() {
        QFETCH(int, handler);
        std::unique_ptr<QTcpSocket> socket; // hangs up in the handler
        int handled = 0;
        auto act = [&] {
            ++handled;
            socket->abort();
            handler % 2 ? driver.reset() : driver->stopServer();
        };
        handler < 2 ? connect(driver.get(), &Generator::netControl, this, act)
                    : connect(driver.get(), &Generator::newFrequency, this, act);
        QVERIFY((socket = client(port)) != nullptr);
        socket->write("FREQ 2e8;ATT 3\nFREQ 3e8\n");
        QTRY_VERIFY(handled > 0);
        // The program goes on: a driver without an instrument refuses every command.
        QVERIFY(serve(*(driver = std::make_unique<Orvex>())));
        QCOMPARE(ask(client(port).get(), "FREQ 30e6;*IDN?;SYST:ERR?"),
                 QByteArray(";-241,\"Hardware missing\""));
    }
};

QTEST_GUILESS_MAIN(TestRemote)
#include "tst_remote.moc"
