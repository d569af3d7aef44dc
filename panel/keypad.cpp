// Keypad entry and the unit keys.
#include "app/mainwindow.h"
#include "panel/display.h"
#include "panel/panelmode.h"

#include "ui_mainwindow.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

// Where the typed text stands (MainWindow::entryState).
enum EntryState { IntegerPart = 0, PointPending = 1, FractionPart = 2 };

// The codes that the three unit keys stand for, per kind of quantity.
constexpr std::array<int, 3> frequencyCodes{units::Kilohertz, units::Megahertz, units::Gigahertz};
constexpr std::array<int, 3> amplitudeCodes{units::Volt, units::Millivolt, units::DbmV};
constexpr std::array<int, 3> amplitudeStepCodes{units::Volt, units::Millivolt, units::Decibel};
// The third key of the period stands for nothing.
constexpr std::array<int, 3> periodCodes{units::Second, units::Millisecond, units::None};

// Positions that text takes on a read-out: a point after a digit shares the
// digit's position only when the read-out draws small points.
int positionsOn(const QLCDNumber &display, const QString &text) {
    if (!display.smallDecimalPoint())
        return text.size();
    int positions = 0;
    bool afterDigit = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('.') && afterDigit) {
            afterDigit = false;
            continue;
        }
        ++positions;
        afterDigit = c != QLatin1Char('.');
    }
    return positions;
}

} // namespace

// Six significant digits as the instrument writes them; a number that needs
// more to be written without an exponent (a seven- or eight-digit integer
// being typed) keeps as many digits as the read-out has, so typing continues
// from the number itself rather than from "1.23457e+06".
QString MainWindow::continuationText(double value) const {
    const QString text = QString::number(value, 'g', 6);
    if (!text.contains(QLatin1Char('e')))
        return text;
    return QString::number(value, 'g', std::max(6, activeDisplay->digitCount()));
}

bool MainWindow::fitsActiveDisplay(const QString &text) const {
    return positionsOn(*activeDisplay, text) <= activeDisplay->digitCount();
}

void MainWindow::resetEntry() {
    entryState = IntegerPart;
}

void MainWindow::enterDigit(int digit) {
    if (!activeDisplay)
        return;
    const bool typing = !activeDisplay->isEnabled();
    QString text;
    if (entryState != IntegerPart) {
        if (typing)
            text = entryText;
    } else if (typing && activeDisplay->value() != 0.0) {
        text = continuationText(activeDisplay->value());
    }
    const bool pointPending = entryState == PointPending;
    if (pointPending)
        text += QLatin1Char('.');
    text += QString::number(digit);
    const bool applyMinus = minusPending && digit != 0;
    if (applyMinus)
        text = continuationText(-text.toDouble());
    // A digit the read-out cannot show would only corrupt the number.
    if (!fitsActiveDisplay(text))
        return;

    activeDisplay->setEnabled(false);
    if (pointPending)
        entryState = FractionPart;
    if (applyMinus)
        minusPending = false;
    if (entryState == FractionPart)
        entryText = text;
    activeDisplay->display(text);
}

void MainWindow::on_pushButton_Num0_clicked() {
    enterDigit(0);
}

void MainWindow::on_pushButton_Num1_clicked() {
    enterDigit(1);
}

void MainWindow::on_pushButton_Num2_clicked() {
    enterDigit(2);
}

void MainWindow::on_pushButton_Num3_clicked() {
    enterDigit(3);
}

void MainWindow::on_pushButton_Num4_clicked() {
    enterDigit(4);
}

void MainWindow::on_pushButton_Num5_clicked() {
    enterDigit(5);
}

void MainWindow::on_pushButton_Num6_clicked() {
    enterDigit(6);
}

void MainWindow::on_pushButton_Num7_clicked() {
    enterDigit(7);
}

void MainWindow::on_pushButton_Num8_clicked() {
    enterDigit(8);
}

void MainWindow::on_pushButton_Num9_clicked() {
    enterDigit(9);
}

// The point shows up with the next digit.
void MainWindow::on_pushButton_Dot_clicked() {
    if (!activeDisplay || entryState != IntegerPart)
        return;
    entryText = continuationText(activeDisplay->value());
    entryState = PointPending;
}

// Minus on zero waits for the first non-zero digit; otherwise it negates what
// is shown, committed or not.
void MainWindow::on_pushButton_Minus_clicked() {
    if (!activeDisplay)
        return;
    const double value = activeDisplay->value();
    if (value == 0.0) {
        minusPending = !minusPending;
        return;
    }
    const QString negated = continuationText(-value);
    if (!fitsActiveDisplay(negated))
        return; // a sign the read-out cannot show would be sent unseen
    activeDisplay->display(negated);
    minusPending = false;
    if (entryState != IntegerPart)
        entryText = negated;
}

void MainWindow::on_pushButton_Clear_clicked() {
    if (!activeDisplay)
        return;
    activeDisplay->setEnabled(false);
    activeDisplay->display(0);
    resetEntry();
}

void MainWindow::on_pushButton_OK_clicked() {
    if (!generator)
        return;
    switch (panelMode) {
    case panelmode::Normal:
        commitNormal();
        break;
    case panelmode::Delta:
        commitDelta();
        break;
    case panelmode::Fm:
        commitFm();
        break;
    default:
        showPanelMessage(tr("Не выбран режим работы!"));
        break;
    }
    resetEntry();
}

// Hands a value to a driver's set operation. `value` is left as the driver
// left it, for the read-out; `member`, which the settings file keeps, takes
// only what the instrument holds: its answer, or its old value when it
// refused without one.
bool MainWindow::sendToInstrument(bool (Generator::*set)(double &), double &value, double &member) {
    if (controlLocked()) { // nothing goes out: the read-out shows what the instrument holds
        value = member;
        return true;
    }
    const double requested = value;
    const bool accepted = (generator->*set)(value);
    if (accepted || value != requested)
        member = value;
    return accepted;
}

// Output settings go to the instrument; the read-out then shows what the
// instrument took, or the refused value dimmed.
void MainWindow::commitNormal() {
    if (!activeDisplay)
        return;
    if (isParamChecked(1)) {
        double value = activeValueInBase(frequencyUnit);
        const bool accepted = sendToInstrument(&Generator::setFrequency, value, frequency);
        displayValue(value, frequencyUnit);
        ui->lcdNumber_Freq->setEnabled(accepted);
    }
    if (isParamChecked(2)) {
        double value = roundToThousandth(activeValueInBase(amplitudeUnit));
        const bool accepted = sendToInstrument(&Generator::setAmplitude, value, amplitude);
        displayValue(value, amplitudeUnit);
        ui->lcdNumber_Amp->setEnabled(accepted);
    }
    if (isParamChecked(3)) {
        double value = roundToThousandth(activeDisplay->value());
        attenuationConfirmed = sendToInstrument(&Generator::setAttenuation, value, attenuation);
        displayValue(value, units::Decibel);
        ui->lcdNumber_Param->setEnabled(attenuationConfirmed);
    }
}

// Steps are the panel's own: they are only stored.
void MainWindow::commitDelta() {
    if (activeDisplay) {
        if (isParamChecked(1))
            frequencyStep = activeValueInBase(frequencyStepUnit);
        if (isParamChecked(2))
            amplitudeStep = activeValueInBase(amplitudeStepUnit);
    }
    ui->lcdNumber_Param->setEnabled(true);
}

// Sweep parameters reach the instrument when the sweep starts; only the
// output level goes there at once.
void MainWindow::commitFm() {
    if (!activeDisplay)
        return;
    const std::array<std::pair<double *, int>, 4> sweepParameters{{{&fFmStep, fFmStepUnit},
                                                                   {&fFmStart, fFmStartUnit},
                                                                   {&fFmStop, fFmStopUnit},
                                                                   {&tFm, tFmUnit}}};
    for (int number = 1; number <= 4; ++number) {
        if (!isParamChecked(number))
            continue;
        const auto &parameter = sweepParameters[number - 1];
        *parameter.first = activeValueInBase(parameter.second);
        ui->lcdNumber_Param->setEnabled(true);
    }
    if (!isParamChecked(5))
        return;
    const int levelControl = generator->getLevelControl();
    if (levelControl == devicelink::AmplitudeLevelHeld) {
        double value = activeValueInBase(amplitudeUnit);
        ui->lcdNumber_Amp->setEnabled(sendToInstrument(&Generator::setAmplitude, value, amplitude));
    } else if (levelControl == devicelink::AttenuationLevelHeld) {
        double value = activeValueInBase(static_cast<int>(attenuationUnit));
        attenuationConfirmed = sendToInstrument(&Generator::setAttenuation, value, attenuation);
        ui->lcdNumber_Param->setEnabled(attenuationConfirmed);
    }
}

void MainWindow::on_pushButton_Units1_clicked() {
    pressUnitKey(1, ui->pushButton_Units1);
}

void MainWindow::on_pushButton_Units2_clicked() {
    pressUnitKey(2, ui->pushButton_Units2);
}

void MainWindow::on_pushButton_Units3_clicked() {
    pressUnitKey(3, ui->pushButton_Units3);
}

// A committed value is shown again in the new unit; typed text stays and is
// read in the new unit at OK. The label always takes the key's own text.
void MainWindow::pressUnitKey(int key, const QPushButton *button) {
    if (!activeDisplay)
        return;
    const bool committed = activeDisplay->isEnabled();
    const double shownInBase = committed ? activeValueInBase(activeUnit) : 0.0;
    if (!applyUnitKey(key, committed))
        return;
    if (committed)
        displayValue(shownInBase, activeUnit);
    activeUnitLabel->setText(button->text());
}

// The output level key always sets the amplitude's unit, but the shown unit
// follows only while the amplitude is shown: an attenuation read in millivolts
// would come out a thousand times too large at OK.
void MainWindow::setLevelUnit(int code) {
    amplitudeUnit = code;
    if (activeDisplay == ui->lcdNumber_Amp)
        activeUnit = code;
}

void MainWindow::setUnit(int &member, int code) {
    if (code == units::None)
        return;
    member = code;
    activeUnit = code;
}

// Sets the unit of every checked parameter of the mode; false when the key is
// refused and nothing may change.
bool MainWindow::applyUnitKey(int key, bool committed) {
    const int index = key - 1;
    switch (panelMode) {
    case panelmode::Normal:
        if (isParamChecked(1))
            setUnit(frequencyUnit, frequencyCodes[index]);
        if (isParamChecked(2))
            setUnit(amplitudeUnit, amplitudeCodes[index]);
        if (isParamChecked(3) && key == 1) {
            attenuationUnit = units::Decibel;
            activeUnit = units::Decibel;
        }
        return true;
    case panelmode::Fm:
        if (isParamChecked(1))
            setUnit(fFmStepUnit, frequencyCodes[index]);
        if (isParamChecked(2))
            setUnit(fFmStartUnit, frequencyCodes[index]);
        if (isParamChecked(3))
            setUnit(fFmStopUnit, frequencyCodes[index]);
        if (isParamChecked(4))
            setUnit(tFmUnit, periodCodes[index]);
        if (isParamChecked(5))
            setLevelUnit(amplitudeCodes[index]);
        return true;
    case panelmode::Delta: {
        // A committed step cannot be turned between decibels and volts.
        const bool decibelKey = amplitudeStepCodes[index] == units::Decibel;
        const bool refused =
            isParamChecked(2) && committed && (decibelKey || activeUnit == units::Decibel);
        if (refused)
            return false;
        if (isParamChecked(1))
            setUnit(frequencyStepUnit, frequencyCodes[index]);
        if (isParamChecked(2))
            setUnit(amplitudeStepUnit, amplitudeStepCodes[index]);
        return true;
    }
    default:
        return true;
    }
}
