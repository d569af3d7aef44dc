#include "app/mainwindow.h"
#include "app/accessibility.h"

#include "ui_mainwindow.h"

#include "controllock.h"

#include <QBrush>
#include <QPalette>

#include <initializer_list>
#include <limits>

namespace {

// Draws one read-out row (caption, unit label, display) in the lit colour
// while the panel is enabled and in the dimmed colour while it is not.
void paintReadout(QPalette &palette, Qt::GlobalColor lit, Qt::GlobalColor dimmed, QLabel *caption,
                  QLabel *unitLabel, QLCDNumber *display) {
    palette.setColor(QPalette::Active, QPalette::WindowText, lit);
    // Lit also while the window is in the background: the copied palette's
    // black would leave the read-outs black on black.
    palette.setColor(QPalette::Inactive, QPalette::WindowText, lit);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, dimmed);
    for (QWidget *widget : std::initializer_list<QWidget *>{caption, unitLabel, display}) {
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    }
    display->setFrameStyle(0);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), errorBox(), ui(new Ui::MainWindow), generator(nullptr), orvexDriver(),
      pylarDriver(), quendtDriver(), paramButtons(), displayStack(), unitLabelStack(),
      titleBase(tr("Генератор ")), activeUnit(0), activeDisplay(nullptr),
      activeUnitLabel(nullptr), panelMode(0), autoConnectTimerId(0), entryState(0),
      minusPending(false), entryText() {
    // Before the form makes any widget: Qt keeps the first accessible object it
    // made for a widget, and the form's texts already ask for them.
    installPanelAccessibility();
    ui->setupUi(this);
    setWindowTitle(titleBase + tr(". Не подключен"));
    // The whole panel stays disabled until an instrument is connected.
    ui->centralWidget->setEnabled(false);
    setStartValues();
    colourDisplays();
    errorBox.setWindowTitle(tr("Ошибка"));
    journal = new CommandJournal(this);
    connectDriver(orvexDriver);
    connectDriver(pylarDriver);
    connectDriver(quendtDriver);
    paramButtons = {ui->pushButton_Param1, ui->pushButton_Param2, ui->pushButton_Param3,
                    ui->pushButton_Param4, ui->pushButton_Param5, ui->pushButton_Param6};
    // Keys and labels whose texts change keep one width: no text moves the face.
    fitParameterKeys();
    fitReadoutTexts();
    createActions();
    createMenus();
    ui->centralWidget->installEventFilter(this);
    // The AM mode is built by the form but never offered.
    ui->pushButton_AM->setVisible(false);
    // The remote-control mark keeps its room while hidden: showing it moves no key.
    QSizePolicy markRoom = ui->label_netControl->sizePolicy();
    markRoom.setRetainSizeWhenHidden(true);
    ui->label_netControl->setSizePolicy(markRoom);
    ui->label_netControl->setVisible(false);
    autoconnection();
    lockNotice = new QLabel(ui->statusBar);
    ui->statusBar->addPermanentWidget(lockNotice);
}

MainWindow::~MainWindow() {
    saveSettings();
    // A driver report from here on (even a "no answer" error while switching
    // off) would open a modal box in a window that is going away.
    for (Generator *driver :
         std::initializer_list<Generator *>{&orvexDriver, &pylarDriver, &quendtDriver}) {
        driver->disconnect(this);
        driver->controlLock().disconnect(this);
    }
    // Never leave the instrument transmitting when the panel goes away.
    if (generator)
        generator->setState(false);
    delete ui;
    ui = nullptr;
}

void MainWindow::setStartValues() {
    frequency = 0.0;
    frequencyUnit = 6;
    amplitude = 0.0;
    amplitudeUnit = 2;
    attenuation = std::numeric_limits<double>::infinity();
    attenuationUnit = 4.0;
    amplitudeStep = 1.0;
    amplitudeStepUnit = 3;
    frequencyStep = 1000000.0;
    frequencyStepUnit = 6;
    fFmStart = 0.0;
    fFmStartUnit = 6;
    fFmStop = 0.0;
    fFmStopUnit = 6;
    fFmStep = 0.0;
    fFmStepUnit = 6;
    tFm = 0.0;
    tFmUnit = 9;
}

// One palette, changed and applied in stages: yellow frequency, green
// amplitude and magenta parameter read-outs on black, then the red RF button.
void MainWindow::colourDisplays() {
    QPalette readoutPalette = ui->label_Amp->palette();
    readoutPalette.setBrush(QPalette::Window, QBrush(Qt::black, Qt::SolidPattern));
    paintReadout(readoutPalette, Qt::yellow, Qt::darkYellow, ui->label_Freq, ui->label_FreqUnit,
                 ui->lcdNumber_Freq);
    paintReadout(readoutPalette, Qt::green, Qt::darkGreen, ui->label_Amp, ui->label_AmpUnit,
                 ui->lcdNumber_Amp);
    paintReadout(readoutPalette, Qt::magenta, Qt::darkMagenta, ui->label_Param, ui->label_ParamUnit,
                 ui->lcdNumber_Param);

    QPalette buttonPalette = ui->pushButton_TurnOn->palette();
    buttonPalette.setBrush(QPalette::Button, QBrush(Qt::red, Qt::SolidPattern));
    ui->pushButton_TurnOn->setPalette(buttonPalette);
    ui->pushButton_TurnOn->setAutoFillBackground(true);
}

// Every driver stays connected for the window's life, so a report reaches the
// panel from whichever driver sends it.
void MainWindow::connectDriver(Generator &driver) {
    driver.enableVerbose(true);
    connect(&driver, &Generator::error, this, &MainWindow::errorSlot);
    connect(&driver, &Generator::disconnected, this, &MainWindow::generator_disconnected);
    connect(&driver, &Generator::newFrequency, this, &MainWindow::frequencyChanged);
    connect(&driver, &Generator::newAmplitude, this, &MainWindow::amplitudeChanged);
    connect(&driver, &Generator::newAttenuation, this, &MainWindow::attenuationChanged);
    connect(&driver, &Generator::newTFm, this, &MainWindow::tFmChanged);
    connect(&driver, &Generator::newState, this, &MainWindow::stateChanged);
    connect(&driver, &Generator::netControl, this, &MainWindow::netControl);
    connect(&driver, &Generator::exchanged, journal, &CommandJournal::add);
    connect(&driver.controlLock(), &rfgen::ControlLock::changed, this,
            &MainWindow::controlLockChanged);
}
