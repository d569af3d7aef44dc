// The keypad, OK and the unit keys on the real panel, with a simulated
// instrument of the third model behind the serial port.
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
using panelkeys::keysOf;
using panelkeys::settingCommands;

class TestKeypad : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void drawingTellsTextsApart();
    void typing_data();
    void typing();
    void keysWithoutActiveDisplayDoNothing();
    void commitOutput_data();
    void commitOutput();
    void refusedCommitContinues();
    void commitStepsAndSweep_data();
    void commitStepsAndSweep();
    void commitLevelInFm_data();
    void commitLevelInFm();
    void okOutsideTheModesRefuses();
    void okInDeltaLightsTheStepReadout();
    void okWithoutInstrumentKeepsEntry();
    void unitKeyConvertsCommitted_data();
    void unitKeyConvertsCommitted();
    void unitKeyReinterpretsTypedText_data();
    void unitKeyReinterpretsTypedText();
    void deltaAmplitudeStepUnits_data();
    void deltaAmplitudeStepUnits();
    void levelUnitKeysKeepAttenuation();
    void newSelectionStartsNewEntry_data();
    void newSelectionStartsNewEntry();

private:
    bool press(const QString &sequence) { return panelkeys::pressAll(*window, sequence); }
    QLCDNumber *display(const QString &name) { return window->findChild<QLCDNumber *>(name); }
    void enterMode(int mode);
    double &stored(const QString &member);
    int &storedUnit(const QString &member);
    void waitForFirstPoll();
    void holdLevel(int levelControl);

    sim::Testbed testbed;
    std::unique_ptr<sim::Instrument> instrument;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<MainWindow> window;
};

void TestKeypad::initTestCase() {
    QVERIFY2(testbed.isValid(), qPrintable(testbed.errorString()));
    // One instrument, so the search finds exactly one: 100 kHz to 12.75 GHz,
    // 1 mV to 2 V, 0 to 110 dB in 0.1 dB steps.
    instrument = std::make_unique<sim::Instrument>(devicelink::QuendtModel);
    QVERIFY(testbed.addDevice(instrument->usbIdentity(), instrument.get()) >= 0);
}

void TestKeypad::init() {
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
    instrument->clearReceivedLines();
}

void TestKeypad::waitForFirstPoll() {
    PanelKeys::waitForFirstPoll(*instrument);
}

void TestKeypad::holdLevel(int levelControl) {
    PanelKeys::holdLevel(*window, *instrument, levelControl);
}

void TestKeypad::cleanup() {
    window.reset();
    workDir.reset();
}

void TestKeypad::enterMode(int mode) {
    PanelKeys::enterMode(*window, mode);
}

double &TestKeypad::stored(const QString &member) {
    MainWindow &w = *window;
    const std::pair<const char *, double *> members[] = {{"frequency", &w.frequency},
                                                         {"amplitude", &w.amplitude},
                                                         {"attenuation", &w.attenuation},
                                                         {"frequencyStep", &w.frequencyStep},
                                                         {"amplitudeStep", &w.amplitudeStep},
                                                         {"fFmStep", &w.fFmStep},
                                                         {"fFmStart", &w.fFmStart},
                                                         {"fFmStop", &w.fFmStop},
                                                         {"tFm", &w.tFm}};
    for (const auto &entry : members)
        if (member == QLatin1String(entry.first))
            return *entry.second;
    qFatal("no member %s", qPrintable(member));
}

int &TestKeypad::storedUnit(const QString &member) {
    MainWindow &w = *window;
    const std::pair<const char *, int *> members[] = {{"frequency", &w.frequencyUnit},
                                                      {"amplitude", &w.amplitudeUnit},
                                                      {"frequencyStep", &w.frequencyStepUnit},
                                                      {"amplitudeStep", &w.amplitudeStepUnit},
                                                      {"fFmStep", &w.fFmStepUnit},
                                                      {"fFmStart", &w.fFmStartUnit},
                                                      {"fFmStop", &w.fFmStopUnit},
                                                      {"tFm", &w.tFmUnit}};
    for (const auto &entry : members)
        if (member == QLatin1String(entry.first))
            return *entry.second;
    qFatal("no unit of %s", qPrintable(member));
}

// The drawing comparison used throughout must see a point and a trailing zero.
void TestKeypad::drawingTellsTextsApart() {
    QLCDNumber &freq = *window->ui->lcdNumber_Freq;
    freq.display(QStringLiteral("1.0"));
    QVERIFY(draws(freq, QStringLiteral("1.0")));
    QVERIFY(!draws(freq, QStringLiteral("1")));
    QVERIFY(!draws(freq, QStringLiteral("1.")));
    QVERIFY(!draws(freq, QStringLiteral("-1.0")));
}

void TestKeypad::typing_data() {
    QTest::addColumn<bool>("overCommitted");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("enabledAfter"); // e: committed look, d: dimmed

    QTest::newRow("12.5 over a committed 100")
        << true << "1 2 . 5" << QStringList{"1", "12", "12", "12.5"} << "dddd";
    QTest::newRow("leading zeros vanish")
        << false << "0 0 7" << QStringList{"0", "0", "7"} << "ddd";
    QTest::newRow("pending minus waits through the zero")
        << false << "- 0 . 5" << QStringList{"0", "0", "0", "-0.5"} << "dddd";
    QTest::newRow("minus in the fraction")
        << false << "1 . 5 - 2" << QStringList{"1", "1", "1.5", "-1.5", "-1.52"} << "ddddd";
    QTest::newRow("second point ignored")
        << false << "1 . 0 . 5" << QStringList{"1", "1", "1.0", "1.0", "1.05"} << "ddddd";
    QTest::newRow("point over a committed value starts below one")
        << true << ". 5" << QStringList{"100", ".5"} << "ed";
    QTest::newRow("trailing zeros stay")
        << false << "2 . 5 0 0" << QStringList{"2", "2", "2.5", "2.50", "2.500"} << "ddddd";
    QTest::newRow("minus twice on zero cancels")
        << false << "- - 5" << QStringList{"0", "0", "5"} << "ddd";
    QTest::newRow("minus negates a committed value") << true << "-" << QStringList{"-100"} << "e";
    QTest::newRow("eight digits fill the read-out, a ninth is ignored")
        << false << "1 2 3 4 5 6 7 8 9"
        << QStringList{"1",      "12",      "123",      "1234",    "12345",
                       "123456", "1234567", "12345678", "12345678"}
        << "ddddddddd";
    QTest::newRow("no room for a fraction after seven digits")
        << false << "1 2 3 4 5 6 7 . 5"
        << QStringList{"1", "12", "123", "1234", "12345", "123456", "1234567", "1234567", "1234567"}
        << "ddddddddd";
    QTest::newRow("minus keeps every digit of a seven-digit number")
        << false << "1 2 3 4 5 6 7 -"
        << QStringList{"1", "12", "123", "1234", "12345", "123456", "1234567", "-1234567"}
        << "dddddddd";
    QTest::newRow("fraction digits up to the width")
        << false << "0 . 1 2 3 4 5 6 7"
        << QStringList{"0",      "0",       "0.1",      "0.12",    "0.123",
                       "0.1234", "0.12345", "0.123456", "0.123456"}
        << "ddddddddd";
}

void TestKeypad::typing() {
    QFETCH(bool, overCommitted);
    QFETCH(QString, keys);
    QFETCH(QStringList, texts);
    QFETCH(QString, enabledAfter);
    QLCDNumber &freq = *window->ui->lcdNumber_Freq;
    QVERIFY(press("P1"));
    QCOMPARE(window->activeDisplay, &freq);
    if (overCommitted)
        window->displayValue(100e6, 6);
    else
        QVERIFY(press("C"));
    const QStringList pressed = keysOf(keys);
    for (int i = 0; i < pressed.size(); ++i) {
        QVERIFY(press(pressed[i]));
        QVERIFY2(draws(freq, texts[i]), qPrintable(QStringLiteral("after key %1").arg(i + 1)));
        QCOMPARE(freq.value(), texts[i].toDouble());
        QCOMPARE(freq.isEnabled(), enabledAfter[i] == QLatin1Char('e'));
    }
    QVERIFY(!window->minusPending);
}

void TestKeypad::keysWithoutActiveDisplayDoNothing() {
    QLCDNumber *displays[] = {window->ui->lcdNumber_Freq, window->ui->lcdNumber_Amp,
                              window->ui->lcdNumber_Param};
    for (QLCDNumber *readout : displays)
        readout->display(QStringLiteral("42"));
    QVERIFY(press("P1 P1")); // selected and released again: nothing is active
    QVERIFY(!window->activeDisplay);
    for (QLCDNumber *readout : displays)
        readout->display(QStringLiteral("42"));
    const int unitBefore = window->frequencyUnit;
    QVERIFY(press("5 . - 7 C U1 U3"));
    for (QLCDNumber *readout : displays)
        QVERIFY(draws(*readout, QStringLiteral("42")));
    QCOMPARE(window->entryState, 0);
    QCOMPARE(window->frequencyUnit, unitBefore);
    QVERIFY(!window->minusPending);
}

void TestKeypad::commitOutput_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("readout");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("sent"); // empty: refused, nothing sent
    QTest::addColumn<double>("held");
    QTest::addColumn<QString>("shown");

    QTest::newRow("12.5 МГц") << "P1 1 2 . 5 U2 OK"
                              << "frequency"
                              << "lcdNumber_Freq" << QByteArray("FREQ")
                              << QByteArray("FREQ 12500000") << 12.5e6 << "12.5";
    QTest::newRow("950 КГц") << "P1 9 5 0 U1 OK"
                             << "frequency"
                             << "lcdNumber_Freq" << QByteArray("FREQ") << QByteArray("FREQ 950000")
                             << 950e3 << "950";
    QTest::newRow("frequency onto the 10 kHz grid")
        << "P1 1 2 . 5 0 4 3 U2 OK"
        << "frequency"
        << "lcdNumber_Freq" << QByteArray("FREQ") << QByteArray("FREQ 12500000") << 12.5e6
        << "12.5";
    QTest::newRow("frequency above the top")
        << "P1 1 3 U3 OK"
        << "frequency"
        << "lcdNumber_Freq" << QByteArray("FREQ") << QByteArray() << 13e9 << "13";
    QTest::newRow("250 мВ") << "P2 2 5 0 U2 OK"
                            << "amplitude"
                            << "lcdNumber_Amp" << QByteArray("VOLT") << QByteArray("VOLT 0.25")
                            << 0.25 << "250";
    QTest::newRow("10 dBmV is 1 V")
        << "P2 1 0 U3 OK"
        << "amplitude"
        << "lcdNumber_Amp" << QByteArray("VOLT") << QByteArray("VOLT 1") << 1.0 << "10";
    QTest::newRow("amplitude kept to the millivolt")
        << "P2 1 2 3 . 4 5 6 U2 OK"
        << "amplitude"
        << "lcdNumber_Amp" << QByteArray("VOLT") << QByteArray("VOLT 0.123") << 0.123 << "123";
    QTest::newRow("amplitude above the top")
        << "P2 3 U1 OK"
        << "amplitude"
        << "lcdNumber_Amp" << QByteArray("VOLT") << QByteArray() << 3.0 << "3";
    QTest::newRow("negative amplitude")
        << "P2 C - 5 U2 OK"
        << "amplitude"
        << "lcdNumber_Amp" << QByteArray("VOLT") << QByteArray() << -0.005 << "-5";
    QTest::newRow("attenuation onto the 0.1 dB step")
        << "P3 1 0 . 3 4 OK"
        << "attenuation"
        << "lcdNumber_Param" << QByteArray("ATT") << QByteArray("ATT 10.3") << 10.3 << "10.3";
    QTest::newRow("attenuation above the top")
        << "P3 1 2 0 OK"
        << "attenuation"
        << "lcdNumber_Param" << QByteArray("ATT") << QByteArray() << 120.0 << "120";
}

void TestKeypad::commitOutput() {
    QFETCH(QString, keys);
    QFETCH(QString, member);
    QFETCH(QString, readout);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, sent);
    QFETCH(double, held);
    QFETCH(QString, shown);
    QVERIFY(press(keys));
    QCOMPARE(stored(member), held);
    const QList<QByteArray> commands = settingCommands(instrument->receivedLines(), header);
    QCOMPARE(commands, sent.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{sent});
    QVERIFY(draws(*display(readout), shown));
    QCOMPARE(display(readout)->isEnabled(), !sent.isEmpty());
    QCOMPARE(window->entryState, 0);
}

// A refused value stays on the dimmed read-out and typing continues from it.
void TestKeypad::refusedCommitContinues() {
    QLCDNumber &freq = *window->ui->lcdNumber_Freq;
    QVERIFY(press("P1 1 3 . 5 U3 OK"));
    QVERIFY(draws(freq, QStringLiteral("13.5")));
    QVERIFY(!freq.isEnabled());
    QVERIFY(press("2"));
    QVERIFY(draws(freq, QStringLiteral("13.52")));
    QVERIFY(press("OK"));
    QCOMPARE(window->frequency, 13.52e9);
    QVERIFY(!freq.isEnabled());
    QVERIFY(press("C 5 OK"));
    QCOMPARE(settingCommands(instrument->receivedLines(), "FREQ"),
             QList<QByteArray>{"FREQ 5000000000"});
    QCOMPARE(window->frequency, 5e9);
    QVERIFY(draws(freq, QStringLiteral("5")));
    QVERIFY(freq.isEnabled());
}

void TestKeypad::commitStepsAndSweep_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("member");
    QTest::addColumn<double>("held");
    QTest::addColumn<QString>("typed");

    QTest::newRow("frequency step 25 КГц") << int(panelmode::Delta) << "P1 2 5 U1 OK"
                                           << "frequencyStep" << 25e3 << "25";
    QTest::newRow("amplitude step 3 dB") << int(panelmode::Delta) << "P2 3 U3 OK"
                                         << "amplitudeStep" << 3.0 << "3";
    QTest::newRow("amplitude step 50 мВ") << int(panelmode::Delta) << "P2 5 0 U2 OK"
                                          << "amplitudeStep" << 0.05 << "50";
    QTest::newRow("amplitude step in its stored dBmV") << int(panelmode::Delta) << "P2 1 0 OK"
                                                       << "amplitudeStep" << 1.0 << "10";
    QTest::newRow("sweep step") << int(panelmode::Fm) << "P1 1 0 0 U1 OK"
                                << "fFmStep" << 100e3 << "100";
    QTest::newRow("sweep lower bound") << int(panelmode::Fm) << "P2 1 2 . 5 U2 OK"
                                       << "fFmStart" << 12.5e6 << "12.5";
    QTest::newRow("sweep upper bound") << int(panelmode::Fm) << "P3 2 U3 OK"
                                       << "fFmStop" << 2e9 << "2";
    QTest::newRow("sweep period 250 мс") << int(panelmode::Fm) << "P4 2 5 0 U2 OK"
                                         << "tFm" << 0.25 << "250";
    QTest::newRow("sweep period 2 с") << int(panelmode::Fm) << "P4 2 U1 OK"
                                      << "tFm" << 2.0 << "2";
}

// Steps and sweep parameters are only stored: no instrument traffic, and the
// typed text stays, lit as committed.
void TestKeypad::commitStepsAndSweep() {
    QFETCH(int, mode);
    QFETCH(QString, keys);
    QFETCH(QString, member);
    QFETCH(double, held);
    QFETCH(QString, typed);
    enterMode(mode);
    QVERIFY(press(keys));
    QCOMPARE(stored(member), held);
    QVERIFY(draws(*window->ui->lcdNumber_Param, typed));
    QVERIFY(window->ui->lcdNumber_Param->isEnabled());
    QCOMPARE(window->entryState, 0);
    QTest::qWait(50);
    QCOMPARE(settingCommands(instrument->receivedLines()), QList<QByteArray>());
}

void TestKeypad::commitLevelInFm_data() {
    QTest::addColumn<int>("levelControl");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("readout");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<double>("held");

    QTest::newRow("amplitude held")
        << int(devicelink::AmplitudeLevelHeld) << "P5 2 5 0 U2 OK"
        << "amplitude"
        << "lcdNumber_Amp" << QByteArray("VOLT") << QByteArray("VOLT 0.25") << 0.25;
    QTest::newRow("amplitude refused")
        << int(devicelink::AmplitudeLevelHeld) << "P5 5 U1 OK"
        << "amplitude"
        << "lcdNumber_Amp" << QByteArray("VOLT") << QByteArray() << 5.0;
    QTest::newRow("attenuation held")
        << int(devicelink::AttenuationLevelHeld) << "P5 2 0 OK"
        << "attenuation"
        << "lcdNumber_Param" << QByteArray("ATT") << QByteArray("ATT 20") << 20.0;
    QTest::newRow("attenuation refused")
        << int(devicelink::AttenuationLevelHeld) << "P5 2 0 0 OK"
        << "attenuation"
        << "lcdNumber_Param" << QByteArray("ATT") << QByteArray() << 200.0;
}

void TestKeypad::commitLevelInFm() {
    QFETCH(int, levelControl);
    QFETCH(QString, keys);
    QFETCH(QString, member);
    QFETCH(QString, readout);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, sent);
    QFETCH(double, held);
    enterMode(panelmode::Fm);
    holdLevel(levelControl);
    QVERIFY(press(keys));
    QCOMPARE(stored(member), held);
    QCOMPARE(settingCommands(instrument->receivedLines(), header),
             sent.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{sent});
    QCOMPARE(display(readout)->isEnabled(), !sent.isEmpty());
}

void TestKeypad::okOutsideTheModesRefuses() {
    enterMode(panelmode::Am);
    QVERIFY(press("P1"));
    QVERIFY(!window->activeDisplay);
    window->entryState = 2;
    const double frequencyBefore = window->frequency;
    QVERIFY(press("OK"));
    QCOMPARE(window->errorBox.text(), QStringLiteral("Не выбран режим работы!"));
    QVERIFY(window->errorBox.isVisible());
    QCOMPARE(window->entryState, 0);
    QCOMPARE(window->frequency, frequencyBefore);
    QTest::qWait(50);
    QCOMPARE(settingCommands(instrument->receivedLines()), QList<QByteArray>());
}

// In Delta mode OK lights the step read-out even with no step key down.
void TestKeypad::okInDeltaLightsTheStepReadout() {
    enterMode(panelmode::Delta);
    window->ui->lcdNumber_Param->setEnabled(false);
    const double frequencyStepBefore = window->frequencyStep;
    const double amplitudeStepBefore = window->amplitudeStep;
    QVERIFY(press("OK"));
    QVERIFY(window->ui->lcdNumber_Param->isEnabled());
    QCOMPARE(window->frequencyStep, frequencyStepBefore);
    QCOMPARE(window->amplitudeStep, amplitudeStepBefore);
    QVERIFY(!window->errorBox.isVisible());
    QTest::qWait(50);
    QCOMPARE(settingCommands(instrument->receivedLines()), QList<QByteArray>());
}

void TestKeypad::okWithoutInstrumentKeepsEntry() {
    QVERIFY(press("P1 1 ."));
    QCOMPARE(window->entryState, 1);
    const double frequencyBefore = window->frequency;
    Generator *bound = window->generator;
    window->generator = nullptr;
    QVERIFY(press("OK"));
    window->generator = bound;
    QCOMPARE(window->entryState, 1);
    QCOMPARE(window->frequency, frequencyBefore);
    QVERIFY(!window->ui->lcdNumber_Freq->isEnabled());
    QVERIFY(press("5"));
    QVERIFY(draws(*window->ui->lcdNumber_Freq, QStringLiteral("1.5")));
}

void TestKeypad::unitKeyConvertsCommitted_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("param");
    QTest::addColumn<QString>("member");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("unitAfter");

    QTest::newRow("1.5 МГц to КГц") << int(panelmode::Normal) << "P1"
                                    << "frequency" << 1.5e6 << 6 << "U1"
                                    << "1500"
                                    << "КГц" << 5;
    QTest::newRow("1.5 МГц to ГГц") << int(panelmode::Normal) << "P1"
                                    << "frequency" << 1.5e6 << 6 << "U3"
                                    << "0.0015"
                                    << "ГГц" << 7;
    QTest::newRow("1 В to dBmV") << int(panelmode::Normal) << "P2"
                                 << "amplitude" << 1.0 << 1 << "U3"
                                 << "10"
                                 << "dBmV" << 3;
    QTest::newRow("0.25 В to мВ") << int(panelmode::Normal) << "P2"
                                  << "amplitude" << 0.25 << 1 << "U2"
                                  << "250"
                                  << "мВ" << 2;
    QTest::newRow("step 1 МГц to КГц") << int(panelmode::Delta) << "P1"
                                       << "frequencyStep" << 1e6 << 6 << "U1"
                                       << "1000"
                                       << "КГц" << 5;
    QTest::newRow("lower bound to ГГц") << int(panelmode::Fm) << "P2"
                                        << "fFmStart" << 2.5e9 << 6 << "U3"
                                        << "2.5"
                                        << "ГГц" << 7;
    // The key's own text, the Cyrillic one, goes to the label.
    QTest::newRow("period 250 мс to с") << int(panelmode::Fm) << "P4"
                                        << "tFm" << 0.25 << 9 << "U1"
                                        << "0.25"
                                        << "с" << 8;
    QTest::newRow("period: the empty key") << int(panelmode::Fm) << "P4"
                                           << "tFm" << 0.25 << 9 << "U3"
                                           << "250"
                                           << "" << 9;
}

void TestKeypad::unitKeyConvertsCommitted() {
    QFETCH(int, mode);
    QFETCH(QString, param);
    QFETCH(QString, member);
    QFETCH(double, value);
    QFETCH(int, unit);
    QFETCH(QString, key);
    QFETCH(QString, shown);
    QFETCH(QString, label);
    QFETCH(int, unitAfter);
    enterMode(mode);
    stored(member) = value;
    storedUnit(member) = unit;
    QVERIFY(press(param));
    window->displayValue(value, unit); // committed: what a commit leaves
    QVERIFY(press(key));
    QVERIFY(draws(*window->activeDisplay, shown));
    QVERIFY(window->activeDisplay->isEnabled());
    QCOMPARE(window->activeUnitLabel->text(), label);
    QCOMPARE(storedUnit(member), unitAfter);
    QCOMPARE(window->activeUnit, unitAfter);
    QCOMPARE(stored(member), value);
}

void TestKeypad::unitKeyReinterpretsTypedText_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("member");
    QTest::addColumn<int>("unitBefore");
    QTest::addColumn<QString>("typing");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("unitAfter");
    QTest::addColumn<double>("held");

    QTest::newRow("period 250 typed, then мс") << int(panelmode::Fm) << "tFm" << 8 << "P4 2 5 0"
                                               << "U2"
                                               << "мс" << 9 << 0.25;
    QTest::newRow("frequency 12.5 typed, then МГц")
        << int(panelmode::Normal) << "frequency" << 5 << "P1 1 2 . 5"
        << "U2"
        << "МГц" << 6 << 12.5e6;
}

// Typed text is not converted: it is read in the new unit at OK.
void TestKeypad::unitKeyReinterpretsTypedText() {
    QFETCH(int, mode);
    QFETCH(QString, member);
    QFETCH(int, unitBefore);
    QFETCH(QString, typing);
    QFETCH(QString, key);
    QFETCH(QString, label);
    QFETCH(int, unitAfter);
    QFETCH(double, held);
    enterMode(mode);
    storedUnit(member) = unitBefore;
    QVERIFY(press(typing));
    const QString typed = keysOf(typing).mid(1).join(QString());
    QVERIFY(press(key));
    QCOMPARE(storedUnit(member), unitAfter);
    QCOMPARE(window->activeUnitLabel->text(), label);
    QVERIFY(draws(*window->activeDisplay, typed));
    QVERIFY(!window->activeDisplay->isEnabled());
    QVERIFY(press("OK"));
    QCOMPARE(stored(member), held);
}

void TestKeypad::deltaAmplitudeStepUnits_data() {
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("typing"); // empty: the committed step is shown
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("unitAfter");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("shown");

    QTest::newRow("dB committed: В refused") << 3.0 << 4 << ""
                                             << "U1" << false << 4 << "dB"
                                             << "3";
    QTest::newRow("dB committed: мВ refused") << 3.0 << 4 << ""
                                              << "U2" << false << 4 << "dB"
                                              << "3";
    QTest::newRow("dB committed: dB refused too") << 3.0 << 4 << ""
                                                  << "U3" << false << 4 << "dB"
                                                  << "3";
    QTest::newRow("dB cleared: В accepted") << 3.0 << 4 << "C"
                                            << "U1" << true << 1 << "В"
                                            << "0";
    QTest::newRow("В committed: мВ converts") << 0.5 << 1 << ""
                                              << "U2" << true << 2 << "мВ"
                                              << "500";
    QTest::newRow("dBmV committed: В converts") << 1.0 << 3 << ""
                                                << "U1" << true << 1 << "В"
                                                << "1";
    QTest::newRow("В committed: dB refused") << 0.5 << 1 << ""
                                             << "U3" << false << 1 << "В"
                                             << "0.5";
    QTest::newRow("typed: dB accepted") << 0.5 << 1 << "7"
                                        << "U3" << true << 4 << "dB"
                                        << "7";
}

// A committed amplitude step is never turned between decibels and volts.
void TestKeypad::deltaAmplitudeStepUnits() {
    QFETCH(double, step);
    QFETCH(int, unit);
    QFETCH(QString, typing);
    QFETCH(QString, key);
    QFETCH(bool, accepted);
    QFETCH(int, unitAfter);
    QFETCH(QString, label);
    QFETCH(QString, shown);
    enterMode(panelmode::Delta);
    window->amplitudeStep = step;
    window->amplitudeStepUnit = unit;
    QVERIFY(press("P2"));
    QVERIFY(press(typing));
    const bool committed = window->ui->lcdNumber_Param->isEnabled();
    QVERIFY(press(key));
    QCOMPARE(window->amplitudeStepUnit, unitAfter);
    QCOMPARE(window->activeUnit, unitAfter);
    QCOMPARE(window->ui->label_ParamUnit->text(), label);
    QVERIFY(draws(*window->ui->lcdNumber_Param, shown));
    QCOMPARE(window->ui->lcdNumber_Param->isEnabled(), committed);
    QCOMPARE(window->amplitudeStep, step);
    if (accepted)
        QCOMPARE(label, window->findChild<QPushButton *>(panelkeys::buttonName(key))->text());
}

// FM level keys under attenuation control: the amplitude's unit changes, as
// the key table says, but the attenuation shown stays in decibels and OK
// sends it unchanged (read in millivolts it came out a thousand times larger).
void TestKeypad::levelUnitKeysKeepAttenuation() {
    enterMode(panelmode::Fm);
    holdLevel(devicelink::AttenuationLevelHeld);
    window->attenuation = 10.0;
    window->amplitudeUnit = 1;
    QVERIFY(press("P5"));
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Param);
    window->displayValue(window->attenuation, 4);
    instrument->clearReceivedLines();
    QVERIFY(press("U2"));
    QCOMPARE(window->amplitudeUnit, 2);
    QCOMPARE(window->activeUnit, 4);
    QCOMPARE(window->ui->label_ParamUnit->text(), QStringLiteral(" "));
    QVERIFY(draws(*window->ui->lcdNumber_Param, QStringLiteral("10")));
    QVERIFY(press("OK"));
    QCOMPARE(settingCommands(instrument->receivedLines(), "ATT"), QList<QByteArray>{"ATT 10"});
    QCOMPARE(window->attenuation, 10.0);
}

void TestKeypad::newSelectionStartsNewEntry_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("abandoned");
    QTest::addColumn<QString>("switchKeys");
    QTest::addColumn<QString>("readout");

    QTest::newRow("another output parameter") << int(panelmode::Normal) << "P1 1 . 2"
                                              << "P2"
                                              << "lcdNumber_Amp";
    QTest::newRow("the same parameter again") << int(panelmode::Normal) << "P1 1 ."
                                              << "P1 P1"
                                              << "lcdNumber_Freq";
    QTest::newRow("another sweep parameter") << int(panelmode::Fm) << "P2 1 ."
                                             << "P3"
                                             << "lcdNumber_Param";
    QTest::newRow("another step") << int(panelmode::Delta) << "P1 1 . 2"
                                  << "P2"
                                  << "lcdNumber_Param";
    QTest::newRow("sweep start redraws the sweep parameter") << int(panelmode::Fm) << "P2 1 . 2"
                                                             << "P6"
                                                             << "lcdNumber_Param";
}

// An entry left half-way never leaves the keypad unable to type a point.
void TestKeypad::newSelectionStartsNewEntry() {
    QFETCH(int, mode);
    QFETCH(QString, abandoned);
    QFETCH(QString, switchKeys);
    QFETCH(QString, readout);
    enterMode(mode);
    QVERIFY(press(abandoned));
    QVERIFY(window->entryState != 0);
    QVERIFY(press(switchKeys));
    QCOMPARE(window->entryState, 0);
    QCOMPARE(window->activeDisplay, display(readout));
    QVERIFY(press("5 . 5"));
    QVERIFY(draws(*display(readout), QStringLiteral("5.5")));
}

QTEST_MAIN(TestKeypad)
#include "tst_keypad.moc"
