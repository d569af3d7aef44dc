// Finding the instrument, the port list, retries and reconnection, and the
// remote-control window, through the real window and the real drivers against
// instruments simulated on the umockdev testbed.
#include "app/mainwindow.h"
#include "linkbench.h"
#include "ui_mainwindow.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

using TimerList = QList<QAbstractEventDispatcher::TimerInfo>;

constexpr int startupRetryMs = 3000;
constexpr int lossRetryMs = 500;
// A loss is seen at once on a hang-up; allow for a slow machine.
constexpr int lossTimeoutMs = 6000;
// One 3000 ms retry plus slack.
constexpr int searchTimeoutMs = 9000;

const QString portListTitle = QStringLiteral("Выберите устройство");
const QString couldNotConnect = QStringLiteral("Не удалось подключиться.");
const QString badPortText = QStringLiteral("Номер порта должен быть от 1 до 65535");

// The file the panel finds in its working directory: one stored frequency.
const QByteArray storedSettings = "[Display]\nfrequency=123456789\nfrequencyUnit=5\n";
constexpr double storedFrequency = 123456789.0;

// The list row the panel shows for a simulated instrument.
QString listText(const QString &portName, const sim::UsbIdentity &identity,
                 const QString &description) {
    return QStringLiteral("Порт : ") + portName + QStringLiteral(". Vendor : ") +
           identity.manufacturer + QStringLiteral(". VID: ") +
           QString::number(identity.vendorId, 16) + QStringLiteral(". PID :") +
           QString::number(identity.productId, 16) + QStringLiteral("  ") + description;
}

QString descriptionOf(const QString &portName) {
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        if (port.portName() == portName)
            return port.description();
    return QString();
}

int visibleWindowsTitled(const QString &title) {
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->windowTitle() == title)
            ++count;
    return count;
}

// A TCP port nobody listens on right now.
int freeTcpPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

class TestConnection : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void oneInstrumentAtStart_data();
    void oneInstrumentAtStart();
    void noInstrumentSearches();
    void instrumentPluggedLaterIsFound_data();
    void instrumentPluggedLaterIsFound();
    void twoInstrumentsOpenPortList();
    void clickedRowConnects_data();
    void clickedRowConnects();
    void unrecognisedRowKeepsList();
    void vanishedRowIsRefused();
    void invalidRowIsRefused();
    void closedPortListResumesSearch();
    void searchReopensOnePortList();
    void lossAndReconnection_data();
    void lossAndReconnection();
    void repeatedLossesKeepOneTimer_data();
    void repeatedLossesKeepOneTimer();

    void remoteWindowShowsDriverPort();
    void remoteSaveStartsAndStopsServer();
    void remoteInvalidPortIsRefused_data();
    void remoteInvalidPortIsRefused();
    void remoteWindowIsReused();
    void remoteWithoutInstrumentOnlyCloses();
    void netControlIndicator_data();
    void netControlIndicator();

private:
    bool openConnectedPanel(int model, int &handle);
    Generator *driverOf(int model) const;
    TimerList retryTimers() const;
    QListWidget *portList() const;
    int rowOf(const QString &portName) const;
    void clickRow(int row);
    QPushButton *saveButton() const;

    linkbench::Bench bench;
    linkbench::ModalBoxCloser modalBoxes;
    QString startDir;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<MainWindow> window;
};

void TestConnection::initTestCase() {
    QVERIFY2(bench.start(), qPrintable(bench.errorString()));
    startDir = QDir::currentPath();
}

void TestConnection::cleanupTestCase() {
    bench.stop();
}

// Each test has its own working directory with a stored frequency, so that
// reading the settings on connection can be seen.
void TestConnection::init() {
    workDir = std::make_unique<QTemporaryDir>();
    QVERIFY(workDir->isValid());
    QVERIFY(QDir::setCurrent(workDir->path()));
    QFile file(QStringLiteral("settings.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(storedSettings);
}

void TestConnection::cleanup() {
    window.reset();
    linkbench::deleteLeftWindows();
    bench.unplugAll();
    QDir::setCurrent(startDir);
    workDir.reset();
}

bool TestConnection::openConnectedPanel(int model, int &handle) {
    handle = bench.plug(model);
    window = std::make_unique<MainWindow>();
    return handle >= 0 &&
           window->windowTitle() == linkbench::connectedTitle(model, bench.portName(handle));
}

Generator *TestConnection::driverOf(int model) const {
    Generator *drivers[] = {&window->orvexDriver, &window->pylarDriver, &window->quendtDriver};
    return drivers[model];
}

// The timers the window runs itself: only the retry timer.
TimerList TestConnection::retryTimers() const {
    return QAbstractEventDispatcher::instance()->registeredTimers(window.get());
}

QListWidget *TestConnection::portList() const {
    return window->selectDeviceWindow ? window->selectDeviceWindow->findChild<QListWidget *>()
                                      : nullptr;
}

int TestConnection::rowOf(const QString &portName) const {
    QListWidget *list = portList();
    for (int row = 0; list && row < list->count(); ++row)
        if (list->item(row)->text().startsWith(QStringLiteral("Порт : ") + portName + '.'))
            return row;
    return -1;
}

// A real click on the row, as the operator makes it.
void TestConnection::clickRow(int row) {
    QListWidget *list = portList();
    QVERIFY(list);
    QVERIFY(row >= 0 && row < list->count());
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

QPushButton *TestConnection::saveButton() const {
    for (QPushButton *button : window->netConfigWindow->findChildren<QPushButton *>())
        if (button->text() == QStringLiteral("Сохранить"))
            return button;
    return nullptr;
}

void TestConnection::oneInstrumentAtStart_data() {
    QTest::addColumn<int>("model");
    QTest::newRow("Орвекс") << int(devicelink::OrvexModel);
    QTest::newRow("Пилар") << int(devicelink::PylarModel);
    QTest::newRow("Квендт") << int(devicelink::QuendtModel);
}

// One instrument: bound at once, titled with model and port, panel enabled,
// settings read, nothing left running.
void TestConnection::oneInstrumentAtStart() {
    QFETCH(int, model);
    int handle = -1;
    QVERIFY(openConnectedPanel(model, handle));
    QCOMPARE(window->windowTitle(), QStringLiteral("Генератор ") + linkbench::modelName(model) +
                                        QStringLiteral("   ( ") + bench.portName(handle) +
                                        QStringLiteral(" )"));
    QCOMPARE(window->generator, driverOf(model));
    QVERIFY(window->ui->centralWidget->isEnabled());
    QCOMPARE(window->frequency, storedFrequency);
    QCOMPARE(window->frequencyUnit, 5);
    QVERIFY(retryTimers().isEmpty());
    QVERIFY(!window->selectDeviceWindow);
    QTRY_VERIFY(window->generator->isConnected());
    QTRY_VERIFY(bench.instrument(handle)->receivedLines().contains("*IDN?"));
}

// No instrument: the panel waits disabled and searches every 3000 ms.
void TestConnection::noInstrumentSearches() {
    window = std::make_unique<MainWindow>();
    QCOMPARE(window->windowTitle(), linkbench::notConnectedTitle);
    QVERIFY(!window->ui->centralWidget->isEnabled());
    QVERIFY(!window->generator);
    QVERIFY(!window->selectDeviceWindow);
    const TimerList timers = retryTimers();
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first().timerId, window->autoConnectTimerId);
    QCOMPARE(timers.first().interval, startupRetryMs);
    QCOMPARE(timers.first().timerType, Qt::CoarseTimer);
    // Nothing was read: the start values stay.
    QCOMPARE(window->frequency, 0.0);
}

void TestConnection::instrumentPluggedLaterIsFound_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("replugged"); // pulled before the start, plugged back later
    QTest::newRow("new Орвекс") << int(devicelink::OrvexModel) << false;
    QTest::newRow("Квендт plugged back") << int(devicelink::QuendtModel) << true;
}

void TestConnection::instrumentPluggedLaterIsFound() {
    QFETCH(int, model);
    QFETCH(bool, replugged);
    int handle = -1;
    if (replugged) {
        handle = bench.plug(model);
        bench.unplug(handle);
    }
    window = std::make_unique<MainWindow>();
    QCOMPARE(window->windowTitle(), linkbench::notConnectedTitle);
    QTest::qWait(200); // a little into the first interval
    if (replugged)
        bench.replug(handle);
    else
        handle = bench.plug(model);

    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(),
                              linkbench::connectedTitle(model, bench.portName(handle)),
                              searchTimeoutMs);
    QCOMPARE(window->generator, driverOf(model));
    QVERIFY(window->ui->centralWidget->isEnabled());
    QCOMPARE(window->frequency, storedFrequency);
    QVERIFY(retryTimers().isEmpty());
}

// Two instruments: the operator chooses from a list of every port.
void TestConnection::twoInstrumentsOpenPortList() {
    const int orvex = bench.plug(devicelink::OrvexModel);
    const int pylar = bench.plug(devicelink::PylarModel);
    window = std::make_unique<MainWindow>();

    QVERIFY(window->selectDeviceWindow);
    QVERIFY(window->selectDeviceWindow->isVisible());
    QCOMPARE(window->selectDeviceWindow->windowTitle(), portListTitle);
    QCOMPARE(window->selectDeviceWindow->minimumSize(), QSize(200, 150));
    QCOMPARE(window->selectDeviceWindow->maximumSize(), QSize(700, 500));
    QCOMPARE(window->selectDeviceWindow->size(), QSize(500, 200));
    QCOMPARE(window->windowTitle(), linkbench::notConnectedTitle);
    QVERIFY(!window->ui->centralWidget->isEnabled());
    QVERIFY(retryTimers().isEmpty());

    QListWidget *list = portList();
    QVERIFY(list);
    QCOMPARE(list->count(), QSerialPortInfo::availablePorts().size());
    for (int handle : {orvex, pylar}) {
        const QString name = bench.portName(handle);
        const int row = rowOf(name);
        QVERIFY2(row >= 0, qPrintable(name));
        QCOMPARE(list->item(row)->text(),
                 listText(name, bench.instrument(handle)->usbIdentity(), descriptionOf(name)));
    }
    QVERIFY(list->item(rowOf(bench.portName(orvex)))->text().contains(". VID: 1209. PID :1  "));
}

void TestConnection::clickedRowConnects_data() {
    QTest::addColumn<int>("chosen");
    QTest::newRow("Пилар") << int(devicelink::PylarModel);
    QTest::newRow("Квендт") << int(devicelink::QuendtModel);
}

void TestConnection::clickedRowConnects() {
    QFETCH(int, chosen);
    const int pylar = bench.plug(devicelink::PylarModel);
    const int quendt = bench.plug(devicelink::QuendtModel);
    window = std::make_unique<MainWindow>();
    const int handle = chosen == devicelink::PylarModel ? pylar : quendt;

    clickRow(rowOf(bench.portName(handle)));

    QCOMPARE(window->windowTitle(), linkbench::connectedTitle(chosen, bench.portName(handle)));
    QCOMPARE(window->generator, driverOf(chosen));
    QVERIFY(window->ui->centralWidget->isEnabled());
    QCOMPARE(window->frequency, storedFrequency);
    QVERIFY(!window->selectDeviceWindow->isVisible());
    QVERIFY(retryTimers().isEmpty());
    QTRY_VERIFY(bench.instrument(handle)->receivedLines().contains("*IDN?"));
}

// A port without an instrument: a message, and the list stays for another choice.
void TestConnection::unrecognisedRowKeepsList() {
    const int orvex = bench.plug(devicelink::OrvexModel);
    bench.plug(devicelink::PylarModel);
    const int silent = bench.plug(-1);
    window = std::make_unique<MainWindow>();
    QVERIFY(window->selectDeviceWindow);

    clickRow(rowOf(bench.portName(silent)));
    QCOMPARE(window->errorBox.text(), couldNotConnect);
    QVERIFY(window->errorBox.isVisible());
    QVERIFY(window->selectDeviceWindow->isVisible());
    QCOMPARE(window->windowTitle(), linkbench::notConnectedTitle);
    QVERIFY(!window->generator);
    QVERIFY(retryTimers().isEmpty());

    clickRow(rowOf(bench.portName(orvex)));
    QCOMPARE(window->windowTitle(),
             linkbench::connectedTitle(devicelink::OrvexModel, bench.portName(orvex)));
    QVERIFY(!window->selectDeviceWindow->isVisible());
}

// A port pulled after the list was shown is refused like an unknown one; the
// click never reaches the port that moved up into its row.
void TestConnection::vanishedRowIsRefused() {
    const int orvex = bench.plug(devicelink::OrvexModel);
    const int pylar = bench.plug(devicelink::PylarModel);
    window = std::make_unique<MainWindow>();
    QVERIFY(window->selectDeviceWindow);
    const bool orvexFirst = rowOf(bench.portName(orvex)) < rowOf(bench.portName(pylar));
    const int pulled = orvexFirst ? orvex : pylar;
    const int staying = orvexFirst ? pylar : orvex;
    const int pulledRow = rowOf(bench.portName(pulled));
    bench.unplug(pulled);
    bench.instrument(staying)->clearReceivedLines();

    clickRow(pulledRow);
    QCOMPARE(window->errorBox.text(), couldNotConnect);
    QCOMPARE(window->windowTitle(), linkbench::notConnectedTitle);
    QVERIFY(!window->generator);
    QVERIFY(window->selectDeviceWindow->isVisible());
    QTest::qWait(200);
    QVERIFY(bench.instrument(staying)->receivedLines().isEmpty());
}

// An index that belongs to no row of the list.
void TestConnection::invalidRowIsRefused() {
    bench.plug(devicelink::OrvexModel);
    bench.plug(devicelink::PylarModel);
    window = std::make_unique<MainWindow>();
    QVERIFY(window->selectDeviceWindow);
    const QModelIndex beyond = portList()->model()->index(portList()->count() + 5, 0);
    for (const QModelIndex &index : {QModelIndex(), beyond}) {
        window->errorBox.setText(QString());
        window->on_listWidget_SelectDevice_clicked(index);
        QCOMPARE(window->errorBox.text(), couldNotConnect);
        QVERIFY(!window->generator);
    }
}

// Closing the list without a choice goes back to searching.
void TestConnection::closedPortListResumesSearch() {
    const int orvex = bench.plug(devicelink::OrvexModel);
    const int pylar = bench.plug(devicelink::PylarModel);
    window = std::make_unique<MainWindow>();
    QVERIFY(window->selectDeviceWindow);
    QVERIFY(retryTimers().isEmpty());

    window->selectDeviceWindow->close();
    const TimerList timers = retryTimers();
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first().interval, startupRetryMs);

    bench.unplug(orvex);
    QTRY_COMPARE_WITH_TIMEOUT(
        window->windowTitle(),
        linkbench::connectedTitle(devicelink::PylarModel, bench.portName(pylar)), searchTimeoutMs);
    QVERIFY(retryTimers().isEmpty());
    QVERIFY(!window->selectDeviceWindow->isVisible());
}

// A retry that finds several instruments opens the same list again, once.
void TestConnection::searchReopensOnePortList() {
    bench.plug(devicelink::OrvexModel);
    bench.plug(devicelink::PylarModel);
    window = std::make_unique<MainWindow>();
    QWidget *first = window->selectDeviceWindow;
    QVERIFY(first);
    first->close();
    const int quendt = bench.plug(devicelink::QuendtModel);

    QTRY_VERIFY_WITH_TIMEOUT(first->isVisible(), searchTimeoutMs);
    QCOMPARE(window->selectDeviceWindow, first);
    QCOMPARE(visibleWindowsTitled(portListTitle), 1);
    QVERIFY(retryTimers().isEmpty());
    // Refilled: the port plugged meanwhile is listed, the others once each.
    QVERIFY(rowOf(bench.portName(quendt)) >= 0);
    QCOMPARE(portList()->count(), QSerialPortInfo::availablePorts().size());
}

void TestConnection::lossAndReconnection_data() {
    QTest::addColumn<int>("comesBack"); // the model found after the loss
    QTest::newRow("the same Орвекс plugged back") << int(devicelink::OrvexModel);
    QTest::newRow("a Пилар instead") << int(devicelink::PylarModel);
}

// Unplugged: not connected, output shown off, panel disabled, 500 ms retries;
// plugged back: connected again with the settings read again.
void TestConnection::lossAndReconnection() {
    QFETCH(int, comesBack);
    int orvex = -1;
    QVERIFY(openConnectedPanel(devicelink::OrvexModel, orvex));
    QTRY_VERIFY(window->generator->isConnected());
    QPushButton *rf = window->ui->pushButton_TurnOn;
    QPalette lit = rf->palette();
    lit.setBrush(QPalette::Button, QBrush(Qt::green, Qt::SolidPattern));
    rf->setPalette(lit);
    rf->setChecked(true);
    window->frequency = 1.0; // set since the start; the file's value returns

    bench.unplug(orvex);
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), linkbench::notConnectedTitle, lossTimeoutMs);
    QVERIFY(!window->ui->centralWidget->isEnabled());
    QVERIFY(!rf->isChecked());
    QVERIFY(rf->autoFillBackground());
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(rf->palette().brush(group, QPalette::Button).color(), QColor(Qt::red));
    const TimerList timers = retryTimers();
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first().interval, lossRetryMs);
    QCOMPARE(timers.first().timerType, Qt::CoarseTimer);

    int handle = orvex;
    if (comesBack == devicelink::OrvexModel)
        bench.replug(orvex);
    else
        handle = bench.plug(comesBack);
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(),
                              linkbench::connectedTitle(comesBack, bench.portName(handle)),
                              lossTimeoutMs);
    QCOMPARE(window->generator, driverOf(comesBack));
    QVERIFY(window->ui->centralWidget->isEnabled());
    QCOMPARE(window->frequency, storedFrequency);
    QVERIFY(retryTimers().isEmpty());
}

void TestConnection::repeatedLossesKeepOneTimer_data() {
    QTest::addColumn<bool>("connectedFirst");
    QTest::newRow("losses after a connection") << true;
    QTest::newRow("losses while searching at start") << false;
}

// However often a loss is reported, one retry timer runs, and none after
// the next connection.
void TestConnection::repeatedLossesKeepOneTimer() {
    QFETCH(bool, connectedFirst);
    int handle = -1;
    if (connectedFirst) {
        QVERIFY(openConnectedPanel(devicelink::OrvexModel, handle));
        bench.unplug(handle);
        QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), linkbench::notConnectedTitle,
                                  lossTimeoutMs);
    } else {
        window = std::make_unique<MainWindow>();
    }
    for (Generator *driver : {driverOf(0), driverOf(0), driverOf(1), driverOf(2)})
        emit driver->disconnected();
    const TimerList timers = retryTimers();
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first().timerId, window->autoConnectTimerId);
    QCOMPARE(timers.first().interval, lossRetryMs);

    if (connectedFirst)
        bench.replug(handle);
    else
        handle = bench.plug(devicelink::OrvexModel);
    QTRY_COMPARE_WITH_TIMEOUT(
        window->windowTitle(),
        linkbench::connectedTitle(devicelink::OrvexModel, bench.portName(handle)), lossTimeoutMs);
    QVERIFY(retryTimers().isEmpty());
}

// The window shows the port the library reports and where the server stands.
void TestConnection::remoteWindowShowsDriverPort() {
    int handle = -1;
    QVERIFY(openConnectedPanel(devicelink::PylarModel, handle));
    window->generator->setTcpPort(freeTcpPort());
    window->netControlAction->trigger();

    QWidget *remote = window->netConfigWindow;
    QVERIFY(remote);
    QVERIFY(remote->isVisible());
    QCOMPARE(remote->minimumSize(), QSize(200, 150));
    QCOMPARE(remote->maximumSize(), QSize(500, 500));
    QCOMPARE(remote->size(), QSize(250, 150));
    QCOMPARE(window->tcpPortEdit->text(), QString::number(window->generator->getTcpPort()));
    QVERIFY(!window->serverCheckBox->isChecked());
    QCOMPARE(window->serverCheckBox->text(), QStringLiteral("Включить сервер"));

    auto *grid = qobject_cast<QGridLayout *>(remote->layout());
    QVERIFY(grid);
    const auto widgetAt = [grid](int row, int column) {
        QLayoutItem *item = grid->itemAtPosition(row, column);
        return item ? item->widget() : nullptr;
    };
    auto *label = qobject_cast<QLabel *>(widgetAt(1, 1));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("port №"));
    QCOMPARE(widgetAt(1, 2), static_cast<QWidget *>(window->tcpPortEdit));
    QCOMPARE(widgetAt(2, 2), static_cast<QWidget *>(window->serverCheckBox));
    QCOMPARE(widgetAt(3, 2), static_cast<QWidget *>(saveButton()));
}

// "Сохранить" sets the port and starts the server a client can reach; the
// indicator follows the client; unchecked, it stops the server.
void TestConnection::remoteSaveStartsAndStopsServer() {
    int handle = -1;
    QVERIFY(openConnectedPanel(devicelink::OrvexModel, handle));
    QLabel *indicator = window->ui->label_netControl;
    QVERIFY(!indicator->isVisibleTo(window.get()));
    const int port = freeTcpPort();
    QVERIFY(port > 0);

    window->netControlAction->trigger();
    window->tcpPortEdit->setText(QString::number(port));
    window->serverCheckBox->setChecked(true);
    QTest::mouseClick(saveButton(), Qt::LeftButton);
    QCOMPARE(window->generator->getTcpPort(), port);
    QVERIFY(window->generator->isServerListening());
    QVERIFY(!window->netConfigWindow->isVisible());

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(port));
    QVERIFY(client.waitForConnected(5000));
    QTRY_VERIFY(indicator->isVisibleTo(window.get()));
    QCOMPARE(indicator->text(), QStringLiteral("Внешнее упр"));
    client.disconnectFromHost();
    QTRY_VERIFY(!indicator->isVisibleTo(window.get()));

    // Opened again, the box shows the running server; unchecking stops it.
    window->netControlAction->trigger();
    QVERIFY(window->serverCheckBox->isChecked());
    window->serverCheckBox->setChecked(false);
    QTest::mouseClick(saveButton(), Qt::LeftButton);
    QVERIFY(!window->generator->isServerListening());
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, quint16(port));
    QVERIFY(!late.waitForConnected(2000));
}

void TestConnection::remoteInvalidPortIsRefused_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("above 65535") << QStringLiteral("65536");
    QTest::newRow("negative") << QStringLiteral("-1");
    QTest::newRow("letters after digits") << QStringLiteral("5025x");
    QTest::newRow("letters") << QStringLiteral("port");
}

// A port outside 1..65535: a message, nothing sent, the window stays open.
void TestConnection::remoteInvalidPortIsRefused() {
    QFETCH(QString, text);
    int handle = -1;
    QVERIFY(openConnectedPanel(devicelink::QuendtModel, handle));
    const int portBefore = window->generator->getTcpPort();
    window->netControlAction->trigger();
    window->tcpPortEdit->setText(text);
    window->serverCheckBox->setChecked(true);
    QTest::mouseClick(saveButton(), Qt::LeftButton);

    QCOMPARE(window->errorBox.text(), badPortText);
    QVERIFY(window->errorBox.isVisible());
    QVERIFY(window->netConfigWindow->isVisible());
    QCOMPARE(window->generator->getTcpPort(), portBefore);
    QVERIFY(!window->generator->isServerListening());
}

// One remote-control window: opened again it is the same window, and what
// the operator typed in the open window stays.
void TestConnection::remoteWindowIsReused() {
    int handle = -1;
    QVERIFY(openConnectedPanel(devicelink::OrvexModel, handle));
    window->netControlAction->trigger();
    QWidget *first = window->netConfigWindow;
    window->tcpPortEdit->setText(QStringLiteral("6001"));
    window->netControlAction->trigger();
    QCOMPARE(window->netConfigWindow, first);
    QCOMPARE(window->tcpPortEdit->text(), QStringLiteral("6001"));
    QVERIFY(first->isVisible());

    // Closed without saving, it shows the library's port again next time.
    first->close();
    window->netControlAction->trigger();
    QCOMPARE(window->netConfigWindow, first);
    QCOMPARE(window->tcpPortEdit->text(), QString::number(window->generator->getTcpPort()));
}

// Without an instrument the field shows 0 and "Сохранить" only closes.
void TestConnection::remoteWithoutInstrumentOnlyCloses() {
    window = std::make_unique<MainWindow>();
    QVERIFY(!window->generator);
    const int portBefore = window->orvexDriver.getTcpPort();
    window->netControlAction->trigger();
    QCOMPARE(window->tcpPortEdit->text(), QStringLiteral("0"));
    window->tcpPortEdit->setText(QString::number(freeTcpPort()));
    window->serverCheckBox->setChecked(true);
    QTest::mouseClick(saveButton(), Qt::LeftButton);
    QVERIFY(!window->netConfigWindow->isVisible());
    QCOMPARE(window->orvexDriver.getTcpPort(), portBefore);
    for (int model : {0, 1, 2})
        QVERIFY(!driverOf(model)->isServerListening());
}

void TestConnection::netControlIndicator_data() {
    QTest::addColumn<QList<bool>>("reports");
    QTest::addColumn<bool>("shown");
    QTest::newRow("client took control") << QList<bool>{true} << true;
    QTest::newRow("first report: no client") << QList<bool>{false} << false;
    QTest::newRow("client left") << QList<bool>{true, false} << false;
    QTest::newRow("client came back") << QList<bool>{true, false, true} << true;
}

// The indicator tells the truth about remote control, whichever driver reports.
void TestConnection::netControlIndicator() {
    QFETCH(QList<bool>, reports);
    QFETCH(bool, shown);
    window = std::make_unique<MainWindow>();
    QLabel *indicator = window->ui->label_netControl;
    QVERIFY(!indicator->isVisibleTo(window.get()));
    int model = 0;
    for (bool remote : reports)
        emit driverOf(model++ % 3)->netControl(remote);
    QCOMPARE(indicator->isVisibleTo(window.get()), shown);
    QCOMPARE(window->windowTitle(), linkbench::notConnectedTitle);
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
