// The RF output switch and the values the instrument reports on its own.
#include "app/mainwindow.h"
#include "panel/display.h"

#include "ui_mainwindow.h"

#include "controllock.h"

#include <QBrush>
#include <QPalette>

// The button's colour tells the output's state: it changes only on what the
// instrument accepted or reported.
void MainWindow::paintRfSwitch(bool on) {
    QPalette palette = ui->pushButton_TurnOn->palette();
    palette.setBrush(QPalette::All, QPalette::Button,
                     QBrush(on ? Qt::green : Qt::red, Qt::SolidPattern));
    ui->pushButton_TurnOn->setAutoFillBackground(true);
    ui->pushButton_TurnOn->setPalette(palette);
}

// The click has already toggled the button; a refusal toggles it back, so the
// button never shows "on" while the output is off (or the reverse).
void MainWindow::on_pushButton_TurnOn_clicked(bool checked) {
    if (!generator || !generator->setState(checked)) {
        ui->pushButton_TurnOn->setChecked(!checked);
        return;
    }
    paintRfSwitch(checked);
}

bool MainWindow::controlLocked() const {
    return generator && generator->controlLock().isHeld();
}

// The driver refuses the panel's settings meanwhile; the status bar says why.
// Only the bound driver's lock counts, whichever driver's changed.
void MainWindow::controlLockChanged() {
    if (!lockNotice)
        return;
    lockNotice->setText(
        controlLocked()
            ? tr("Управление заблокировано клиентом %1").arg(generator->controlLock().holderName())
            : QString());
}

// Checking by code emits no clicked(), so nothing goes back to the instrument.
void MainWindow::stateChanged(bool on) {
    paintRfSwitch(on);
    ui->pushButton_TurnOn->setChecked(on);
}

// Shows a reported value on its read-out and lights it, leaving the operator's
// active display (and the digits typed into it) as it was.
void MainWindow::showReport(QLCDNumber *display, QLabel *unitLabel, double value, int unit) {
    pushActiveDisplay();
    takeOverDisplay(display, unitLabel);
    abandonEntryOn(display);
    displayValue(value, unit);
    display->setEnabled(true);
    restoreActiveDisplay();
}

void MainWindow::frequencyChanged(double freq_Hz) {
    frequency = freq_Hz;
    showReport(ui->lcdNumber_Freq, ui->label_FreqUnit, frequency, frequencyUnit);
}

void MainWindow::amplitudeChanged(double amp_V) {
    amplitude = roundToThousandth(amp_V);
    showReport(ui->lcdNumber_Amp, ui->label_AmpUnit, amplitude, amplitudeUnit);
}

// Only the normal mode shows the attenuation on the parameter row.
void MainWindow::attenuationChanged(double att) {
    attenuation = roundToThousandth(att);
    attenuationConfirmed = true;
    if (panelMode == 0)
        showReport(ui->lcdNumber_Param, ui->label_ParamUnit, attenuation, units::Decibel);
}

// The period is shown only while its key is the FM mode's "Период": in Delta
// mode the same button has no role and the row shows a step there.
void MainWindow::tFmChanged(double tFm_s) {
    if (panelMode == 2 && paramButtons[3]->isChecked())
        showReport(ui->lcdNumber_Param, ui->label_ParamUnit, tFm_s, tFmUnit);
}
