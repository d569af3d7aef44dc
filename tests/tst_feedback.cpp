// The RF switch and the values the instrument reports on its own: the colour
// follows only what the instrument accepted or reported, and reports land on
// their read-out without disturbing the number the operator is typing.
#include "app/mainwindow.h"
#include "panel/display.h"
#include "panelrig.h"
#include "ui_mainwindow.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const int reportBoundMs = 3000; // a poll every second, with room to spare

// Solid colour of the switch in every colour group, or an invalid colour if
// the groups disagree or the brush is not solid.
QColor switchColour(const QPushButton *button) {
    const QPalette &palette = button->palette();
    const QBrush brush = palette.brush(QPalette::Active, QPalette::Button);
    for (QPalette::ColorGroup group : {QPalette::Inactive, QPalette::Disabled})
        if (palette.brush(group, QPalette::Button) != brush)
            return QColor();
    return brush.style() == Qt::SolidPattern ? brush.color() : QColor();
}

quint16 freeTcpPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestFeedback : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void switchAccepted();
    void switchRefused_data();
    void switchRefused();
    void stateReportSendsNothingBack_data();
    void stateReportSendsNothingBack();
    void reportsKeepTypedEntry_data();
    void reportsKeepTypedEntry();
    void reportedValues_data();
    void reportedValues();
    void reportOnTypedDisplayEndsEntry();

private:
    QPushButton *rfSwitch() const { return window->ui->pushButton_TurnOn; }
    void type(const QString &keys);

    PanelRig rig{devicelink::OrvexModel};
    std::unique_ptr<MainWindow> window;
};

void TestFeedback::initTestCase() {
    QString why;
    QVERIFY2(rig.start(why), qPrintable(why));
}

void TestFeedback::cleanup() {
    window.reset();
}

// Keypad keys by their captions: digits and ".".
void TestFeedback::type(const QString &keys) {
    for (QChar key : keys) {
        const QString name = key == QLatin1Char('.') ? QStringLiteral("pushButton_Dot")
                                                     : QStringLiteral("pushButton_Num") + key;
        window->findChild<QPushButton *>(name)->click();
    }
}

void TestFeedback::switchAccepted() {
    window = rig.open();
    QVERIFY(window);
    QCOMPARE(switchColour(rfSwitch()), QColor(Qt::red));

    rfSwitch()->click();
    QVERIFY(rig.instrument().output());
    QVERIFY(rfSwitch()->isChecked());
    QCOMPARE(switchColour(rfSwitch()), QColor(Qt::green));
    QVERIFY(rfSwitch()->autoFillBackground());

    rfSwitch()->click();
    QVERIFY(!rig.instrument().output());
    QVERIFY(!rfSwitch()->isChecked());
    QCOMPARE(switchColour(rfSwitch()), QColor(Qt::red));
}

void TestFeedback::switchRefused_data() {
    QTest::addColumn<bool>("startOn");
    QTest::newRow("switching on") << false;
    QTest::newRow("switching off") << true;
}

// The instrument stops answering: the button goes back to what it showed,
// and the next report after the instrument answers again tells the truth.
void TestFeedback::switchRefused() {
    QFETCH(bool, startOn);
    window = rig.open();
    QVERIFY(window);
    if (startOn)
        rfSwitch()->click();
    QCOMPARE(rfSwitch()->isChecked(), startOn);
    const QColor before = switchColour(rfSwitch());

    rig.instrument().setSilent(true);
    {
        ModalBoxCloser closer;
        rfSwitch()->click();
        rig.instrument().setSilent(false);
        // The driver reports the missing answer once the call has returned.
        QTRY_COMPARE(closer.texts, QStringList{QStringLiteral("Генератор не отвечает")});
    }

    QCOMPARE(rfSwitch()->isChecked(), startOn);
    QCOMPARE(switchColour(rfSwitch()), before);
    // The silent instrument obeyed without answering; its next poll says so.
    QCOMPARE(rig.instrument().output(), !startOn);
    QTRY_COMPARE_WITH_TIMEOUT(rfSwitch()->isChecked(), !startOn, reportBoundMs);
    QCOMPARE(switchColour(rfSwitch()), QColor(startOn ? Qt::red : Qt::green));
}

void TestFeedback::stateReportSendsNothingBack_data() {
    QTest::addColumn<bool>("on");
    QTest::newRow("output switched on at the instrument") << true;
    QTest::newRow("and off again") << false;
}

void TestFeedback::stateReportSendsNothingBack() {
    QFETCH(bool, on);
    window = rig.open();
    QVERIFY(window);
    if (!on) {
        rfSwitch()->click();
        QVERIFY(rig.instrument().output());
        rig.instrument().clearReceivedLines();
    }

    rig.instrument().setOutput(on);

    QTRY_COMPARE_WITH_TIMEOUT(rfSwitch()->isChecked(), on, reportBoundMs);
    QCOMPARE(switchColour(rfSwitch()), QColor(on ? Qt::green : Qt::red));
    QVERIFY(rig.settle(*window->generator));
    QVERIFY(rig.panelLines().isEmpty());
    QCOMPARE(rig.instrument().output(), on);
}

void TestFeedback::reportsKeepTypedEntry_data() {
    QTest::addColumn<bool>("remote");      // a remote client, else the instrument's knob
    QTest::addColumn<QString>("quantity"); // what changes
    QTest::addColumn<double>("value");     // in base units
    QTest::addColumn<int>("typingParam");  // the key of the read-out being typed into
    QTest::addColumn<QString>("readout");
    QTest::addColumn<double>("shows");

    QTest::newRow("knob frequency, typing amplitude")
        << false << "FREQ" << 250e6 << 2 << "lcdNumber_Freq" << 250.0;
    QTest::newRow("knob amplitude, typing frequency")
        << false << "VOLT" << 0.5 << 1 << "lcdNumber_Amp" << 500.0;
    QTest::newRow("knob attenuation, typing frequency")
        << false << "ATT" << 12.5 << 1 << "lcdNumber_Param" << 12.5;
    QTest::newRow("remote frequency, typing attenuation")
        << true << "FREQ" << 300e6 << 3 << "lcdNumber_Freq" << 300.0;
    QTest::newRow("remote amplitude, typing frequency")
        << true << "VOLT" << 0.75 << 1 << "lcdNumber_Amp" << 750.0;
    QTest::newRow("remote attenuation, typing amplitude")
        << true << "ATT" << 7.5 << 2 << "lcdNumber_Param" << 7.5;
}

void TestFeedback::reportsKeepTypedEntry() {
    QFETCH(bool, remote);
    QFETCH(QString, quantity);
    QFETCH(double, value);
    QFETCH(int, typingParam);
    QFETCH(QString, readout);
    QFETCH(double, shows);

    window = rig.open();
    QVERIFY(window);
    const double committedFrequency = window->frequency;
    QTcpSocket client;
    if (remote) {
        const quint16 port = freeTcpPort();
        window->generator->setTcpPort(port);
        window->generator->startServer();
        client.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.waitForConnected(reportBoundMs));
    }
    window->paramButtons[typingParam - 1]->click();
    type(QStringLiteral("35"));
    QLCDNumber *const typedInto = window->activeDisplay;
    QLabel *const typedLabel = window->activeUnitLabel;
    const int typedUnit = window->activeUnit;
    QCOMPARE(typedInto->value(), 35.0);
    auto *target = window->findChild<QLCDNumber *>(readout);
    QVERIFY(target != typedInto);
    target->setEnabled(false); // as a refused setting had left it

    if (remote) {
        client.write(quantity.toLatin1() + ' ' + QByteArray::number(value, 'g', 12) + '\n');
        QVERIFY(client.flush());
    } else if (quantity == QLatin1String("FREQ")) {
        rig.instrument().setFrequency(value);
    } else if (quantity == QLatin1String("VOLT")) {
        rig.instrument().setAmplitude(value);
    } else {
        rig.instrument().setAttenuation(value);
    }

    QTRY_COMPARE_WITH_TIMEOUT(target->value(), shows, reportBoundMs);
    QVERIFY(target->isEnabled());
    QCOMPARE(window->activeDisplay, typedInto);
    QCOMPARE(window->activeUnitLabel, typedLabel);
    QCOMPARE(window->activeUnit, typedUnit);
    QVERIFY(window->displayStack.empty());
    QCOMPARE(typedInto->value(), 35.0);
    QVERIFY(!typedInto->isEnabled());
    type(QStringLiteral("7"));
    QCOMPARE(typedInto->value(), 357.0);
    QCOMPARE(window->frequency, committedFrequency);
    if (quantity == QLatin1String("VOLT"))
        QCOMPARE(window->amplitude, value);
    if (quantity == QLatin1String("ATT"))
        QCOMPARE(window->attenuation, value);
    if (remote)
        window->generator->stopServer();
}

void TestFeedback::reportedValues_data() {
    QTest::addColumn<int>("mode");         // entered with its key
    QTest::addColumn<int>("checkedParam"); // 0: none
    QTest::addColumn<QString>("signal");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("readout"); // empty: no read-out changes
    QTest::addColumn<double>("shows");
    QTest::addColumn<QString>("unitLabel");
    QTest::addColumn<double>("stored"); // amplitude or attenuation afterwards; NaN: not stored

    QTest::newRow("amplitude to 1 mV")
        << 0 << 0 << "amplitude" << 0.12345 << "lcdNumber_Amp" << 123.0 << "мВ" << 0.123;
    QTest::newRow("amplitude half away from zero")
        << 0 << 0 << "amplitude" << 0.0125 << "lcdNumber_Amp" << 13.0 << "мВ" << 0.013;
    QTest::newRow("attenuation, normal")
        << 0 << 0 << "attenuation" << 10.0004 << "lcdNumber_Param" << 10.0 << "dB" << 10.0;
    QTest::newRow("attenuation, FM: stored only")
        << 2 << 0 << "attenuation" << 10.0004 << "" << 0.0 << "" << 10.0;
    QTest::newRow("attenuation, Delta: stored only")
        << 3 << 1 << "attenuation" << 3.0 << "" << 0.0 << "" << 3.0;
    QTest::newRow("frequency") << 0 << 0 << "frequency" << 1.5e9 << "lcdNumber_Freq" << 1500.0
                               << "МГц" << notANumber;
    QTest::newRow("frequency not a number")
        << 0 << 0 << "frequency" << notANumber << "lcdNumber_Freq" << 0.0 << "МГц" << notANumber;
    QTest::newRow("period, FM period key")
        << 2 << 4 << "period" << 0.25 << "lcdNumber_Param" << 250.0 << "мс" << notANumber;
    QTest::newRow("period, key up") << 2 << 0 << "period" << 0.25 << "" << 0.0 << "" << notANumber;
    // In Delta mode the fourth key has no role and the row shows a step.
    QTest::newRow("period, Delta fourth key")
        << 3 << 4 << "period" << 0.25 << "" << 0.0 << "" << notANumber;
}

// The driver's signals as the instrument's poll emits them.
void TestFeedback::reportedValues() {
    QFETCH(int, mode);
    QFETCH(int, checkedParam);
    QFETCH(QString, signal);
    QFETCH(double, value);
    QFETCH(QString, readout);
    QFETCH(double, shows);
    QFETCH(QString, unitLabel);
    QFETCH(double, stored);

    window = rig.open();
    QVERIFY(window);
    if (mode == 2)
        window->ui->pushButton_FM->click();
    else if (mode == 3)
        window->ui->pushButton_Delta->click();
    if (checkedParam > 0)
        window->paramButtons[checkedParam - 1]->click();
    const QList<QLCDNumber *> displays = {window->ui->lcdNumber_Freq, window->ui->lcdNumber_Amp,
                                          window->ui->lcdNumber_Param};
    QList<double> before;
    for (QLCDNumber *display : displays) {
        before << display->value();
        display->setEnabled(false);
    }
    QLCDNumber *const activeBefore = window->activeDisplay;
    const double committedFrequency = window->frequency;

    Generator &driver = *window->generator;
    if (signal == QLatin1String("amplitude"))
        emit driver.newAmplitude(value);
    else if (signal == QLatin1String("attenuation"))
        emit driver.newAttenuation(value);
    else if (signal == QLatin1String("frequency"))
        emit driver.newFrequency(value);
    else
        emit driver.newTFm(value);

    for (int i = 0; i < displays.size(); ++i) {
        QLCDNumber *display = displays[i];
        if (display->objectName() == readout) {
            QCOMPARE(display->value(), shows);
            QVERIFY2(display->isEnabled(), "a reported value is lit");
            const QString labelName =
                QStringLiteral("label_") + display->objectName().mid(10) + QStringLiteral("Unit");
            QCOMPARE(window->findChild<QLabel *>(labelName)->text(), unitLabel);
        } else {
            QCOMPARE(display->value(), before[i]);
            QVERIFY(!display->isEnabled());
        }
    }
    if (signal == QLatin1String("amplitude"))
        QCOMPARE(window->amplitude, stored);
    if (signal == QLatin1String("attenuation"))
        QCOMPARE(window->attenuation, stored);
    QCOMPARE(window->frequency, committedFrequency);
    QCOMPARE(window->activeDisplay, activeBefore);
    QVERIFY(window->displayStack.empty());
}

// A report that overwrites the very read-out being typed into ends that
// entry: the next keys start a new number with its own point.
void TestFeedback::reportOnTypedDisplayEndsEntry() {
    window = rig.open();
    QVERIFY(window);
    window->ui->pushButton_Param1->click();
    type(QStringLiteral("1."));
    QCOMPARE(window->entryState, 1);

    rig.instrument().setFrequency(200e6);
    QTRY_COMPARE_WITH_TIMEOUT(window->ui->lcdNumber_Freq->value(), 200.0, reportBoundMs);
    QVERIFY(window->ui->lcdNumber_Freq->isEnabled());
    QCOMPARE(window->activeDisplay, window->ui->lcdNumber_Freq);

    type(QStringLiteral("2.5"));
    QCOMPARE(window->ui->lcdNumber_Freq->value(), 2.5);
}

QTEST_MAIN(TestFeedback)
#include "tst_feedback.moc"
