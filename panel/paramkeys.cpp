// The parameter keys: what the keypad edits in each mode.
#include "app/mainwindow.h"
#include "panel/display.h"
#include "panel/panelmode.h"

#include "ui_mainwindow.h"

namespace {

// A label keeps the width of the longest text it may show, whatever it shows now.
void fixWidthFor(QLabel *label, const QStringList &texts) {
    reserveWidthFor(label, texts);
    label->setFixedWidth(label->minimumWidth());
}

// Unit key texts, shown through tr() in the panel's language.
const char *const kilohertz = QT_TRANSLATE_NOOP("MainWindow", "КГц");
const char *const megahertz = QT_TRANSLATE_NOOP("MainWindow", "МГц");
const char *const gigahertz = QT_TRANSLATE_NOOP("MainWindow", "ГГц");
const char *const volt = QT_TRANSLATE_NOOP("MainWindow", "В");
const char *const millivolt = QT_TRANSLATE_NOOP("MainWindow", "мВ");
const char *const dbmV = "dBmV";
const char *const decibel = "dB";
const char *const blank = " ";
// Cyrillic, as printed on the instrument's key
const char *const second = QT_TRANSLATE_NOOP("MainWindow", "с");
const char *const millisecond = QT_TRANSLATE_NOOP("MainWindow", "мс");
const char *const none = "";

// The last key that a selection releases: in FM mode the sweep switch (the
// sixth key) is left alone, so choosing a sweep parameter keeps the sweep on.
int lastReleasedKey(int mode) {
    return mode == panelmode::Fm ? 5 : 6;
}

} // namespace

// The unit keys and labels may show any unit, the parameter read-out's
// caption any that the keys below give it. The digits are what is read from
// across the bench: the caption and unit columns keep the width of their
// longest text, the read-outs take all the rest.
void MainWindow::fitReadoutTexts() {
    QStringList unitLabels;
    for (int code = units::Volt; code <= units::Millisecond; ++code)
        unitLabels << units::label(code);
    for (QLabel *label : {ui->label_FreqUnit, ui->label_AmpUnit, ui->label_ParamUnit})
        fixWidthFor(label, unitLabels);
    QStringList keyTexts;
    for (const char *text :
         {kilohertz, megahertz, gigahertz, volt, millivolt, dbmV, decibel, second, millisecond})
        keyTexts << tr(text);
    for (QPushButton *key : {ui->pushButton_Units1, ui->pushButton_Units2, ui->pushButton_Units3})
        reserveWidthFor(key, keyTexts);
    const QStringList captions = {ui->label_Freq->text(), ui->label_Amp->text(), tr("Ослабление"),
                                  tr("Шаг Частоты"),      tr("Шаг Амп."),        tr("Шаг Скан."),
                                  tr("Нижняя Гр."),       tr("Верхняя Гр."),     tr("Период")};
    for (QLabel *caption : {ui->label_Freq, ui->label_Amp, ui->label_Param})
        fixWidthFor(caption, captions);
}

bool MainWindow::isParamChecked(int number) const {
    return paramButtons[number - 1]->isChecked();
}

// Without an instrument the driver default holds: the amplitude.
bool MainWindow::levelHeldAsAmplitude() {
    return !generator || generator->getLevelControl() == devicelink::AmplitudeLevelHeld;
}

// Every other key up to the mode's last one is released through its own
// handler, in ascending order, so each restores its read-out before the new
// selection is made; checked or not, each gets its clicked(false).
void MainWindow::deselectOtherParams(int number) {
    for (int other = 1; other <= lastReleasedKey(panelMode); ++other) {
        if (other == number)
            continue;
        QPushButton *button = paramButtons[other - 1];
        button->setChecked(false);
        emit button->clicked(false);
    }
}

void MainWindow::setUnitKeyTexts(const char *first, const char *second, const char *third) {
    ui->pushButton_Units1->setText(tr(first));
    ui->pushButton_Units2->setText(tr(second));
    ui->pushButton_Units3->setText(tr(third));
}

void MainWindow::setActiveReadout(QLCDNumber *display, QLabel *unitLabel) {
    activeDisplay = display;
    activeUnitLabel = unitLabel;
}

// A newly selected parameter starts a new entry, whatever was left typed.
void MainWindow::makeActive(QLCDNumber *display, QLabel *unitLabel, int unit) {
    setActiveReadout(display, unitLabel);
    activeUnit = unit;
    resetEntry();
}

void MainWindow::selectOnParamDisplay(const QString &caption, double value, int unit) {
    ui->label_Param->setText(caption);
    makeActive(ui->lcdNumber_Param, ui->label_ParamUnit, unit);
    displayValue(value, unit);
}

// Typed, uncommitted text is dropped: the read-out shows the stored value.
void MainWindow::redrawAndRelease(QLCDNumber *display, QLabel *unitLabel, double value, int unit) {
    setActiveReadout(display, unitLabel);
    displayValue(value, unit);
    clearActive();
}

void MainWindow::on_pushButton_Param1_clicked(bool checked) {
    switch (panelMode) {
    case panelmode::Normal:
        if (!checked) {
            redrawAndRelease(ui->lcdNumber_Freq, ui->label_FreqUnit, frequency, frequencyUnit);
            return;
        }
        deselectOtherParams(1);
        setUnitKeyTexts(kilohertz, megahertz, gigahertz);
        makeActive(ui->lcdNumber_Freq, ui->label_FreqUnit, frequencyUnit);
        return;
    case panelmode::Delta:
        if (!checked) {
            clearActive();
            return;
        }
        deselectOtherParams(1);
        setUnitKeyTexts(kilohertz, megahertz, gigahertz);
        selectOnParamDisplay(tr("Шаг Частоты"), frequencyStep, frequencyStepUnit);
        return;
    case panelmode::Fm:
        if (!checked) {
            clearActive();
            return;
        }
        deselectOtherParams(1);
        setUnitKeyTexts(kilohertz, megahertz, gigahertz);
        selectOnParamDisplay(tr("Шаг Скан."), fFmStep, fFmStepUnit);
        return;
    default:
        return;
    }
}

void MainWindow::on_pushButton_Param2_clicked(bool checked) {
    switch (panelMode) {
    case panelmode::Normal:
        if (!checked) {
            redrawAndRelease(ui->lcdNumber_Amp, ui->label_AmpUnit, amplitude, amplitudeUnit);
            return;
        }
        deselectOtherParams(2);
        setUnitKeyTexts(volt, millivolt, dbmV);
        makeActive(ui->lcdNumber_Amp, ui->label_AmpUnit, amplitudeUnit);
        return;
    case panelmode::Delta:
        if (!checked) {
            clearActive();
            return;
        }
        deselectOtherParams(2);
        setUnitKeyTexts(volt, millivolt, decibel);
        selectOnParamDisplay(tr("Шаг Амп."), amplitudeStep, amplitudeStepUnit);
        return;
    case panelmode::Fm:
        if (!checked) {
            clearActive();
            return;
        }
        deselectOtherParams(2);
        setUnitKeyTexts(kilohertz, megahertz, gigahertz);
        selectOnParamDisplay(tr("Нижняя Гр."), fFmStart, fFmStartUnit);
        return;
    default:
        return;
    }
}

void MainWindow::on_pushButton_Param3_clicked(bool checked) {
    switch (panelMode) {
    case panelmode::Normal:
        if (!checked) {
            // The kept attenuation is the instrument's: shown lit, it stays lit.
            redrawAndRelease(ui->lcdNumber_Param, ui->label_ParamUnit, attenuation, units::Decibel);
            attenuationConfirmed = true;
            return;
        }
        deselectOtherParams(3);
        setUnitKeyTexts(decibel, blank, blank);
        makeActive(ui->lcdNumber_Param, ui->label_ParamUnit, static_cast<int>(attenuationUnit));
        return;
    case panelmode::Fm:
        if (!checked) {
            clearActive();
            return;
        }
        deselectOtherParams(3);
        setUnitKeyTexts(kilohertz, megahertz, gigahertz);
        selectOnParamDisplay(tr("Верхняя Гр."), fFmStop, fFmStopUnit);
        return;
    default:
        return;
    }
}

void MainWindow::on_pushButton_Param4_clicked(bool checked) {
    if (panelMode != panelmode::Fm)
        return;
    if (!checked) {
        clearActive();
        return;
    }
    deselectOtherParams(4);
    setUnitKeyTexts(second, millisecond, none);
    selectOnParamDisplay(tr("Период"), tFm, tFmUnit);
}

void MainWindow::on_pushButton_Param5_clicked(bool checked) {
    if (panelMode != panelmode::Fm)
        return;
    if (checked)
        selectLevel();
    else
        releaseLevel();
}

// The output level is the amplitude or the attenuation, whichever the
// instrument holds; asked after the other keys are released.
void MainWindow::selectLevel() {
    deselectOtherParams(5);
    if (levelHeldAsAmplitude()) {
        setUnitKeyTexts(volt, millivolt, dbmV);
        makeActive(ui->lcdNumber_Amp, ui->label_AmpUnit, amplitudeUnit);
        return;
    }
    ui->label_Param->setText(tr("Ослабление"));
    setUnitKeyTexts(decibel, blank, blank);
    makeActive(ui->lcdNumber_Param, ui->label_ParamUnit, static_cast<int>(attenuationUnit));
}

// Redraws whatever read-out is active now: after a release cascade started by
// another key that is none, so only a release of this key itself redraws.
void MainWindow::releaseLevel() {
    if (levelHeldAsAmplitude())
        displayValue(amplitude, activeUnit);
    else
        displayValue(attenuation, static_cast<int>(attenuationUnit));
    clearActive();
}

void MainWindow::on_pushButton_Param6_clicked(bool checked) {
    if (panelMode != panelmode::Fm || !generator)
        return;
    if (controlLocked()) { // the sweep stays as the instrument has it
        paramButtons[5]->setChecked(!checked);
        return;
    }
    if (checked)
        startSweep();
    else
        generator->stopFm();
}

// All four sweep parameters go at once; the instrument may adjust them, and a
// refused start dims the output read-outs and leaves "Вкл" up.
void MainWindow::startSweep() {
    const bool started = generator->startFm(fFmStart, fFmStop, fFmStep, tFm);
    ui->lcdNumber_Amp->setEnabled(started);
    ui->lcdNumber_Freq->setEnabled(started);
    paramButtons[5]->setChecked(started);
    redrawSelectedSweepParameter();
}

void MainWindow::redrawSelectedSweepParameter() {
    const std::pair<double, int> sweepParameters[] = {
        {fFmStep, fFmStepUnit}, {fFmStart, fFmStartUnit}, {fFmStop, fFmStopUnit}, {tFm, tFmUnit}};
    for (int number = 1; number <= 4; ++number) {
        if (!isParamChecked(number))
            continue;
        setActiveReadout(ui->lcdNumber_Param, ui->label_ParamUnit);
        displayValue(sweepParameters[number - 1].first, sweepParameters[number - 1].second);
        // The redraw replaces any typed text, so that entry is over.
        resetEntry();
    }
}
