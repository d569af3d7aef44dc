// The arrow keys, the frequency grid, and the saving of the active display
// around every routine that shows a value on another read-out.
#include "app/mainwindow.h"
#include "panel/display.h"

#include "ui_mainwindow.h"

#include <cmath>

namespace {

// Up raises the output; Left lowers the frequency.
constexpr double upward = 1.0;
constexpr double downward = -1.0;

} // namespace

void MainWindow::on_pushButton_Right_clicked() {
    stepFrequency(upward);
}

void MainWindow::on_pushButton_Left_clicked() {
    stepFrequency(downward);
}

void MainWindow::on_pushButton_Up_clicked() {
    stepLevel(upward);
}

void MainWindow::on_pushButton_Down_clicked() {
    stepLevel(downward);
}

void MainWindow::setGrid1KHz() {
    setGrid(devicelink::Grid1KHz);
}

void MainWindow::setGrid2KHz() {
    setGrid(devicelink::Grid2KHz);
}

void MainWindow::setGrid5KHz() {
    setGrid(devicelink::Grid5KHz);
}

void MainWindow::setGrid10KHz() {
    setGrid(devicelink::Grid10KHz);
}

// The grid lives in the driver; the frequency is neither resent nor redrawn.
void MainWindow::setGrid(int index) {
    if (generator)
        generator->setFrequencyGrid(index);
}

void MainWindow::pushActiveDisplay() {
    displayStack.push_back(activeDisplay);
    unitLabelStack.push_back(activeUnitLabel);
}

void MainWindow::popActiveDisplay() {
    activeDisplay = displayStack.back();
    displayStack.pop_back();
    activeUnitLabel = unitLabelStack.back();
    unitLabelStack.pop_back();
    activeUnit = unitOfCheckedParameter(activeUnit);
}

void MainWindow::restoreActiveDisplay() {
    if (!displayStack.empty())
        popActiveDisplay();
}

// The stored unit of the parameter whose button is checked in this mode; a
// later button overrides an earlier one, and with none checked the unit stays.
int MainWindow::unitOfCheckedParameter(int current) {
    auto checked = [this](int number) { return paramButtons[number - 1]->isChecked(); };
    int unit = current;
    if (panelMode == 0) {
        const int normalUnits[] = {frequencyUnit, amplitudeUnit, int(attenuationUnit)};
        for (int number = 1; number <= 3; ++number)
            if (checked(number))
                unit = normalUnits[number - 1];
    } else if (panelMode == 2) {
        // The level key edits the attenuation when the driver holds that level,
        // and then its display shows decibels, not an amplitude unit.
        const bool levelIsAmplitude =
            !generator || generator->getLevelControl() == devicelink::AmplitudeLevelHeld;
        const int fmUnits[] = {fFmStepUnit, fFmStartUnit, fFmStopUnit, tFmUnit,
                               levelIsAmplitude ? amplitudeUnit : int(attenuationUnit)};
        for (int number = 1; number <= 5; ++number)
            if (checked(number))
                unit = fmUnits[number - 1];
    } else if (panelMode == 3) {
        const int deltaUnits[] = {frequencyStepUnit, amplitudeStepUnit};
        for (int number = 1; number <= 2; ++number)
            if (checked(number))
                unit = deltaUnits[number - 1];
    }
    return unit;
}

void MainWindow::takeOverDisplay(QLCDNumber *display, QLabel *unitLabel) {
    activeDisplay = display;
    activeUnitLabel = unitLabel;
}

// A routine that overwrites the read-out the operator was typing into ends
// that entry, so the next digit starts a fresh number (point and all).
// Called between push and restore. The stacks are empty between events, so
// their first entry is the operator's read-out, also when a report arrives
// inside an arrow's driver call (the top is then the arrow's read-out).
void MainWindow::abandonEntryOn(const QLCDNumber *display) {
    if (!displayStack.empty() && displayStack.front() == display)
        resetEntry();
}

void MainWindow::stepLevel(double direction) {
    if (!generator)
        return;
    pushActiveDisplay();
    if (amplitudeStepUnit == units::Decibel)
        stepAttenuation(-direction); // more attenuation is less output
    else
        stepAmplitude(direction);
    restoreActiveDisplay();
}

void MainWindow::stepAttenuation(double direction) {
    const bool shown = panelMode == 0; // other modes use the parameter row for their own values
    if (shown) {
        takeOverDisplay(ui->lcdNumber_Param, ui->label_ParamUnit);
        activeUnit = int(attenuationUnit);
    }
    if (std::isnan(amplitudeStep))
        return;
    // Each press steps from what the instrument holds, so refusals do not add up.
    double value = attenuation + direction * amplitudeStep;
    attenuationConfirmed = sendToInstrument(&Generator::setAttenuation, value, attenuation);
    if (!shown)
        return;
    abandonEntryOn(ui->lcdNumber_Param);
    displayValue(value, int(attenuationUnit));
    // A refused attenuation must not look like the instrument's setting.
    ui->lcdNumber_Param->setEnabled(attenuationConfirmed);
}

void MainWindow::stepAmplitude(double direction) {
    takeOverDisplay(ui->lcdNumber_Amp, ui->label_AmpUnit);
    activeUnit = amplitudeUnit;
    if (std::isnan(amplitudeStep))
        return;
    double value = activeValueInBase(amplitudeUnit) + direction * amplitudeStep;
    const bool accepted = sendToInstrument(&Generator::setAmplitude, value, amplitude);
    value = roundToThousandth(value); // on what the driver left
    amplitude = roundToThousandth(amplitude);
    abandonEntryOn(ui->lcdNumber_Amp);
    displayValue(value, amplitudeUnit);
    ui->lcdNumber_Amp->setEnabled(accepted);
}

// Steps what the read-out shows (typed text included); `frequency` keeps what
// the instrument holds.
void MainWindow::stepFrequency(double direction) {
    if (!generator)
        return;
    pushActiveDisplay();
    if (!std::isnan(frequencyStep)) {
        takeOverDisplay(ui->lcdNumber_Freq, ui->label_FreqUnit);
        activeUnit = frequencyUnit;
        ui->pushButton_Units1->setText(tr("КГц"));
        ui->pushButton_Units2->setText(tr("МГц"));
        ui->pushButton_Units3->setText(tr("ГГц"));
        double value = activeValueInBase(frequencyUnit) + direction * frequencyStep;
        const bool accepted = sendToInstrument(&Generator::setFrequency, value, frequency);
        abandonEntryOn(ui->lcdNumber_Freq);
        displayValue(value, frequencyUnit);
        ui->lcdNumber_Freq->setEnabled(accepted);
    }
    restoreActiveDisplay();
}
