// The panel's unit system and the one routine that puts a stored value on a
// read-out, on a real window (no instrument needed).
#include "app/mainwindow.h"
#include "panel/display.h"
#include "ui_mainwindow.h"

#include <QLCDNumber>
#include <QLabel>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {
const QString noUnitSelected = QStringLiteral("Не выбрана единица измерения");
const QString wrongUnit = QStringLiteral("Неправильная единица измерения");
} // namespace

class TestDisplay : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void labels_data();
    void labels();
    void conversions_data();
    void conversions();
    void invalidCodes_data();
    void invalidCodes();
    void displayValueShowsConverted_data();
    void displayValueShowsConverted();
    void displayValueOfNaN();
    void displayValueWithInvalidUnit();
    void displayValueWithoutActiveDisplay();
    void clearActiveForgetsDisplay();
    void rounding_data();
    void rounding();

private:
    std::unique_ptr<MainWindow> window;
};

void TestDisplay::init() {
    window = std::make_unique<MainWindow>();
}

void TestDisplay::cleanup() {
    window.reset();
}

void TestDisplay::labels_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("label");
    QTest::newRow("1 volt") << 1 << QStringLiteral("\u0412");
    QTest::newRow("2 millivolt") << 2 << QStringLiteral("\u043c\u0412");
    QTest::newRow("3 dBmV") << 3 << QStringLiteral("dBmV");
    QTest::newRow("4 dB") << 4 << QStringLiteral("dB");
    QTest::newRow("5 kHz") << 5 << QStringLiteral("\u041a\u0413\u0446");
    QTest::newRow("6 MHz") << 6 << QStringLiteral("\u041c\u0413\u0446");
    QTest::newRow("7 GHz") << 7 << QStringLiteral("\u0413\u0413\u0446");
    QTest::newRow("8 second, Latin c") << 8 << QStringLiteral("\u0063");
    QTest::newRow("9 millisecond, Cyrillic es") << 9 << QStringLiteral("\u043c\u0441");
    QTest::newRow("0 none") << 0 << QString();
    QTest::newRow("10 none") << 10 << QString();
}

void TestDisplay::labels() {
    QFETCH(int, code);
    QFETCH(QString, label);
    QCOMPARE(units::label(code), label);
    QCOMPARE(units::isValid(code), !label.isEmpty());
}

void TestDisplay::conversions_data() {
    QTest::addColumn<int>("unit");
    QTest::addColumn<double>("shown");
    QTest::addColumn<double>("base");
    QTest::newRow("V") << 1 << 0.75 << 0.75;
    QTest::newRow("mV") << 2 << 250.0 << 0.25;
    QTest::newRow("dBmV 10 is 1 V") << 3 << 10.0 << 1.0;
    QTest::newRow("dBmV 0") << 3 << 0.0 << std::sqrt(0.1);
    QTest::newRow("dBmV -50 is 1 mV") << 3 << -50.0 << 0.001;
    QTest::newRow("dB") << 4 << 31.5 << 31.5;
    QTest::newRow("kHz") << 5 << 1500.0 << 1500000.0;
    QTest::newRow("MHz") << 6 << 1.5 << 1500000.0;
    QTest::newRow("GHz") << 7 << 2.25 << 2250000000.0;
    QTest::newRow("s") << 8 << 0.5 << 0.5;
    QTest::newRow("ms") << 9 << 250.0 << 0.25;
}

// Both directions of every code, without any message.
void TestDisplay::conversions() {
    QFETCH(int, unit);
    QFETCH(double, shown);
    QFETCH(double, base);
    QCOMPARE(window->toBaseUnit(shown, unit), base);
    QCOMPARE(window->fromBaseUnit(base, unit), shown);
    QVERIFY(!window->errorBox.isVisible());
}

void TestDisplay::invalidCodes_data() {
    QTest::addColumn<int>("unit");
    QTest::newRow("0") << 0;
    QTest::newRow("10") << 10;
    QTest::newRow("-1") << -1;
    QTest::newRow("1000") << 1000;
}

// Each direction reports an invalid code with its own message and leaves the value.
void TestDisplay::invalidCodes() {
    QFETCH(int, unit);
    QCOMPARE(window->toBaseUnit(12.5, unit), 12.5);
    QCOMPARE(window->errorBox.text(), noUnitSelected);
    QVERIFY(window->errorBox.isVisible());
    window->errorBox.hide();
    QCOMPARE(window->fromBaseUnit(12.5, unit), 12.5);
    QCOMPARE(window->errorBox.text(), wrongUnit);
    QVERIFY(window->errorBox.isVisible());
}

void TestDisplay::displayValueShowsConverted_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("unit");
    QTest::addColumn<double>("shown");
    QTest::newRow("MHz") << 12500000.0 << 6 << 12.5;
    QTest::newRow("mV") << 0.025 << 2 << 25.0;
    QTest::newRow("dBmV") << 1.0 << 3 << 10.0;
    QTest::newRow("ms") << 0.004 << 9 << 4.0;
}

void TestDisplay::displayValueShowsConverted() {
    QFETCH(double, value);
    QFETCH(int, unit);
    QFETCH(double, shown);
    window->activeDisplay = window->ui->lcdNumber_Param;
    window->activeUnitLabel = window->ui->label_ParamUnit;
    window->ui->lcdNumber_Param->setEnabled(false);
    window->displayValue(value, unit);
    QCOMPARE(window->ui->lcdNumber_Param->value(), shown);
    QVERIFY(window->ui->lcdNumber_Param->isEnabledTo(window->ui->centralWidget));
    QCOMPARE(window->ui->label_ParamUnit->text(), units::label(unit));
    QCOMPARE(window->activeUnit, unit);
}

// Not a number: 0 on a disabled read-out, the unit still set.
void TestDisplay::displayValueOfNaN() {
    window->activeDisplay = window->ui->lcdNumber_Freq;
    window->activeUnitLabel = window->ui->label_FreqUnit;
    window->ui->lcdNumber_Freq->display(42);
    window->displayValue(std::numeric_limits<double>::quiet_NaN(), 6);
    QCOMPARE(window->ui->lcdNumber_Freq->value(), 0.0);
    QVERIFY(!window->ui->lcdNumber_Freq->isEnabledTo(window->ui->centralWidget));
    QCOMPARE(window->ui->label_FreqUnit->text(), QStringLiteral("МГц"));
    QCOMPARE(window->activeUnit, 6);
    QVERIFY(!window->errorBox.isVisible());
}

// An invalid unit: the value unconverted, label and unit code unchanged, a message.
void TestDisplay::displayValueWithInvalidUnit() {
    window->activeDisplay = window->ui->lcdNumber_Amp;
    window->activeUnitLabel = window->ui->label_AmpUnit;
    window->displayValue(0.5, 1);
    window->displayValue(7.0, 0);
    QCOMPARE(window->ui->lcdNumber_Amp->value(), 7.0);
    QVERIFY(window->ui->lcdNumber_Amp->isEnabledTo(window->ui->centralWidget));
    QCOMPARE(window->ui->label_AmpUnit->text(), QStringLiteral("В"));
    QCOMPARE(window->activeUnit, 1);
    QCOMPARE(window->errorBox.text(), wrongUnit);
    QVERIFY(window->errorBox.isVisible());
}

void TestDisplay::displayValueWithoutActiveDisplay() {
    window->clearActive();
    const double before = window->ui->lcdNumber_Freq->value();
    window->displayValue(5.0, 0);
    window->displayValue(5.0, 6);
    QCOMPARE(window->ui->lcdNumber_Freq->value(), before);
    QCOMPARE(window->activeUnit, 0);
    QVERIFY(!window->errorBox.isVisible());
}

void TestDisplay::clearActiveForgetsDisplay() {
    window->activeDisplay = window->ui->lcdNumber_Amp;
    window->activeUnitLabel = window->ui->label_AmpUnit;
    window->activeUnit = 2;
    window->clearActive();
    QVERIFY(!window->activeDisplay);
    QVERIFY(!window->activeUnitLabel);
    QCOMPARE(window->activeUnit, 0);
}

void TestDisplay::rounding_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::newRow("half up") << 0.0005 << 0.001;
    QTest::newRow("half away from zero below zero") << -0.0005 << -0.001;
    QTest::newRow("down") << 1.2344 << 1.234;
    QTest::newRow("up") << 1.2346 << 1.235;
    QTest::newRow("already there") << 31.5 << 31.5;
}

void TestDisplay::rounding() {
    QFETCH(double, value);
    QFETCH(double, rounded);
    QCOMPARE(roundToThousandth(value), rounded);
}

QTEST_MAIN(TestDisplay)
#include "tst_display.moc"
