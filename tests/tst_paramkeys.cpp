// The parameter keys on the real panel: which read-out each makes active in
// each mode, the release of the other keys, the captions and unit key texts,
// the output level and the sweep switch, with a simulated instrument of the
// third model behind the serial port.
#include "app/mainwindow.h"
#include "panel/panelmode.h"
#include "panelkeys.h"
#include "sim/instrument.h"
#include "sim/testbed.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using panelkeys::draws;
using panelkeys::settingCommands;

namespace {
// A caption or read-out text that no key writes, to see what is left alone.
const QString untouched = QStringLiteral("77");
const QString untouchedCaption = QStringLiteral("(before)");
} // namespace

class TestParamKeys : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void releaseCascade_data();
    void releaseCascade();
    void selectionInNormalModeRedrawsTheOthers();
    void secondClickReleases();
    void releaseKeepsTypedTextInDeltaAndFm_data();
    void releaseKeepsTypedTextInDeltaAndFm();
    void selection_data();
    void selection();
    void levelRelease_data();
    void levelRelease();
    void levelNotRedrawnWhenAnotherKeyReleasesIt();
    void sweepStartsAndStops();
    void sweepRefused_data();
    void sweepRefused();
    void keysWithoutRole_data();
    void keysWithoutRole();

private:
    bool press(const QString &sequence) { return panelkeys::pressAll(*window, sequence); }
    QLCDNumber *display(const QString &name) { return window->findChild<QLCDNumber *>(name); }
    // The unit label beside a read-out: lcdNumber_Amp has label_AmpUnit.
    QLabel *unitLabelBeside(const QString &readout) {
        QString name = readout;
        name.replace(QStringLiteral("lcdNumber_"), QStringLiteral("label_"));
        return window->findChild<QLabel *>(name + QStringLiteral("Unit"));
    }
    void enterMode(int mode);
    void setStoredValues();
    void markReadouts();
    void waitForFirstPoll();
    void holdLevel(int levelControl);

    sim::Testbed testbed;
    std::unique_ptr<sim::Instrument> instrument;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<MainWindow> window;
};

void TestParamKeys::initTestCase() {
    QVERIFY2(testbed.isValid(), qPrintable(testbed.errorString()));
    // One instrument, so the search finds exactly one: 100 kHz to 12.75 GHz.
    instrument = std::make_unique<sim::Instrument>(devicelink::QuendtModel);
    QVERIFY(testbed.addDevice(instrument->usbIdentity(), instrument.get()) >= 0);
}

void TestParamKeys::init() {
    // The window reads and writes its settings file in the current directory.
    workDir = std::make_unique<QTemporaryDir>();
    QVERIFY(workDir->isValid());
    QVERIFY(QDir::setCurrent(workDir->path()));
    instrument->handleLine("*RST;*CLS");
    instrument->clearReceivedLines();
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // The window finds the one instrument by itself while it is built.
    QVERIFY(window->generator == &window->quendtDriver);
    QTRY_VERIFY(window->generator->isConnected());
    QVERIFY(window->ui->centralWidget->isEnabled());
    waitForFirstPoll();
    window->generator->setFrequencyGrid(devicelink::Grid10KHz);
    holdLevel(devicelink::AmplitudeLevelHeld);
    window->errorBox.hide();
    setStoredValues();
    instrument->clearReceivedLines();
}

void TestParamKeys::waitForFirstPoll() {
    PanelKeys::waitForFirstPoll(*instrument);
}

void TestParamKeys::holdLevel(int levelControl) {
    PanelKeys::holdLevel(*window, *instrument, levelControl);
}

void TestParamKeys::cleanup() {
    window.reset();
    workDir.reset();
}

void TestParamKeys::enterMode(int mode) {
    PanelKeys::enterMode(*window, mode);
}

// Distinct stored values and units, as a settings file could leave them.
void TestParamKeys::setStoredValues() {
    MainWindow &w = *window;
    w.frequency = 12.5e6;
    w.frequencyUnit = 6;
    w.amplitude = 0.25;
    w.amplitudeUnit = 2;
    w.attenuation = 10.5;
    w.attenuationUnit = 4.0;
    w.frequencyStep = 25e3;
    w.frequencyStepUnit = 5;
    w.amplitudeStep = 1.0;
    w.amplitudeStepUnit = 3;
    w.fFmStep = 100e3;
    w.fFmStepUnit = 5;
    w.fFmStart = 12.5e6;
    w.fFmStartUnit = 6;
    w.fFmStop = 2e9;
    w.fFmStopUnit = 7;
    w.tFm = 0.25;
    w.tFmUnit = 9;
}

void TestParamKeys::markReadouts() {
    for (QLCDNumber *readout :
         {window->ui->lcdNumber_Freq, window->ui->lcdNumber_Amp, window->ui->lcdNumber_Param}) {
        readout->display(untouched);
        readout->setEnabled(false);
    }
    for (QLabel *label :
         {window->ui->label_FreqUnit, window->ui->label_AmpUnit, window->ui->label_ParamUnit})
        label->setText(untouchedCaption);
    window->ui->label_Param->setText(untouchedCaption);
}

void TestParamKeys::releaseCascade_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("othersChecked");
    QTest::addColumn<QString>("released"); // keys that get clicked(false), in order

    QTest::newRow("normal 1") << int(panelmode::Normal) << 1 << false << "2 3 4 5 6";
    QTest::newRow("normal 2") << int(panelmode::Normal) << 2 << true << "1 3 4 5 6";
    QTest::newRow("normal 3") << int(panelmode::Normal) << 3 << false << "1 2 4 5 6";
    QTest::newRow("delta 1") << int(panelmode::Delta) << 1 << true << "2 3 4 5 6";
    QTest::newRow("delta 2") << int(panelmode::Delta) << 2 << false << "1 3 4 5 6";
    QTest::newRow("fm 1") << int(panelmode::Fm) << 1 << true << "2 3 4 5";
    QTest::newRow("fm 2") << int(panelmode::Fm) << 2 << false << "1 3 4 5";
    QTest::newRow("fm 3") << int(panelmode::Fm) << 3 << true << "1 2 4 5";
    QTest::newRow("fm 4") << int(panelmode::Fm) << 4 << false << "1 2 3 5";
    QTest::newRow("fm 5") << int(panelmode::Fm) << 5 << true << "1 2 3 4";
    QTest::newRow("delta key without a role") << int(panelmode::Delta) << 3 << true << "";
    QTest::newRow("am") << int(panelmode::Am) << 1 << true << "";
}

// Each other key is unchecked first, then its clicked(false) runs its own
// handler, one after the other in ascending order, checked or not.
void TestParamKeys::releaseCascade() {
    QFETCH(int, mode);
    QFETCH(int, key);
    QFETCH(bool, othersChecked);
    QFETCH(QString, released);
    enterMode(mode);
    for (QPushButton *button : window->paramButtons)
        if (button->isCheckable())
            button->setChecked(othersChecked);
    window->paramButtons[key - 1]->setChecked(false);
    const bool sweepWasOn = window->paramButtons[5]->isChecked();

    QStringList record;
    for (int number = 1; number <= 6; ++number) {
        QPushButton *button = window->paramButtons[number - 1];
        connect(button, &QPushButton::clicked, this, [&record, button, number, key](bool on) {
            if (number == key)
                return;
            record << QString::number(number) +
                          (on || button->isChecked() ? QStringLiteral("!") : QString());
        });
    }
    QVERIFY(press(QStringLiteral("P%1").arg(key)));
    QCOMPARE(record.join(QLatin1Char(' ')), released);
    QVERIFY(window->paramButtons[key - 1]->isChecked());
    for (const QString &number : released.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        QVERIFY(!window->paramButtons[number.toInt() - 1]->isChecked());
    if (mode == panelmode::Fm)
        QCOMPARE(window->paramButtons[5]->isChecked(), sweepWasOn);
}

// Choosing the amplitude drops the text typed for the frequency and redraws
// the attenuation; the amplitude's read-out becomes active as it is.
void TestParamKeys::selectionInNormalModeRedrawsTheOthers() {
    QVERIFY(press("P1"));
    markReadouts();
    QVERIFY(press("C 7"));
    QVERIFY(draws(*window->ui->lcdNumber_Freq, QStringLiteral("7")));
    QVERIFY(press("P2"));
    QVERIFY(draws(*window->ui->lcdNumber_Freq, QStringLiteral("12.5")));
    QVERIFY(window->ui->lcdNumber_Freq->isEnabled());
    QCOMPARE(window->ui->label_FreqUnit->text(), QStringLiteral("МГц"));
    QVERIFY(draws(*window->ui->lcdNumber_Param, QStringLiteral("10.5")));
    QVERIFY(window->ui->lcdNumber_Param->isEnabled());
    QCOMPARE(window->ui->label_ParamUnit->text(), QStringLiteral("dB"));
    QVERIFY(draws(*window->ui->lcdNumber_Amp, untouched));
    QVERIFY(!window->ui->lcdNumber_Amp->isEnabled());
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Amp);
    QCOMPARE(window->activeUnitLabel, window->ui->label_AmpUnit);
    QCOMPARE(window->activeUnit, window->amplitudeUnit);
}

void TestParamKeys::secondClickReleases() {
    markReadouts();
    QVERIFY(press("P1 4 P1"));
    QVERIFY(!window->activeDisplay);
    QVERIFY(!window->activeUnitLabel);
    QCOMPARE(window->activeUnit, 0);
    QVERIFY(draws(*window->ui->lcdNumber_Freq, QStringLiteral("12.5")));
    QVERIFY(window->ui->lcdNumber_Freq->isEnabled());
    QVERIFY(press("9"));
    QVERIFY(draws(*window->ui->lcdNumber_Freq, QStringLiteral("12.5")));
}

void TestParamKeys::releaseKeepsTypedTextInDeltaAndFm_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("key");
    QTest::newRow("delta 1") << int(panelmode::Delta) << 1;
    QTest::newRow("delta 2") << int(panelmode::Delta) << 2;
    QTest::newRow("fm 1") << int(panelmode::Fm) << 1;
    QTest::newRow("fm 2") << int(panelmode::Fm) << 2;
    QTest::newRow("fm 3") << int(panelmode::Fm) << 3;
    QTest::newRow("fm 4") << int(panelmode::Fm) << 4;
}

void TestParamKeys::releaseKeepsTypedTextInDeltaAndFm() {
    QFETCH(int, mode);
    QFETCH(int, key);
    enterMode(mode);
    const QString paramKey = QStringLiteral("P%1").arg(key);
    QVERIFY(press(paramKey + QStringLiteral(" 4 2 ") + paramKey));
    QVERIFY(!window->activeDisplay);
    QCOMPARE(window->activeUnit, 0);
    QVERIFY(draws(*window->ui->lcdNumber_Param, QStringLiteral("42")));
    QVERIFY(!window->ui->lcdNumber_Param->isEnabled());
}

void TestParamKeys::selection_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("levelControl");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("unitKeys");
    QTest::addColumn<QString>("readout");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("shown"); // untouched: not redrawn
    QTest::addColumn<QString>("unitLabel");

    const QStringList frequencyKeys{"КГц", "МГц", "ГГц"};
    const QStringList amplitudeKeys{"В", "мВ", "dBmV"};
    const QStringList attenuationKeys{"dB", " ", " "};
    const int amplitudeHeld = devicelink::AmplitudeLevelHeld;
    const int attenuationHeld = devicelink::AttenuationLevelHeld;
    QTest::newRow("normal frequency")
        << int(panelmode::Normal) << amplitudeHeld << 1 << untouchedCaption << frequencyKeys
        << "lcdNumber_Freq" << 6 << untouched << untouchedCaption;
    QTest::newRow("normal amplitude")
        << int(panelmode::Normal) << amplitudeHeld << 2 << untouchedCaption << amplitudeKeys
        << "lcdNumber_Amp" << 2 << untouched << untouchedCaption;
    QTest::newRow("normal attenuation")
        << int(panelmode::Normal) << amplitudeHeld << 3 << untouchedCaption << attenuationKeys
        << "lcdNumber_Param" << 4 << untouched << untouchedCaption;
    QTest::newRow("frequency step") << int(panelmode::Delta) << amplitudeHeld << 1 << "Шаг Частоты"
                                    << frequencyKeys << "lcdNumber_Param" << 5 << "25"
                                    << "КГц";
    QTest::newRow("amplitude step")
        << int(panelmode::Delta) << amplitudeHeld << 2 << "Шаг Амп." << QStringList{"В", "мВ", "dB"}
        << "lcdNumber_Param" << 3 << "10"
        << "dBmV";
    QTest::newRow("sweep step") << int(panelmode::Fm) << amplitudeHeld << 1 << "Шаг Скан."
                                << frequencyKeys << "lcdNumber_Param" << 5 << "100"
                                << "КГц";
    QTest::newRow("sweep lower bound") << int(panelmode::Fm) << amplitudeHeld << 2 << "Нижняя Гр."
                                       << frequencyKeys << "lcdNumber_Param" << 6 << "12.5"
                                       << "МГц";
    QTest::newRow("sweep upper bound") << int(panelmode::Fm) << amplitudeHeld << 3 << "Верхняя Гр."
                                       << frequencyKeys << "lcdNumber_Param" << 7 << "2"
                                       << "ГГц";
    QTest::newRow("sweep period") << int(panelmode::Fm) << amplitudeHeld << 4 << "Период"
                                  << QStringList{"с", "мс", ""} << "lcdNumber_Param" << 9 << "250"
                                  << "мс";
    QTest::newRow("level as amplitude")
        << int(panelmode::Fm) << amplitudeHeld << 5 << untouchedCaption << amplitudeKeys
        << "lcdNumber_Amp" << 2 << untouched << untouchedCaption;
    QTest::newRow("level as attenuation")
        << int(panelmode::Fm) << attenuationHeld << 5 << "Ослабление" << attenuationKeys
        << "lcdNumber_Param" << 4 << untouched << untouchedCaption;
}

void TestParamKeys::selection() {
    QFETCH(int, mode);
    QFETCH(int, levelControl);
    QFETCH(int, key);
    QFETCH(QString, caption);
    QFETCH(QStringList, unitKeys);
    QFETCH(QString, readout);
    QFETCH(int, unit);
    QFETCH(QString, shown);
    QFETCH(QString, unitLabel);
    enterMode(mode);
    holdLevel(levelControl);
    markReadouts();
    QVERIFY(press(QStringLiteral("P%1").arg(key)));
    QCOMPARE(window->ui->label_Param->text(), caption);
    QCOMPARE(window->ui->pushButton_Units1->text(), unitKeys[0]);
    QCOMPARE(window->ui->pushButton_Units2->text(), unitKeys[1]);
    QCOMPARE(window->ui->pushButton_Units3->text(), unitKeys[2]);
    QCOMPARE(window->activeDisplay, display(readout));
    QCOMPARE(window->activeUnit, unit);
    QVERIFY(draws(*window->activeDisplay, shown));
    QCOMPARE(window->activeDisplay->isEnabled(), shown != untouched);
    QCOMPARE(window->activeUnitLabel, unitLabelBeside(readout));
    QCOMPARE(window->activeUnitLabel->text(), unitLabel);
}

void TestParamKeys::levelRelease_data() {
    QTest::addColumn<int>("levelControl");
    QTest::addColumn<QString>("readout");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("unitLabel");
    QTest::newRow("amplitude") << int(devicelink::AmplitudeLevelHeld) << "lcdNumber_Amp"
                               << "250"
                               << "мВ";
    QTest::newRow("attenuation") << int(devicelink::AttenuationLevelHeld) << "lcdNumber_Param"
                                 << "10.5"
                                 << "dB";
}

// Releasing the level key itself drops the typed text and redraws the level.
void TestParamKeys::levelRelease() {
    QFETCH(int, levelControl);
    QFETCH(QString, readout);
    QFETCH(QString, shown);
    QFETCH(QString, unitLabel);
    enterMode(panelmode::Fm);
    holdLevel(levelControl);
    markReadouts();
    QVERIFY(press("P5 C 3"));
    QVERIFY(draws(*display(readout), QStringLiteral("3")));
    QVERIFY(press("P5"));
    QVERIFY(!window->activeDisplay);
    QVERIFY(draws(*display(readout), shown));
    QVERIFY(display(readout)->isEnabled());
    QCOMPARE(unitLabelBeside(readout)->text(), unitLabel);
}

// The first key released in the cascade ends the selection, so the level
// typed on the amplitude read-out stays as typed.
void TestParamKeys::levelNotRedrawnWhenAnotherKeyReleasesIt() {
    enterMode(panelmode::Fm);
    markReadouts();
    QVERIFY(press("P5 C 3 P1"));
    QVERIFY(!window->paramButtons[4]->isChecked());
    QVERIFY(draws(*window->ui->lcdNumber_Amp, QStringLiteral("3")));
    QVERIFY(!window->ui->lcdNumber_Amp->isEnabled());
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Param);
}

void TestParamKeys::sweepStartsAndStops() {
    enterMode(panelmode::Fm);
    window->fFmStart = 10.004e6; // off the 10 kHz grid: the instrument takes 10 MHz
    window->fFmStop = 20e6;
    window->fFmStep = 1e6;
    window->tFm = 0.01;
    markReadouts();
    QVERIFY(press("P2 P6"));
    QVERIFY(settingCommands(instrument->receivedLines()).contains("FM:STAT ON"));
    QCOMPARE(instrument->setting("FM:STAT?"), QByteArray("1"));
    QCOMPARE(window->fFmStart, 10e6);
    QCOMPARE(instrument->setting("FM:STAR?").toDouble(), 10e6);
    QVERIFY(window->ui->lcdNumber_Amp->isEnabled());
    QVERIFY(window->ui->lcdNumber_Freq->isEnabled());
    QVERIFY(draws(*window->ui->lcdNumber_Param, QStringLiteral("10")));
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Param);

    // Choosing another sweep parameter leaves the sweep running.
    QVERIFY(press("P3"));
    QVERIFY(window->paramButtons[5]->isChecked());
    QVERIFY(!settingCommands(instrument->receivedLines()).contains("FM:STAT OFF"));

    // Stopping expects no answer, so the line reaches the instrument later.
    QVERIFY(press("P6"));
    QTRY_VERIFY(settingCommands(instrument->receivedLines()).contains("FM:STAT OFF"));
    QCOMPARE(instrument->setting("FM:STAT?"), QByteArray("0"));
    QVERIFY(window->ui->lcdNumber_Amp->isEnabled());
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Param);
}

void TestParamKeys::sweepRefused_data() {
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("stop");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("period");
    QTest::newRow("bounds crossed") << 20e6 << 10e6 << 1e6 << 0.01;
    QTest::newRow("no step") << 10e6 << 20e6 << 0.0 << 0.01;
    QTest::newRow("period too short") << 10e6 << 20e6 << 1e6 << 0.0;
    QTest::newRow("above the top") << 10e6 << 13e9 << 1e6 << 0.01;
}

// A refused start sends nothing and dims the output read-outs.
void TestParamKeys::sweepRefused() {
    QFETCH(double, start);
    QFETCH(double, stop);
    QFETCH(double, step);
    QFETCH(double, period);
    enterMode(panelmode::Fm);
    window->fFmStart = start;
    window->fFmStop = stop;
    window->fFmStep = step;
    window->tFm = period;
    window->ui->lcdNumber_Amp->setEnabled(true);
    window->ui->lcdNumber_Freq->setEnabled(true);
    QVERIFY(press("P6"));
    QVERIFY(!window->ui->lcdNumber_Amp->isEnabled());
    QVERIFY(!window->ui->lcdNumber_Freq->isEnabled());
    QVERIFY(!settingCommands(instrument->receivedLines()).contains("FM:STAT ON"));
    QCOMPARE(instrument->setting("FM:STAT?"), QByteArray("0"));
    QCOMPARE(window->fFmStart, start);
}

void TestParamKeys::keysWithoutRole_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("checkedAfter");
    QTest::newRow("normal 4") << int(panelmode::Normal) << 4 << false;
    QTest::newRow("normal 6") << int(panelmode::Normal) << 6 << false;
    QTest::newRow("delta 3") << int(panelmode::Delta) << 3 << true;
    QTest::newRow("delta 6") << int(panelmode::Delta) << 6 << true;
    QTest::newRow("am 1") << int(panelmode::Am) << 1 << true;
    QTest::newRow("am 6") << int(panelmode::Am) << 6 << true;
}

// A key without a role changes nothing but its own checked state.
void TestParamKeys::keysWithoutRole() {
    QFETCH(int, mode);
    QFETCH(int, key);
    QFETCH(bool, checkedAfter);
    enterMode(mode);
    markReadouts();
    const QStringList unitKeysBefore{window->ui->pushButton_Units1->text(),
                                     window->ui->pushButton_Units2->text(),
                                     window->ui->pushButton_Units3->text()};
    QVERIFY(press(QStringLiteral("P%1").arg(key)));
    QCOMPARE(window->paramButtons[key - 1]->isChecked(), checkedAfter);
    QVERIFY(!window->activeDisplay);
    QCOMPARE(window->ui->label_Param->text(), untouchedCaption);
    const QStringList unitKeysAfter{window->ui->pushButton_Units1->text(),
                                    window->ui->pushButton_Units2->text(),
                                    window->ui->pushButton_Units3->text()};
    QCOMPARE(unitKeysAfter, unitKeysBefore);
    for (QLCDNumber *readout :
         {window->ui->lcdNumber_Freq, window->ui->lcdNumber_Amp, window->ui->lcdNumber_Param})
        QVERIFY(draws(*readout, untouched));
    QTest::qWait(50);
    QCOMPARE(settingCommands(instrument->receivedLines()), QList<QByteArray>());
}

QTEST_MAIN(TestParamKeys)
#include "tst_paramkeys.moc"
