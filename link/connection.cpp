// Finding the instrument, binding its driver and retrying.
#include "app/mainwindow.h"

#include "devicelib/probe.h"
#include "ui_mainwindow.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <functional>
#include <utility>

namespace {

constexpr int startupRetryMs = 3000;
constexpr int lossRetryMs = 500;

bool isKnownModel(int model) {
    return model == devicelink::OrvexModel || model == devicelink::PylarModel ||
           model == devicelink::QuendtModel;
}

QString modelName(int model) {
    switch (model) {
    case devicelink::OrvexModel:
        return MainWindow::tr("Орвекс");
    case devicelink::PylarModel:
        return MainWindow::tr("Пилар");
    default:
        return MainWindow::tr("Квендт");
    }
}

// "Порт : ttyACM0. Vendor : Orvex Instruments. VID: 1209. PID :1  Orvex SG"
QString portListText(const QSerialPortInfo &port) {
    return MainWindow::tr("Порт : ") + port.portName() + QStringLiteral(". Vendor : ") +
           port.manufacturer() + QStringLiteral(". VID: ") +
           QString::number(port.vendorIdentifier(), 16) + QStringLiteral(". PID :") +
           QString::number(port.productIdentifier(), 16) + QStringLiteral("  ") +
           port.description();
}

// Why the search could not use a port, for the status bar; empty when it could.
QString unusableText(const rfgen::ProbeResult &probed) {
    const QString name = probed.info.portName();
    if (probed.outcome == rfgen::ProbeResult::NoPermission)
        return MainWindow::tr("%1: нет доступа — см. README, раздел о подключении").arg(name);
    if (probed.outcome != rfgen::ProbeResult::Busy)
        return QString();
    return probed.holder
               ? MainWindow::tr("%1 занят другой программой (PID %2)").arg(name).arg(probed.holder)
               : MainWindow::tr("%1 занят другой программой").arg(name);
}

// Tells its owner when the watched window is closed, by the operator or by code.
class CloseWatcher : public QObject {
public:
    CloseWatcher(QObject *owner, std::function<void()> onClose)
        : QObject(owner), onClose(std::move(onClose)) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Close)
            onClose();
        return false;
    }

private:
    std::function<void()> onClose;
};

} // namespace

void MainWindow::autoconnection() {
    // Hidden while the status bar shows a menu's tip, back afterwards.
    searchReason = new QLabel(ui->statusBar);
    ui->statusBar->addWidget(searchReason, 1);
    QSerialPortInfo port;
    int model = -1;
    const int found = Searcher::autosearch(port, model);
    if (found >= 2) {
        selectDevice();
        return;
    }
    if (isKnownModel(model)) {
        bindDriver(model, port);
        return;
    }
    ui->centralWidget->setEnabled(false);
    startRetryTimer(startupRetryMs);
    QTimerEvent firstRetry(0);
    timerEvent(&firstRetry);
}

// Only the retry timer (or the immediate first retry, id 0) searches again;
// any other timer of the window keeps its usual handling.
void MainWindow::timerEvent(QTimerEvent *event) {
    if (event->timerId() != 0 && event->timerId() != autoConnectTimerId) {
        QMainWindow::timerEvent(event);
        return;
    }
    retryConnection();
}

void MainWindow::retryConnection() {
    QSerialPortInfo port;
    int model = -1;
    QList<rfgen::ProbeResult> probed;
    const int found = Searcher::autosearch(port, model, probed);
    if (isKnownModel(model)) {
        bindDriver(model, port);
        stopRetryTimer();
        return;
    }
    QStringList reasons;
    for (const rfgen::ProbeResult &result : probed)
        if (const QString reason = unusableText(result); !reason.isEmpty())
            reasons << reason;
    searchReason->setText(reasons.join(QStringLiteral("; ")));
    ui->centralWidget->setEnabled(false);
    if (found >= 2) {
        // The operator chooses; closing the list without a choice resumes searching.
        stopRetryTimer();
        selectDevice();
    }
}

void MainWindow::bindDriver(int model, QSerialPortInfo &port) {
    Generator *const previous = generator;
    // The result of connect() is not awaited: a failure arrives as
    // error() and disconnected() once it has returned.
    switch (model) {
    case devicelink::OrvexModel:
        generator = &orvexDriver;
        orvexDriver.connect(port);
        break;
    case devicelink::PylarModel:
        generator = &pylarDriver;
        pylarDriver.connect(port);
        break;
    case devicelink::QuendtModel:
        generator = &quendtDriver;
        quendtDriver.connect(port);
        break;
    default:
        return;
    }
    setWindowTitle(titleBase + modelName(model) + QStringLiteral("   ( ") + port.portName() +
                   QStringLiteral(" )"));
    searchReason->clear();
    controlLockChanged(); // the status bar names the holder of this driver's lock, if any
    ui->centralWidget->setEnabled(true);
    // The file is read once a run: after a lost link the run's own values
    // stay, and the driver choices move to another model's driver.
    if (!settingsLoaded)
        loadSettings();
    else if (previous && previous != generator)
        takeDriverChoices(*previous);
}

void MainWindow::takeDriverChoices(Generator &from) {
    generator->setFrequencyGrid(from.getFrequencyGrid());
    generator->setLevelControl(from.getLevelControl());
    generator->setTcpPort(from.getTcpPort());
}

// At most one retry timer: a new one replaces the one before.
void MainWindow::startRetryTimer(int intervalMs) {
    stopRetryTimer();
    autoConnectTimerId = startTimer(intervalMs, Qt::CoarseTimer);
}

void MainWindow::stopRetryTimer() {
    if (autoConnectTimerId == 0)
        return;
    killTimer(autoConnectTimerId);
    autoConnectTimerId = 0;
}

void MainWindow::selectDevice() {
    if (!selectDeviceWindow)
        buildPortListWindow();
    auto *list = selectDeviceWindow->findChild<QListWidget *>();
    list->clear();
    for (const QSerialPortInfo &port : Generator::getAvailablePorts()) {
        auto *item = new QListWidgetItem(portListText(port));
        item->setData(Qt::UserRole, port.portName());
        list->insertItem(list->count(), item);
    }
    choosingPort = true;
    list->show();
    selectDeviceWindow->show();
    selectDeviceWindow->raise();
}

// One port list window for the panel's life, refilled each time it opens.
void MainWindow::buildPortListWindow() {
    selectDeviceWindow = new QWidget;
    selectDeviceWindow->setWindowTitle(tr("Выберите устройство"));
    selectDeviceWindow->setMinimumSize(200, 150);
    selectDeviceWindow->setMaximumSize(700, 500);
    selectDeviceWindow->resize(500, 200);
    auto *layout = new QVBoxLayout;
    auto *list = new QListWidget(selectDeviceWindow);
    list->setObjectName(QStringLiteral("listWidget_SelectDevice"));
    connect(list, &QListWidget::clicked, this, &MainWindow::on_listWidget_SelectDevice_clicked);
    layout->addWidget(list);
    selectDeviceWindow->setLayout(layout);
    selectDeviceWindow->installEventFilter(new CloseWatcher(this, [this] { portListClosed(); }));
    // Parentless, so it goes when the panel goes.
    connect(this, &QObject::destroyed, selectDeviceWindow, &QObject::deleteLater);
}

void MainWindow::portListClosed() {
    if (!choosingPort)
        return; // closed after a successful choice
    choosingPort = false;
    startRetryTimer(startupRetryMs);
}

void MainWindow::on_listWidget_SelectDevice_clicked(const QModelIndex &index) {
    QSerialPortInfo port;
    int model = -1;
    if (findListedPort(index, port))
        Searcher::determineModel(port, model);
    if (!isKnownModel(model)) {
        showPanelMessage(tr("Не удалось подключиться."));
        return;
    }
    choosingPort = false;
    bindDriver(model, port);
    if (selectDeviceWindow)
        selectDeviceWindow->close();
    stopRetryTimer();
}

// The port the operator clicked, from a fresh list: looked up by the name the
// row shows, so a port that went away (or a list that changed order) never
// leads to another port or past the end of the list.
bool MainWindow::findListedPort(const QModelIndex &index, QSerialPortInfo &port) const {
    const QList<QSerialPortInfo> ports = Generator::getAvailablePorts();
    const QString listedName = index.data(Qt::UserRole).toString();
    if (listedName.isEmpty()) {
        if (index.row() < 0 || index.row() >= ports.size())
            return false;
        port = ports.at(index.row());
        return true;
    }
    for (const QSerialPortInfo &candidate : ports) {
        if (candidate.portName() == listedName) {
            port = candidate;
            return true;
        }
    }
    return false;
}

void MainWindow::generator_disconnected() {
    startRetryTimer(lossRetryMs);
    ui->centralWidget->setEnabled(false);
    setWindowTitle(notConnectedTitle());
    showOutputOff();
}

QString MainWindow::notConnectedTitle() const {
    return titleBase + tr(". Не подключен");
}

// Whatever the RF switch showed, the output of a lost instrument counts as off.
void MainWindow::showOutputOff() {
    QPalette palette = ui->pushButton_TurnOn->palette();
    palette.setBrush(QPalette::Button, QBrush(Qt::red, Qt::SolidPattern));
    ui->pushButton_TurnOn->setAutoFillBackground(true);
    ui->pushButton_TurnOn->setPalette(palette);
    ui->pushButton_TurnOn->setChecked(false);
}
