// The arrow keys against a simulated instrument: what each press sends, what
// the read-outs show afterwards, the frequency grid, and the active display
// surviving every press, also when a report arrives inside the driver call.
#include "app/mainwindow.h"
#include "panel/display.h"
#include "panelrig.h"
#include "ui_mainwindow.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

enum Arrow { Up, Down, Left, Right };

// Stands in for the bound driver: reports a value through the real driver's
// signal (as a driver may, before its set operation returns), then lets the
// real driver do the work.
class ReportingDriver : public Orvex {
public:
    ReportingDriver(Generator &real, std::function<void()> report)
        : real(real), report(std::move(report)) {}
    bool setFrequency(double &hz) override {
        report();
        return real.setFrequency(hz);
    }
    bool setAmplitude(double &volts) override {
        report();
        return real.setAmplitude(volts);
    }
    bool setAttenuation(double &dB) override {
        report();
        return real.setAttenuation(dB);
    }

private:
    Generator &real;
    std::function<void()> report;
};

bool near(double actual, double expected) {
    return std::fabs(actual - expected) <= 1e-9 * std::max(1.0, std::fabs(expected));
}

} // namespace

Q_DECLARE_METATYPE(Arrow)

class TestStepping : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void levelSteps_data();
    void levelSteps();
    void frequencyStepsRoundToGrid_data();
    void frequencyStepsRoundToGrid();
    void refusedFrequencyIsShownDimmed();
    void rightStartsFromTypedEntry();
    void activeDisplayRestored_data();
    void activeDisplayRestored();
    void fmLevelHeldAsAttenuationKeepsDecibels();
    void unitKeyCaptionsReset_data();
    void unitKeyCaptionsReset();
    void infiniteAttenuationNeverSent_data();
    void infiniteAttenuationNeverSent();
    void notANumberStepSendsNothing_data();
    void notANumberStepSendsNothing();
    void nothingWithoutDriver();
    void reportInsideDriverCallNests_data();
    void reportInsideDriverCallNests();
    void nestedReportOnTypedDisplayEndsEntry();

private:
    void press(Arrow arrow);
    void enterMode(int mode);

    PanelRig rig{devicelink::OrvexModel};
    std::unique_ptr<MainWindow> window;
};

void TestStepping::initTestCase() {
    QString why;
    QVERIFY2(rig.start(why), qPrintable(why));
}

void TestStepping::cleanup() {
    window.reset();
}

void TestStepping::press(Arrow arrow) {
    QPushButton *buttons[] = {window->ui->pushButton_Up, window->ui->pushButton_Down,
                              window->ui->pushButton_Left, window->ui->pushButton_Right};
    buttons[arrow]->click();
}

void TestStepping::enterMode(int mode) {
    if (mode == 2)
        window->ui->pushButton_FM->click();
    else if (mode == 3)
        window->ui->pushButton_Delta->click();
    QCOMPARE(window->panelMode, mode);
}

void TestStepping::levelSteps_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("amplitudeUnit");
    QTest::addColumn<double>("startVolts");
    QTest::addColumn<double>("startDb");
    QTest::addColumn<int>("stepUnit");
    QTest::addColumn<double>("step");
    QTest::addColumn<Arrow>("arrow");
    QTest::addColumn<QByteArray>("header"); // of the one line sent; empty: none
    QTest::addColumn<double>("instrumentVolts");
    QTest::addColumn<double>("instrumentDb");
    QTest::addColumn<double>("ampShows"); // lcdNumber_Amp afterwards
    QTest::addColumn<bool>("ampLit");
    QTest::addColumn<double>("paramShows"); // NaN: keeps what it showed
    QTest::addColumn<double>("storedAmplitude");

    // More attenuation is less output: Down adds the step.
    QTest::newRow("normal, dB step, Down")
        << 0 << 2 << 0.1 << 20.0 << 4 << 10.0 << Down << QByteArray("ATT") << 0.1 << 30.0 << 100.0
        << true << 30.0 << 0.1;
    QTest::newRow("normal, dB step, Up")
        << 0 << 2 << 0.1 << 20.0 << 4 << 10.0 << Up << QByteArray("ATT") << 0.1 << 10.0 << 100.0
        << true << 10.0 << 0.1;
    QTest::newRow("FM, dB step, Up")
        << 2 << 2 << 0.1 << 20.0 << 4 << 10.0 << Up << QByteArray("ATT") << 0.1 << 10.0 << 100.0
        << true << notANumber << 0.1;
    QTest::newRow("Delta, dB step, Down")
        << 3 << 2 << 0.1 << 20.0 << 4 << 10.0 << Down << QByteArray("ATT") << 0.1 << 30.0 << 100.0
        << true << notANumber << 0.1;
    QTest::newRow("normal, 250 mV + 0.01 V")
        << 0 << 2 << 0.25 << 0.0 << 2 << 0.01 << Up << QByteArray("VOLT") << 0.26 << 0.0 << 260.0
        << true << notANumber << 0.26;
    QTest::newRow("normal, V step in V, Down")
        << 0 << 1 << 0.5 << 0.0 << 1 << 0.1 << Down << QByteArray("VOLT") << 0.4 << 0.0 << 0.4
        << true << notANumber << 0.4;
    QTest::newRow("FM, mV, Down") << 2 << 2 << 0.25 << 0.0 << 2 << 0.005 << Down
                                  << QByteArray("VOLT") << 0.245 << 0.0 << 245.0 << true
                                  << notANumber << 0.245;
    QTest::newRow("Delta, dBmV step unit, Up")
        << 3 << 2 << 0.25 << 0.0 << 3 << 0.05 << Up << QByteArray("VOLT") << 0.3 << 0.0 << 300.0
        << true << notANumber << 0.3;
    // 1.005 V is beyond the model's 1 V: refused, nothing sent, stored and dimmed.
    QTest::newRow("normal, refused above 1 V")
        << 0 << 2 << 0.995 << 0.0 << 2 << 0.01 << Up << QByteArray() << 0.995 << 0.0 << 1005.0
        << false << notANumber << 1.005;
}

void TestStepping::levelSteps() {
    QFETCH(int, mode);
    QFETCH(int, amplitudeUnit);
    QFETCH(double, startVolts);
    QFETCH(double, startDb);
    QFETCH(int, stepUnit);
    QFETCH(double, step);
    QFETCH(Arrow, arrow);
    QFETCH(QByteArray, header);
    QFETCH(double, instrumentVolts);
    QFETCH(double, instrumentDb);
    QFETCH(double, ampShows);
    QFETCH(bool, ampLit);
    QFETCH(double, paramShows);
    QFETCH(double, storedAmplitude);

    window = rig.open([&](sim::Instrument &instrument) {
        instrument.setAmplitude(startVolts);
        instrument.setAttenuation(startDb);
    });
    QVERIFY(window);
    window->amplitudeUnit = amplitudeUnit;
    window->amplitudeChanged(startVolts); // redraws the read-out in that unit
    enterMode(mode);
    window->amplitudeStepUnit = stepUnit;
    window->amplitudeStep = step;
    const double paramBefore = window->ui->lcdNumber_Param->value();
    QLCDNumber *const activeBefore = window->activeDisplay;
    QLabel *const labelBefore = window->activeUnitLabel;

    press(arrow);
    QVERIFY(rig.settle(*window->generator));

    const QList<QByteArray> lines = rig.panelLines();
    if (header.isEmpty()) {
        QCOMPARE(lines.size(), 0);
    } else {
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(header + ' '), lines.first().constData());
    }
    QVERIFY(near(rig.instrument().amplitude(), instrumentVolts));
    QVERIFY(near(rig.instrument().attenuation(), instrumentDb));
    QVERIFY(near(window->ui->lcdNumber_Amp->value(), ampShows));
    QCOMPARE(window->ui->lcdNumber_Amp->isEnabled(), ampLit);
    QCOMPARE(window->ui->label_AmpUnit->text(), units::label(amplitudeUnit));
    if (std::isnan(paramShows)) {
        QCOMPARE(window->ui->lcdNumber_Param->value(), paramBefore);
    } else {
        QVERIFY(near(window->ui->lcdNumber_Param->value(), paramShows));
        QCOMPARE(window->ui->label_ParamUnit->text(), QStringLiteral("dB"));
    }
    if (stepUnit == units::Decibel)
        QVERIFY(near(window->attenuation, instrumentDb));
    else
        QVERIFY(near(window->amplitude, storedAmplitude));
    QCOMPARE(window->activeDisplay, activeBefore);
    QCOMPARE(window->activeUnitLabel, labelBefore);
    QVERIFY(window->displayStack.empty());
    QVERIFY(window->unitLabelStack.empty());
}

void TestStepping::frequencyStepsRoundToGrid_data() {
    QTest::addColumn<int>("grid");
    QTest::addColumn<Arrow>("arrow");
    QTest::addColumn<double>("stepHz");
    QTest::addColumn<double>("expectedHz"); // from 100 MHz, rounded to the nearest grid point

    QTest::newRow("1 kHz, Right") << 0 << Right << 3456.0 << 100003000.0;
    QTest::newRow("2 kHz, Right") << 1 << Right << 3456.0 << 100004000.0;
    QTest::newRow("5 kHz, Right") << 2 << Right << 3456.0 << 100005000.0;
    QTest::newRow("10 kHz, Right") << 3 << Right << 3456.0 << 100000000.0;
    QTest::newRow("1 kHz, Left") << 0 << Left << 3456.0 << 99997000.0;
    QTest::newRow("2 kHz, Left") << 1 << Left << 3456.0 << 99996000.0;
    QTest::newRow("10 kHz, Left") << 3 << Left << 3456.0 << 100000000.0;
    QTest::newRow("10 kHz, Right 1 MHz") << 3 << Right << 1e6 << 101000000.0;
}

void TestStepping::frequencyStepsRoundToGrid() {
    QFETCH(int, grid);
    QFETCH(Arrow, arrow);
    QFETCH(double, stepHz);
    QFETCH(double, expectedHz);

    window = rig.open();
    QVERIFY(window);
    QAction *gridActions[] = {window->grid1KHzAction, window->grid2KHzAction,
                              window->grid5KHzAction, window->grid10KHzAction};
    gridActions[grid]->trigger();
    QCOMPARE(window->generator->getFrequencyGrid(), grid);
    QVERIFY2(rig.panelLines().isEmpty(), "a grid choice alone sends nothing");
    window->frequencyStep = stepHz;
    const double committedBefore = window->frequency;

    press(arrow);

    QCOMPARE(rig.panelLines().size(), 1);
    QCOMPARE(rig.instrument().frequency(), expectedHz);
    QVERIFY(near(window->ui->lcdNumber_Freq->value(), expectedHz / 1e6));
    QVERIFY(window->ui->lcdNumber_Freq->isEnabled());
    QCOMPARE(window->ui->label_FreqUnit->text(), QStringLiteral("МГц"));
    QCOMPARE(window->frequency, committedBefore);
}

void TestStepping::refusedFrequencyIsShownDimmed() {
    window = rig.open();
    QVERIFY(window);
    window->frequencyStep = 7e9; // 7.1 GHz is beyond the model's 6 GHz

    press(Right);
    QVERIFY(rig.settle(*window->generator));

    QVERIFY(rig.panelLines().isEmpty());
    QCOMPARE(rig.instrument().frequency(), 100e6);
    QVERIFY(near(window->ui->lcdNumber_Freq->value(), 7100.0));
    QVERIFY(!window->ui->lcdNumber_Freq->isEnabled());
}

// 32.5 typed, not applied, step 1 MHz: the press sends 33.5 MHz (this model
// starts at 25 MHz); what the operator types next starts a new number.
void TestStepping::rightStartsFromTypedEntry() {
    window = rig.open();
    QVERIFY(window);
    const double committed = window->frequency;
    window->ui->pushButton_Param1->click();
    for (QPushButton *key : {window->ui->pushButton_Num3, window->ui->pushButton_Num2,
                             window->ui->pushButton_Dot, window->ui->pushButton_Num5})
        key->click();
    QCOMPARE(window->ui->lcdNumber_Freq->value(), 32.5);
    QVERIFY(!window->ui->lcdNumber_Freq->isEnabled());

    press(Right);

    QCOMPARE(rig.instrument().frequency(), 33.5e6);
    QCOMPARE(window->ui->lcdNumber_Freq->value(), 33.5);
    QVERIFY(window->ui->lcdNumber_Freq->isEnabled());
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Freq);
    QCOMPARE(window->activeUnit, 6);
    QCOMPARE(window->frequency, committed);

    for (QPushButton *key :
         {window->ui->pushButton_Num2, window->ui->pushButton_Dot, window->ui->pushButton_Num5})
        key->click();
    QCOMPARE(window->ui->lcdNumber_Freq->value(), 2.5);
}

void TestStepping::activeDisplayRestored_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("param"); // checked parameter key, 0: none
    QTest::addColumn<Arrow>("arrow");
    QTest::addColumn<QString>("display"); // expected active display, empty: none
    QTest::addColumn<int>("unit");        // expected activeUnit, -1: the stepped one

    QTest::newRow("normal, frequency, Left") << 0 << 1 << Left << "lcdNumber_Freq" << 6;
    QTest::newRow("normal, amplitude, Right") << 0 << 2 << Right << "lcdNumber_Amp" << 2;
    QTest::newRow("normal, attenuation, Left") << 0 << 3 << Left << "lcdNumber_Param" << 4;
    QTest::newRow("normal, attenuation, Up") << 0 << 3 << Up << "lcdNumber_Param" << 4;
    QTest::newRow("normal, none, Right") << 0 << 0 << Right << "" << -1;
    QTest::newRow("FM, scan step, Right") << 2 << 1 << Right << "lcdNumber_Param" << 5;
    QTest::newRow("FM, period, Left") << 2 << 4 << Left << "lcdNumber_Param" << 9;
    QTest::newRow("FM, level, Up") << 2 << 5 << Up << "lcdNumber_Amp" << 2;
    QTest::newRow("Delta, frequency step, Down") << 3 << 1 << Down << "lcdNumber_Param" << 7;
    QTest::newRow("Delta, amplitude step, Left") << 3 << 2 << Left << "lcdNumber_Param" << 1;
}

void TestStepping::activeDisplayRestored() {
    QFETCH(int, mode);
    QFETCH(int, param);
    QFETCH(Arrow, arrow);
    QFETCH(QString, display);
    QFETCH(int, unit);

    window = rig.open();
    QVERIFY(window);
    window->fFmStepUnit = 5; // units that differ from the stepped ones
    window->frequencyStepUnit = 7;
    window->frequencyStep = 10e3;
    window->amplitudeStep = 0.01;
    window->amplitudeStepUnit = 1;
    enterMode(mode);
    if (param > 0)
        window->paramButtons[param - 1]->click();
    QLCDNumber *const expected =
        display.isEmpty() ? nullptr : window->findChild<QLCDNumber *>(display);
    QCOMPARE(window->activeDisplay, expected);
    QLabel *const labelBefore = window->activeUnitLabel;

    press(arrow);

    QVERIFY2(!rig.panelLines().isEmpty(), "the press reached the instrument");
    QCOMPARE(window->activeDisplay, expected);
    QCOMPARE(window->activeUnitLabel, labelBefore);
    if (unit >= 0)
        QCOMPARE(window->activeUnit, unit);
    QVERIFY(window->displayStack.empty());
    QVERIFY(window->unitLabelStack.empty());
}

// With the attenuation held, the FM level key edits decibels on the parameter
// read-out; after a step its unit must still be decibels, or the unit keys
// would convert the attenuation as if it were an amplitude.
void TestStepping::fmLevelHeldAsAttenuationKeepsDecibels() {
    window = rig.open();
    QVERIFY(window);
    window->attenuationLevelAction->trigger();
    QCOMPARE(window->generator->getLevelControl(), int(devicelink::AttenuationLevelHeld));
    enterMode(2);
    window->ui->pushButton_Param5->click();
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Param);
    QCOMPARE(window->activeUnit, units::Decibel);

    press(Right);

    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Param);
    QCOMPARE(window->activeUnit, units::Decibel);
}

void TestStepping::unitKeyCaptionsReset_data() {
    QTest::addColumn<Arrow>("arrow");
    QTest::newRow("Left") << Left;
    QTest::newRow("Right") << Right;
}

// The unit keys are relabelled for frequencies and stay so, although the
// amplitude read-out is active again.
void TestStepping::unitKeyCaptionsReset() {
    QFETCH(Arrow, arrow);
    window = rig.open();
    QVERIFY(window);
    window->ui->pushButton_Param2->click();
    QCOMPARE(window->ui->pushButton_Units3->text(), QStringLiteral("dBmV"));

    press(arrow);

    QCOMPARE(window->ui->pushButton_Units1->text(), QStringLiteral("КГц"));
    QCOMPARE(window->ui->pushButton_Units2->text(), QStringLiteral("МГц"));
    QCOMPARE(window->ui->pushButton_Units3->text(), QStringLiteral("ГГц"));
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Amp);
    QCOMPARE(window->activeUnit, window->amplitudeUnit);
}

void TestStepping::infiniteAttenuationNeverSent_data() {
    QTest::addColumn<Arrow>("arrow");
    QTest::newRow("Up") << Up;
    QTest::newRow("Down") << Down;
}

void TestStepping::infiniteAttenuationNeverSent() {
    QFETCH(Arrow, arrow);
    window = rig.open([](sim::Instrument &instrument) { instrument.setAttenuation(5); });
    QVERIFY(window);
    window->attenuation = infinity; // the start value before any setting or report
    window->amplitudeStepUnit = units::Decibel;
    window->amplitudeStep = 10;

    press(arrow);
    QVERIFY(rig.settle(*window->generator));

    QVERIFY(rig.panelLines().isEmpty());
    QCOMPARE(rig.instrument().attenuation(), 5.0);
    QVERIFY(std::isinf(window->attenuation));
    QVERIFY2(!window->ui->lcdNumber_Param->isEnabled(), "a refused value is drawn dimmed");
}

void TestStepping::notANumberStepSendsNothing_data() {
    QTest::addColumn<Arrow>("arrow");
    QTest::addColumn<int>("stepUnit");
    QTest::newRow("Up, amplitude") << Up << 2;
    QTest::newRow("Down, attenuation") << Down << 4;
    QTest::newRow("Left") << Left << 2;
    QTest::newRow("Right") << Right << 2;
}

void TestStepping::notANumberStepSendsNothing() {
    QFETCH(Arrow, arrow);
    QFETCH(int, stepUnit);
    window = rig.open();
    QVERIFY(window);
    window->amplitudeStep = notANumber;
    window->amplitudeStepUnit = stepUnit;
    window->frequencyStep = notANumber;
    window->ui->pushButton_Param1->click();
    const double freqShown = window->ui->lcdNumber_Freq->value();

    press(arrow);
    QVERIFY(rig.settle(*window->generator));

    QVERIFY(rig.panelLines().isEmpty());
    QCOMPARE(window->ui->lcdNumber_Freq->value(), freqShown);
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Freq);
    QCOMPARE(window->activeUnitLabel, window->ui->label_FreqUnit);
    QCOMPARE(window->activeUnit, window->frequencyUnit);
    QVERIFY(window->displayStack.empty());
}

void TestStepping::nothingWithoutDriver() {
    window = rig.open();
    QVERIFY(window);
    Generator *const bound = window->generator;
    const int gridBefore = bound->getFrequencyGrid();
    window->generator = nullptr;
    window->setGrid1KHz();
    for (Arrow arrow : {Up, Down, Left, Right})
        press(arrow);
    window->generator = bound;
    QVERIFY(rig.settle(*bound));
    QCOMPARE(bound->getFrequencyGrid(), gridBefore);
    QVERIFY(rig.panelLines().isEmpty());
    QVERIFY(window->displayStack.empty());
}

void TestStepping::reportInsideDriverCallNests_data() {
    QTest::addColumn<Arrow>("arrow");
    QTest::addColumn<int>("stepUnit");
    QTest::addColumn<QString>("reported"); // which read-out the report goes to
    QTest::addColumn<QString>("stepped");  // which read-out the arrow shows on

    QTest::newRow("Right, amplitude report") << Right << 2 << "lcdNumber_Amp"
                                             << "lcdNumber_Freq";
    QTest::newRow("Up, frequency report") << Up << 2 << "lcdNumber_Freq"
                                          << "lcdNumber_Amp";
    QTest::newRow("Down in dB, frequency report") << Down << 4 << "lcdNumber_Freq"
                                                  << "lcdNumber_Param";
    QTest::newRow("Left, attenuation report") << Left << 2 << "lcdNumber_Param"
                                              << "lcdNumber_Freq";
}

void TestStepping::reportInsideDriverCallNests() {
    QFETCH(Arrow, arrow);
    QFETCH(int, stepUnit);
    QFETCH(QString, reported);
    QFETCH(QString, stepped);

    window = rig.open();
    QVERIFY(window);
    Generator &real = *window->generator;
    const bool frequencyReport = reported == QLatin1String("lcdNumber_Freq");
    const bool amplitudeReport = reported == QLatin1String("lcdNumber_Amp");
    ReportingDriver nesting(real, [&] {
        if (frequencyReport)
            emit real.newFrequency(250e6);
        else if (amplitudeReport)
            emit real.newAmplitude(0.321);
        else
            emit real.newAttenuation(12.5);
    });
    // Seen right after the panel's own report slot has run.
    size_t depthAfterReport = 99;
    QLCDNumber *activeAfterReport = nullptr;
    auto watch = [&] {
        depthAfterReport = window->displayStack.size();
        activeAfterReport = window->activeDisplay;
    };
    const QMetaObject::Connection watches[] = {
        connect(&real, &Generator::newFrequency, this, watch),
        connect(&real, &Generator::newAmplitude, this, watch),
        connect(&real, &Generator::newAttenuation, this, watch)};
    window->generator = &nesting;
    window->amplitudeStepUnit = stepUnit;
    window->amplitudeStep = stepUnit == units::Decibel ? 1.0 : 0.01;
    window->ui->pushButton_Param3->click(); // the operator edits the attenuation

    press(arrow);
    window->generator = &real;
    for (const QMetaObject::Connection &connection : watches)
        disconnect(connection);

    QCOMPARE(depthAfterReport, size_t(1));
    QCOMPARE(activeAfterReport, window->findChild<QLCDNumber *>(stepped));
    QVERIFY(window->displayStack.empty());
    QVERIFY(window->unitLabelStack.empty());
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Param);
    QCOMPARE(window->activeUnitLabel, window->ui->label_ParamUnit);
    QCOMPARE(window->activeUnit, 4);
    auto *shown = window->findChild<QLCDNumber *>(reported);
    QCOMPARE(shown->value(), frequencyReport ? 250.0 : amplitudeReport ? 321.0 : 12.5);
    QVERIFY2(!rig.panelLines().isEmpty(), "the step still reached the instrument");
}

// The operator types into the frequency read-out; Up steps the amplitude and
// the driver reports a frequency inside that call. The report overwrites the
// typed number, so the next digits start a fresh number, point included.
void TestStepping::nestedReportOnTypedDisplayEndsEntry() {
    window = rig.open();
    QVERIFY(window);
    Generator &real = *window->generator;
    ReportingDriver nesting(real, [&] { emit real.newFrequency(250e6); });
    window->ui->pushButton_Param1->click();
    for (QPushButton *key : {window->ui->pushButton_Num3, window->ui->pushButton_Num2,
                             window->ui->pushButton_Dot, window->ui->pushButton_Num5})
        key->click();
    QCOMPARE(window->ui->lcdNumber_Freq->value(), 32.5);
    window->amplitudeStepUnit = units::Millivolt;
    window->amplitudeStep = 0.01;
    window->generator = &nesting;

    press(Up);
    window->generator = &real;

    QCOMPARE(window->ui->lcdNumber_Freq->value(), 250.0);
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Freq);
    for (QPushButton *key :
         {window->ui->pushButton_Num2, window->ui->pushButton_Dot, window->ui->pushButton_Num5})
        key->click();
    QCOMPARE(window->ui->lcdNumber_Freq->value(), 2.5);
}

QTEST_MAIN(TestStepping)
#include "tst_stepping.moc"
