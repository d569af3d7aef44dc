// Saved set-ups: the menu "Наборы", saving what the panel shows under a name
// and recalling one. The files are the device library's, shared with
// `rfgen serve` (*SAV, *RCL); the panel adds its own units and step sizes.
#include "app/mainwindow.h"
#include "panel/display.h"
#include "panel/panelmode.h"

#include "ui_mainwindow.h"

#include "controllock.h"
#include "models.h"
#include "scpi.h"

#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <cmath>

using rfgen::setups::Part;
using rfgen::setups::Recall;
using rfgen::setups::Setup;

struct MainWindow::PanelKey {
    const char *key;
    int MainWindow::*unit;       // a unit code, kept as its name ("MHz")
    const QVector<int> *allowed; // the codes it may hold
    double MainWindow::*number;  // or a number
};

const std::vector<MainWindow::PanelKey> &MainWindow::panelKeys() {
    static const std::vector<PanelKey> keys = {
        {"panel.frequency_unit", &MainWindow::frequencyUnit, &units::frequencyCodes, nullptr},
        {"panel.amplitude_unit", &MainWindow::amplitudeUnit, &units::amplitudeCodes, nullptr},
        {"panel.frequency_step_hz", nullptr, nullptr, &MainWindow::frequencyStep},
        {"panel.frequency_step_unit", &MainWindow::frequencyStepUnit, &units::frequencyCodes,
         nullptr},
        {"panel.amplitude_step", nullptr, nullptr, &MainWindow::amplitudeStep},
        {"panel.amplitude_step_unit", &MainWindow::amplitudeStepUnit, &units::amplitudeStepCodes,
         nullptr},
        {"panel.sweep_start_unit", &MainWindow::fFmStartUnit, &units::frequencyCodes, nullptr},
        {"panel.sweep_stop_unit", &MainWindow::fFmStopUnit, &units::frequencyCodes, nullptr},
        {"panel.sweep_step_unit", &MainWindow::fFmStepUnit, &units::frequencyCodes, nullptr},
        {"panel.sweep_period_unit", &MainWindow::tFmUnit, &units::periodCodes, nullptr},
    };
    return keys;
}

QString MainWindow::checkPanelKey(const QString &key, const QString &value) {
    for (const PanelKey &panelKey : panelKeys()) {
        if (key != QLatin1String(panelKey.key))
            continue;
        double number = 0;
        if (panelKey.unit ? panelKey.allowed->contains(units::fromWord(value))
                          : rfgen::scpi::parseNumber(value.toLatin1(), number))
            return QString();
        return tr("значение «%1» не подходит для ключа «%2»").arg(value, key);
    }
    return tr("неизвестный ключ «%1»").arg(key);
}

void MainWindow::createSetupsMenu() {
    setupsMenu = menuBar()->addMenu(tr("Наборы"));
    // Listed anew each time: `rfgen serve` (*SAV) and the user add files too.
    connect(setupsMenu, &QMenu::aboutToShow, this, &MainWindow::refreshSetupsMenu);
    refreshSetupsMenu();
}

void MainWindow::refreshSetupsMenu() {
    setupsMenu->clear();
    setupsMenu->addAction(tr("Сохранить набор..."), this, &MainWindow::askAndSaveSetup);
    setupsMenu->addSeparator();
    const QStringList names = rfgen::setups::names(rfgen::setups::folder());
    for (const QString &name : names) {
        QAction *action = setupsMenu->addAction(QString(name).replace('&', QLatin1String("&&")));
        connect(action, &QAction::triggered, this, [this, name] { recallSetup(name); });
    }
    if (!names.isEmpty())
        setupsMenu->addSeparator();
    setupsMenu->addAction(tr("Удалить набор..."), this, &MainWindow::askAndDeleteSetup)
        ->setEnabled(!names.isEmpty());
}

void MainWindow::askAndSaveSetup() {
    if (!generator)
        return showPanelMessage(tr("Нет связи с генератором: сохранять нечего"));
    saveSetupAsked(panelSetup());
}

void MainWindow::saveSetupAsked(const Setup &setup) {
    if (setup.isEmpty())
        return showPanelMessage(tr("В наборе не было бы ни одной настройки"));
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("Сохранить набор"), tr("Имя набора:"),
                                               QLineEdit::Normal, QString(), &ok)
                             .trimmed();
    if (!ok)
        return;
    const QString problem = rfgen::setups::nameProblem(name);
    if (!problem.isEmpty())
        return showPanelMessage(problem);
    if (rfgen::setups::exists(rfgen::setups::folder(), name) &&
        QMessageBox::question(this, tr("Сохранить набор"),
                              tr("Набор «%1» уже есть. Заменить его?").arg(name)) !=
            QMessageBox::Yes)
        return;
    writeSetup(name, setup);
}

bool MainWindow::writeSetup(const QString &name, const Setup &setup) {
    QString why;
    if (!rfgen::setups::save(rfgen::setups::folder(), name, setup, why)) {
        showPanelMessage(why);
        return false;
    }
    ui->statusBar->showMessage(tr("Набор «%1» сохранен").arg(name));
    return true;
}

void MainWindow::askAndDeleteSetup() {
    const QStringList names = rfgen::setups::names(rfgen::setups::folder());
    bool ok = false;
    const QString name =
        QInputDialog::getItem(this, tr("Удалить набор"), tr("Набор:"), names, 0, false, &ok);
    QString why;
    if (ok && !rfgen::setups::remove(rfgen::setups::folder(), name, why))
        showPanelMessage(why);
}

// What the panel shows: the values the instrument confirmed, the sweep the
// panel holds for its next start, and how the panel shows them.
Setup MainWindow::panelSetup() const {
    Setup setup;
    setup.frequencyHz = frequency;
    if (rfgen::levelInDbm(generator->modelCode())) {
        const double dbm = rfgen::roundToStep(rfgen::voltsToDbm(amplitude), 0.01);
        if (std::isfinite(dbm))
            setup.powerDbm = dbm;
    } else {
        setup.amplitudeV = amplitude;
    }
    if (std::isfinite(attenuation))
        setup.attenuationDb = attenuation;
    setup.levelControl = generator->getLevelControl();
    setup.fmKind = generator->getFmMode();
    setup.grid = generator->getFrequencyGrid();
    setup.takeSweepIfSetUp(fFmStart, fFmStop, fFmStep, tFm);
    for (const PanelKey &key : panelKeys())
        setup.panel.insert(key.key, key.unit ? units::word(this->*key.unit)
                                             : rfgen::scpi::formatNumber(this->*key.number));
    return setup;
}

// Nothing is sent from a file that cannot be read or parsed; the output
// stays as it is.
void MainWindow::recallSetup(const QString &name) {
    if (!generator || !generator->isConnected())
        return showPanelMessage(tr("Нет связи с генератором: набор не восстановлен"));
    if (controlLocked()) {
        ui->statusBar->showMessage(tr("Управление заблокировано клиентом %1: набор не восстановлен")
                                       .arg(generator->controlLock().holderName()));
        return;
    }
    Setup setup;
    QString why;
    if (!rfgen::setups::load(rfgen::setups::folder(), name, setup, why, &MainWindow::checkPanelKey))
        return showPanelMessage(why);
    paramButtons[5]->setChecked(false); // the recall stops the sweep
    const Recall recall = rfgen::setups::apply(*generator, setup, false);
    takePanelKeys(setup.panel);
    showRecalled(setup, recall);
    markDriverChoicesInMenus();
    const QString refused = refusedText(recall.refused);
    ui->statusBar->showMessage(refused.isEmpty()
                                   ? tr("Набор «%1» восстановлен").arg(name)
                                   : tr("Набор «%1»: прибор не принял %2").arg(name, refused));
}

void MainWindow::takePanelKeys(const QMap<QString, QString> &keys) {
    for (const PanelKey &key : panelKeys()) {
        const auto entry = keys.constFind(QLatin1String(key.key));
        if (entry == keys.cend())
            continue;
        if (key.unit)
            this->*key.unit = units::fromWord(*entry);
        else
            rfgen::scpi::parseNumber(entry->toLatin1(), this->*key.number);
    }
}

// As a typed value: what the instrument took is held and lit, a refused
// value is shown dimmed and the panel keeps what the instrument holds.
void MainWindow::showRecalled(const Setup &setup, const Recall &recall) {
    const Setup &held = recall.held;
    const auto accepted = [&recall](Part part) { return !recall.refused.contains(part); };
    if (setup.frequencyHz) {
        frequency = held.frequencyHz.value_or(frequency);
        showRecalledValue(ui->lcdNumber_Freq, ui->label_FreqUnit,
                          held.frequencyHz.value_or(*setup.frequencyHz), frequencyUnit,
                          accepted(Part::Frequency));
    }
    if (setup.hasLevel()) {
        const double asked =
            setup.amplitudeV ? *setup.amplitudeV : rfgen::dbmToVolts(*setup.powerDbm);
        amplitude = roundToThousandth(held.amplitudeV.value_or(amplitude));
        showRecalledValue(ui->lcdNumber_Amp, ui->label_AmpUnit,
                          roundToThousandth(held.amplitudeV.value_or(asked)), amplitudeUnit,
                          accepted(Part::Level));
    }
    if (setup.attenuationDb) {
        attenuation = roundToThousandth(held.attenuationDb.value_or(attenuation));
        attenuationConfirmed = accepted(Part::Attenuation);
        if (panelMode == panelmode::Normal)
            showRecalledValue(ui->lcdNumber_Param, ui->label_ParamUnit,
                              held.attenuationDb.value_or(*setup.attenuationDb), units::Decibel,
                              attenuationConfirmed);
    }
    if (setup.hasSweep()) {
        fFmStart = *held.sweepStartHz;
        fFmStop = *held.sweepStopHz;
        fFmStep = *held.sweepStepHz;
        tFm = *held.sweepPeriodS;
        if (panelMode == panelmode::Fm)
            redrawSelectedSweepParameter();
    }
}

void MainWindow::showRecalledValue(QLCDNumber *display, QLabel *unitLabel, double value, int unit,
                                   bool accepted) {
    showReport(display, unitLabel, value, unit);
    display->setEnabled(accepted);
}

QString MainWindow::refusedText(const QList<Part> &refused) const {
    const QString names[] = {tr("частоту"), tr("уровень"), tr("ослабление"), tr("развертку")};
    QStringList parts;
    for (Part part : refused)
        parts << names[int(part)]; // in the order of Part
    return parts.join(QStringLiteral(", "));
}
