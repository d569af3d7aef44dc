// The mode keys (Delta, AM, FM) and the FM kind.
#include "app/mainwindow.h"
#include "panel/display.h"

#include "ui_mainwindow.h"

#include <QPushButton>

#include <array>

namespace {

enum Mode { Normal = 0, Am = 1, Fm = 2, Delta = 3 };

struct ParamKey {
    const char *caption;
    bool checkable;
};

using ParamRow = std::array<ParamKey, 6>;

// What the six parameter keys read in each mode, and which of them stay down.
const ParamRow &paramRow(int mode) {
    static const ParamRow normal = {{{QT_TRANSLATE_NOOP("MainWindow", "Частота"), true},
                                     {QT_TRANSLATE_NOOP("MainWindow", "Амп"), true},
                                     {QT_TRANSLATE_NOOP("MainWindow", "Ослабление"), true},
                                     {"", false},
                                     {"", false},
                                     {"", false}}};
    static const ParamRow am = {{{QT_TRANSLATE_NOOP("MainWindow", "Частота"), true},
                                 {"", false},
                                 {"", false},
                                 {"", false},
                                 {"", false},
                                 {QT_TRANSLATE_NOOP("MainWindow", "Вкл"), true}}};
    static const ParamRow fm = {{{QT_TRANSLATE_NOOP("MainWindow", "Шаг скан."), true},
                                 {QT_TRANSLATE_NOOP("MainWindow", "Нижняя Гр."), true},
                                 {QT_TRANSLATE_NOOP("MainWindow", "Верхняя Гр."), true},
                                 {QT_TRANSLATE_NOOP("MainWindow", "Период"), true},
                                 {QT_TRANSLATE_NOOP("MainWindow", "Амп"), true},
                                 {QT_TRANSLATE_NOOP("MainWindow", "Вкл"), true}}};
    static const ParamRow delta = {{{QT_TRANSLATE_NOOP("MainWindow", "Частота"), true},
                                    {QT_TRANSLATE_NOOP("MainWindow", "Амп"), true},
                                    {"", true},
                                    {"", true},
                                    {"", true},
                                    {"", true}}};
    switch (mode) {
    case Am:
        return am;
    case Fm:
        return fm;
    case Delta:
        return delta;
    default:
        return normal;
    }
}

} // namespace

// Under a client's lock a running sweep stays on, and so does FM mode, which shows it.
bool MainWindow::keepSweepShown(QPushButton *modeKey, bool checked) {
    if (panelMode != Fm || !paramButtons[5]->isChecked() || !controlLocked())
        return false;
    modeKey->setChecked(!checked);
    return true;
}

void MainWindow::on_pushButton_Delta_clicked(bool checked) {
    if (keepSweepShown(ui->pushButton_Delta, checked))
        return;
    if (checked)
        enterMode(Delta);
    else
        resetPanelMode();
}

void MainWindow::on_pushButton_AM_clicked(bool checked) {
    if (keepSweepShown(ui->pushButton_AM, checked))
        return;
    if (checked)
        enterMode(Am);
    else
        resetPanelMode();
}

void MainWindow::on_pushButton_FM_clicked(bool checked) {
    if (keepSweepShown(ui->pushButton_FM, checked))
        return;
    if (checked)
        enterMode(Fm);
    else
        resetPanelMode();
}

// A sweep runs only while its mode is shown, whichever way the mode is left.
void MainWindow::leaveFmMode() {
    if (panelMode == Fm && generator)
        generator->stopFm();
}

void MainWindow::enterMode(int mode) {
    const std::array<QPushButton *, 3> modeButtons = {ui->pushButton_AM, ui->pushButton_FM,
                                                      ui->pushButton_Delta};
    QPushButton *own = mode == Am   ? ui->pushButton_AM
                       : mode == Fm ? ui->pushButton_FM
                                    : ui->pushButton_Delta;
    for (QPushButton *button : modeButtons)
        if (button != own)
            button->setChecked(false);
    if (mode != Fm)
        leaveFmMode();
    panelMode = mode;
    setParameterRow(mode);
    if (mode != Fm)
        blankParameterDisplay();
    clearActive();
    resetEntry();
}

void MainWindow::resetPanelMode() {
    leaveFmMode();
    panelMode = Normal;
    setParameterRow(Normal);
    ui->label_Param->setText(tr("Ослабление"));
    ui->lcdNumber_Param->display(QString::number(attenuation, 'g', 6));
    // It shows the stored attenuation again, not text typed in another mode,
    // dimmed while the instrument has not confirmed it.
    ui->lcdNumber_Param->setEnabled(attenuationConfirmed);
    ui->label_ParamUnit->setText(QStringLiteral("dB"));
    clearActive();
    resetEntry();
}

// Unchecks the six keys (no clicked(), so their handlers stay quiet), then
// gives them the mode's captions, then the mode's checkable flags.
void MainWindow::setParameterRow(int mode) {
    const ParamRow &row = paramRow(mode);
    for (QPushButton *button : paramButtons)
        button->setChecked(false);
    for (size_t i = 0; i < paramButtons.size(); ++i)
        paramButtons[i]->setText(*row[i].caption ? tr(row[i].caption) : QString());
    for (size_t i = 0; i < paramButtons.size(); ++i)
        paramButtons[i]->setCheckable(row[i].checkable);
}

// Each parameter key is as wide as its widest caption in any mode.
void MainWindow::fitParameterKeys() {
    for (size_t i = 0; i < paramButtons.size(); ++i) {
        QStringList captions;
        for (int mode : {Normal, Am, Fm, Delta})
            captions << tr(paramRow(mode)[i].caption);
        reserveWidthFor(paramButtons[i], captions);
    }
}

void MainWindow::blankParameterDisplay() {
    ui->label_Param->setText(QString());
    ui->lcdNumber_Param->display(QStringLiteral(" "));
    ui->label_ParamUnit->setText(QString());
}

void MainWindow::setUpChirpModulation() {
    setFmKind(devicelink::ChirpUp);
}

void MainWindow::setDownChirpModulation() {
    setFmKind(devicelink::ChirpDown);
}

void MainWindow::setFhssModulation() {
    setFmKind(devicelink::FrequencyHopping);
}

// Every driver gets the kind, so the menu works whichever model is connected.
// The sweep itself is started and stopped with "Вкл" only.
void MainWindow::setFmKind(int kind) {
    if (controlLocked()) {
        markDriverChoicesInMenus(); // the menu shows the kind the instrument keeps
        return;
    }
    orvexDriver.setFmMode(kind);
    pylarDriver.setFmMode(kind);
    quendtDriver.setFmMode(kind);
}
