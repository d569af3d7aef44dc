// The remote-control window and indicator.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "controllock.h"
#include "remoteserver.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr int lowestTcpPort = 1;
constexpr int highestTcpPort = 65535;
} // namespace

// The indicator tells whether a remote client has control right now.
void MainWindow::netControl(bool on) {
    ui->label_netControl->setVisible(on);
}

// One window for the panel's life: opened again, it is raised; its fields are
// refreshed only when it was closed, so typed input is not lost.
void MainWindow::createNetConfingWindow() {
    if (!netConfigWindow)
        buildNetConfigWindow();
    if (!netConfigWindow->isVisible())
        refreshNetConfigFields();
    netConfigWindow->show();
    netConfigWindow->raise();
    netConfigWindow->activateWindow();
}

void MainWindow::buildNetConfigWindow() {
    netConfigWindow = new QWidget;
    netConfigWindow->setMinimumSize(200, 150);
    netConfigWindow->setMaximumSize(500, 500);
    netConfigWindow->resize(250, 150);
    auto *layout = new QGridLayout;
    auto *portLabel = new QLabel(tr("port №"));
    tcpPortEdit = new QLineEdit;
    tcpPortEdit->setValidator(new QIntValidator(lowestTcpPort, highestTcpPort, tcpPortEdit));
    auto *saveButton = new QPushButton(tr("Сохранить"));
    connect(saveButton, &QPushButton::clicked, this, &MainWindow::saveNetConfig);
    serverCheckBox = new QCheckBox(tr("Включить сервер"));
    loopbackCheckBox = new QCheckBox(tr("Только с этого компьютера"));
    // Ends any client's lock at once: the operator takes the instrument back.
    auto *unlockButton = new QPushButton(tr("Снять блокировку"));
    connect(unlockButton, &QPushButton::clicked, this, [this] {
        if (generator)
            generator->controlLock().breakLock();
    });
    layout->addWidget(portLabel, 1, 1);
    layout->addWidget(tcpPortEdit, 1, 2);
    layout->addWidget(serverCheckBox, 2, 2);
    layout->addWidget(loopbackCheckBox, 3, 2);
    layout->addWidget(saveButton, 4, 2);
    layout->addWidget(unlockButton, 5, 2);
    netConfigWindow->setLayout(layout);
    // Parentless, so it goes when the panel goes.
    connect(this, &QObject::destroyed, netConfigWindow, &QObject::deleteLater);
}

// The check box shows whether the server runs, so saving only the port does
// not stop a server that remote clients are using.
void MainWindow::refreshNetConfigFields() {
    tcpPortEdit->setText(generator ? QString::number(generator->getTcpPort(), 10)
                                   : QStringLiteral("0"));
    serverCheckBox->setChecked(generator && generator->isServerListening());
    loopbackCheckBox->setChecked(loopbackOnly);
}

// Loopback only: the server binds to this computer's own addresses.
void MainWindow::applyAccessRules() {
    rfgen::AccessRules rules;
    if (loopbackOnly)
        rules.listenAddresses = {QHostAddress(QHostAddress::LocalHost),
                                 QHostAddress(QHostAddress::LocalHostIPv6)};
    for (Generator *driver :
         std::initializer_list<Generator *>{&orvexDriver, &pylarDriver, &quendtDriver})
        driver->setAccessRules(rules);
}

void MainWindow::saveNetConfig() {
    if (generator) {
        bool isNumber = false;
        const int port = tcpPortEdit->text().toInt(&isNumber, 10);
        if (!isNumber || port < lowestTcpPort || port > highestTcpPort) {
            showPanelMessage(tr("Номер порта должен быть от 1 до 65535"));
            return;
        }
        generator->setTcpPort(port);
        loopbackOnly = loopbackCheckBox->isChecked();
        applyAccessRules();
        if (serverCheckBox->isChecked())
            generator->startServer();
        else
            generator->stopServer();
    }
    netConfigWindow->close();
}
