#include "app/mainwindow.h"
#include "journal.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

namespace {
const char programVersion[] = RFPANEL_VERSION;
}

QAction *MainWindow::createAction(const QString &text, const QString &statusTip, bool checkable,
                                  void (MainWindow::*target)()) {
    auto *action = new QAction(text, this);
    if (!statusTip.isEmpty())
        action->setStatusTip(statusTip);
    action->setCheckable(checkable);
    connect(action, &QAction::triggered, this, target);
    return action;
}

void MainWindow::createActions() {
    grid1KHzAction = createAction(tr("Сетка 1КГц"), tr("Округлять частоты до 1КГц"), true,
                                  &MainWindow::setGrid1KHz);
    grid2KHzAction = createAction(tr("Сетка 2КГц"), tr("Округлять частоты до 2КГц"), true,
                                  &MainWindow::setGrid2KHz);
    grid5KHzAction = createAction(tr("Сетка 5КГц"), tr("Округлять частоты до 5КГц"), true,
                                  &MainWindow::setGrid5KHz);
    grid10KHzAction = createAction(tr("Сетка 10КГц"), tr("Округлять частоты до 10КГц"), true,
                                   &MainWindow::setGrid10KHz);
    gridGroup = new QActionGroup(this);
    for (QAction *action : {grid1KHzAction, grid2KHzAction, grid5KHzAction, grid10KHzAction})
        gridGroup->addAction(action);
    grid10KHzAction->setChecked(true);

    upChirpAction = createAction(
        tr("ЛЧМ вверх"),
        tr(" Включить дискретную линейную частотную модуляцию от низких частот к верхним"), true,
        &MainWindow::setUpChirpModulation);
    downChirpAction = createAction(
        tr("ЛЧМ вниз"),
        tr("Включить дискретную линейную частотную модуляцию от верхних частот к низким"), true,
        &MainWindow::setDownChirpModulation);
    fhssAction = createAction(tr("ППРЧ"), tr("Включить псевдослучайную перестройку радио частоты"),
                              true, &MainWindow::setFhssModulation);
    fmKindGroup = new QActionGroup(this);
    for (QAction *action : {upChirpAction, downChirpAction, fhssAction})
        fmKindGroup->addAction(action);
    upChirpAction->setChecked(true);

    netControlAction = createAction(tr("Удаленное управление"), QString(), false,
                                    &MainWindow::createNetConfingWindow);
    journalAction = createAction(tr("Журнал команд"), QString(), false, &MainWindow::showJournal);
    journalAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+J")));
    infoAction = createAction(tr("Справка"), QString(), false, &MainWindow::getInfo);
    amplitudeLevelAction = createAction(tr("Сохранение уровня амплитуды"), QString(), false,
                                        &MainWindow::setAmplitudeLevelControl);
    attenuationLevelAction = createAction(tr("Сохранение уровня ослабления"), QString(), false,
                                          &MainWindow::setAttenuationLevelControl);
}

void MainWindow::createMenus() {
    settingsMenu = menuBar()->addMenu(tr("Настройки"));
    fmKindMenu = settingsMenu->addMenu(tr("Вид ЧМ"));
    fmKindMenu->addActions(fmKindGroup->actions());
    // The grid actions are offered to the user beside the FM kind.
    QMenu *gridMenu = settingsMenu->addMenu(tr("Сетка частоты"));
    gridMenu->addActions(gridGroup->actions());
    settingsMenu->addAction(netControlAction);
    settingsMenu->addAction(journalAction);
    settingsMenu->addAction(infoAction);
    levelControlMenu = settingsMenu->addMenu(tr("Управление  выходным уровнем"));
    levelControlMenu->addAction(amplitudeLevelAction);
    levelControlMenu->addAction(attenuationLevelAction);
    createSetupsMenu();
}

void MainWindow::setAmplitudeLevelControl() {
    if (generator)
        generator->setLevelControl(devicelink::AmplitudeLevelHeld);
}

void MainWindow::setAttenuationLevelControl() {
    if (generator)
        generator->setLevelControl(devicelink::AttenuationLevelHeld);
}

// Each call opens a new about window; a closed one is deleted.
void MainWindow::getInfo() {
    auto *window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &QObject::destroyed, this, [this, window] {
        if (infoWindow == window)
            infoWindow = nullptr;
    });
    infoWindow = window;
    window->setWindowTitle(tr("О программе"));
    window->setMinimumSize(250, 150);
    window->setMaximumSize(400, 400);
    window->resize(250, 150);
    auto *layout = new QVBoxLayout;
    layout->addWidget(new QLabel(tr("Версия программы: ") + QLatin1String(programVersion)));
    window->setLayout(layout);
    window->show();
}

// Driver errors are shown modally. One arriving while the box is already
// running modally only replaces its text.
void MainWindow::errorSlot(QString e) {
    errorBox.setText(e);
    if (errorBox.isVisible() && errorBox.isModal())
        return;
    // Shown without blocking by a panel message: reopen it as a modal box.
    errorBox.hide();
    errorBox.exec();
}

// One journal window, raised when asked for again; it goes with the panel.
void MainWindow::showJournal() {
    if (!journalWindow) {
        journalWindow = new JournalWindow(
            *journal,
            [this](const QList<rfgen::Exchange> &exchanges) {
                const int port = generator ? generator->getTcpPort() : orvexDriver.getTcpPort();
                return rfgen::journal::replayScript(exchanges, QStringLiteral("localhost"), port);
            },
            this);
        connect(journalWindow, &JournalWindow::setupAsked, this, &MainWindow::saveSetupAsked);
    }
    journalWindow->show();
    journalWindow->raise();
    journalWindow->activateWindow();
}
