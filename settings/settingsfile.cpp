// The settings file kept between runs: "settings.txt" in the current directory
// (in ~/.config/rfpanel when started from the desktop menu), INI format, the
// panel values under [Display] and the driver's choices under [Settings]. A
// file there that holds anything else is someone else's: never read, never
// written. It is read with QSettings but written here: QSettings' QSaveFile
// commits even when its final flush failed (a full disk), replacing the
// previous file with a truncated one.
#include "app/mainwindow.h"
#include "panel/display.h"
#include "setups.h"

#include "ui_mainwindow.h"

#include <QAction>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

#include <unistd.h>

namespace {

const QString amplitudeKey = QStringLiteral("Display/amplitude");
const QString amplitudeUnitKey = QStringLiteral("Display/amplitudeUnit");
const QString attenuationKey = QStringLiteral("Display/attenuation");
const QString attenuationUnitKey = QStringLiteral("Display/attenuationUnit");
const QString amplitudeStepKey = QStringLiteral("Display/amplitudeStep");
const QString amplitudeStepUnitKey = QStringLiteral("Display/amplitudeStepUnit");
const QString frequencyKey = QStringLiteral("Display/frequency");
const QString frequencyUnitKey = QStringLiteral("Display/frequencyUnit");
const QString frequencyStepKey = QStringLiteral("Display/frequencyStep");
const QString frequencyStepUnitKey = QStringLiteral("Display/frequencyStepUnit");
const QString fFmStartKey = QStringLiteral("Display/fFmStart");
const QString fFmStartUnitKey = QStringLiteral("Display/fFmStartUnit");
const QString fFmStopKey = QStringLiteral("Display/fFmStop");
const QString fFmStopUnitKey = QStringLiteral("Display/fFmStopUnit");
const QString fFmStepKey = QStringLiteral("Display/fFmStep");
const QString fFmStepUnitKey = QStringLiteral("Display/fFmStepUnit");
const QString tFmKey = QStringLiteral("Display/tFm");
const QString tFmUnitKey = QStringLiteral("Display/tFmUnit");
const QString frequencyGridKey = QStringLiteral("Settings/FrequencyGrid");
const QString fmModeKey = QStringLiteral("Settings/FmMode");
const QString portKey = QStringLiteral("Settings/Port");
const QString loopbackOnlyKey = QStringLiteral("Settings/LoopbackOnly");

constexpr int defaultTcpPort = 5025;

// A program started from the desktop menu runs in the home folder with no
// terminal: its file goes to the configuration folder, not among the user's own.
QString settingsPath() {
    QString folder = QDir::currentPath();
    if (folder == QDir::homePath() && !::isatty(STDIN_FILENO)) {
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                 QStringLiteral("/rfpanel");
        QDir().mkpath(folder);
    }
    return folder + QStringLiteral("/settings.txt");
}

// Whether the file holds only this program's sections and keys (or is absent).
bool isOwnFile(const QString &path) {
    const QStringList keys = {
        amplitudeKey,     amplitudeUnitKey,     attenuationKey,   attenuationUnitKey,
        amplitudeStepKey, amplitudeStepUnitKey, frequencyKey,     frequencyUnitKey,
        frequencyStepKey, frequencyStepUnitKey, fFmStartKey,      fFmStartUnitKey,
        fFmStopKey,       fFmStopUnitKey,       fFmStepKey,       fFmStepUnitKey,
        tFmKey,           tFmUnitKey,           frequencyGridKey, fmModeKey,
        portKey,          loopbackOnlyKey};
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString section;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty())
            continue;
        if (line == QLatin1String("[Display]") || line == QLatin1String("[Settings]")) {
            section = line.mid(1, line.size() - 2);
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || !keys.contains(section + QLatin1Char('/') + line.left(equals).trimmed()))
            return false;
    }
    return true;
}

// Values are read back at full precision; text that is not a number counts as
// a missing key.
double readValue(const QSettings &file, const QString &key, double fallback) {
    bool ok = false;
    const double value = file.value(key).toDouble(&ok);
    return ok ? value : fallback;
}

int readInt(const QSettings &file, const QString &key, int fallback) {
    bool ok = false;
    const int value = file.value(key).toInt(&ok);
    return ok ? value : fallback;
}

// A unit code the value cannot be shown in (a damaged file) counts as missing.
int readUnit(const QSettings &file, const QString &key, int fallback, const QVector<int> &allowed) {
    const int code = readInt(file, key, fallback);
    for (int unit : allowed)
        if (unit == code)
            return code;
    return fallback;
}

// What the file holds now: what this run has nothing newer for is kept.
QVariantMap storedEntries(const QString &path) {
    const QSettings file(path, QSettings::IniFormat);
    QVariantMap entries;
    for (const QString &key : file.allKeys())
        entries.insert(key, file.value(key));
    return entries;
}

// The INI text of "Section/key" entries, values as QSettings writes them.
QByteArray iniText(const QVariantMap &entries) {
    QString text, section;
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry) {
        if (entry.key().section(QLatin1Char('/'), 0, 0) != section) {
            section = entry.key().section(QLatin1Char('/'), 0, 0);
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + '[' + section + "]\n";
        }
        text += entry.key().section(QLatin1Char('/'), 1) + '=' + entry.value().toString() + '\n';
    }
    return text.toUtf8();
}

} // namespace

void MainWindow::saveSettings() {
    if ((!settingsLoaded && !generator) || settingsForeign)
        return; // nothing to store, or not ours: the file stays exactly as it is
    const QString path = settingsPath();
    QVariantMap entries = storedEntries(path);
    if (settingsLoaded)
        writePanelValues(entries);
    if (generator)
        writeDriverSettings(entries);
    // A write that fails leaves the previous file as it was. The window is
    // going away: the notice goes to the terminal or the session's log.
    QString why;
    if (!rfgen::setups::replaceFile(path, iniText(entries), why))
        qWarning().noquote() << tr("Настройки не сохранены: не удалось записать %1")
                                    .arg(QDir::toNativeSeparators(path));
}

void MainWindow::loadSettings() {
    const QString path = settingsPath();
    settingsForeign = !isOwnFile(path);
    if (settingsForeign)
        showPanelMessage(tr("Файл settings.txt в этой папке не от этой программы: настройки не "
                            "будут сохранены"));
    // Someone else's file counts as none: the start values apply.
    const QSettings file(settingsForeign ? QStringLiteral("/dev/null") : path,
                         QSettings::IniFormat);
    readPanelValues(file);
    if (generator)
        applyDriverSettings(file);
    showLoadedValues();
    settingsLoaded = true;
}

void MainWindow::writePanelValues(QVariantMap &file) const {
    file.insert(amplitudeKey, amplitude);
    file.insert(amplitudeUnitKey, amplitudeUnit);
    file.insert(attenuationKey, attenuation);
    file.insert(attenuationUnitKey, attenuationUnit);
    file.insert(amplitudeStepKey, amplitudeStep);
    file.insert(amplitudeStepUnitKey, amplitudeStepUnit);
    file.insert(frequencyKey, frequency);
    file.insert(frequencyUnitKey, frequencyUnit);
    file.insert(frequencyStepKey, frequencyStep);
    file.insert(frequencyStepUnitKey, frequencyStepUnit);
    file.insert(fFmStartKey, fFmStart);
    file.insert(fFmStartUnitKey, fFmStartUnit);
    file.insert(fFmStopKey, fFmStop);
    file.insert(fFmStopUnitKey, fFmStopUnit);
    file.insert(fFmStepKey, fFmStep);
    file.insert(fFmStepUnitKey, fFmStepUnit);
    file.insert(tFmKey, tFm);
    file.insert(tFmUnitKey, tFmUnit);
}

void MainWindow::writeDriverSettings(QVariantMap &file) const {
    file.insert(frequencyGridKey, generator->getFrequencyGrid());
    file.insert(fmModeKey, generator->getFmMode());
    file.insert(portKey, generator->getTcpPort());
    file.insert(loopbackOnlyKey, int(loopbackOnly));
}

void MainWindow::readPanelValues(const QSettings &file) {
    amplitude = readValue(file, amplitudeKey, 0.0);
    amplitudeUnit = readUnit(file, amplitudeUnitKey, units::Millivolt, units::amplitudeCodes);
    attenuation = readValue(file, attenuationKey, 0.0);
    attenuationUnit = readUnit(file, attenuationUnitKey, units::Decibel, units::attenuationCodes);
    amplitudeStep = readValue(file, amplitudeStepKey, 1.0);
    amplitudeStepUnit =
        readUnit(file, amplitudeStepUnitKey, units::DbmV, units::amplitudeStepCodes);
    frequency = readValue(file, frequencyKey, 100000000.0);
    frequencyUnit = readUnit(file, frequencyUnitKey, units::Megahertz, units::frequencyCodes);
    frequencyStep = readValue(file, frequencyStepKey, 1000000.0);
    frequencyStepUnit =
        readUnit(file, frequencyStepUnitKey, units::Megahertz, units::frequencyCodes);
    fFmStart = readValue(file, fFmStartKey, 0.0);
    fFmStartUnit = readUnit(file, fFmStartUnitKey, units::Megahertz, units::frequencyCodes);
    fFmStop = readValue(file, fFmStopKey, 0.0);
    fFmStopUnit = readUnit(file, fFmStopUnitKey, units::Megahertz, units::frequencyCodes);
    fFmStep = readValue(file, fFmStepKey, 0.0);
    fFmStepUnit = readUnit(file, fFmStepUnitKey, units::Megahertz, units::frequencyCodes);
    if (file.contains(tFmUnitKey)) {
        tFm = readValue(file, tFmKey, 0.0);
        tFmUnit = readUnit(file, tFmUnitKey, units::Millisecond, units::periodCodes);
    } else {
        // An older file keeps the period's unit code under the period's key;
        // the period itself was not stored.
        tFm = 0.0;
        tFmUnit = readUnit(file, tFmKey, units::Millisecond, units::periodCodes);
    }
}

void MainWindow::applyDriverSettings(const QSettings &file) {
    generator->setFrequencyGrid(readInt(file, frequencyGridKey, devicelink::Grid10KHz));
    generator->setFmMode(readInt(file, fmModeKey, devicelink::ChirpUp));
    generator->setTcpPort(readInt(file, portKey, defaultTcpPort));
    loopbackOnly = readInt(file, loopbackOnlyKey, 0) == 1;
    applyAccessRules();
    markDriverChoicesInMenus();
}

// The menus show what the driver holds now, not what was last clicked.
void MainWindow::markDriverChoicesInMenus() {
    const QList<QAction *> gridActions = {grid1KHzAction, grid2KHzAction, grid5KHzAction,
                                          grid10KHzAction};
    const QList<QAction *> fmKindActions = {upChirpAction, downChirpAction, fhssAction};
    if (QAction *action = gridActions.value(generator->getFrequencyGrid()))
        action->setChecked(true);
    if (QAction *action = fmKindActions.value(generator->getFmMode()))
        action->setChecked(true);
}

// The read-outs show the loaded values dimmed until the instrument confirms them.
void MainWindow::showLoadedValues() {
    activeDisplay = ui->lcdNumber_Freq;
    activeUnitLabel = ui->label_FreqUnit;
    displayValue(frequency, frequencyUnit);
    activeDisplay = ui->lcdNumber_Amp;
    activeUnitLabel = ui->label_AmpUnit;
    displayValue(amplitude, amplitudeUnit);
    clearActive();
    for (QPushButton *button : paramButtons)
        button->setChecked(false); // no key down without its read-out active
    ui->lcdNumber_Amp->setEnabled(false);
    ui->lcdNumber_Freq->setEnabled(false);
    ui->lcdNumber_Param->setEnabled(false);
}
