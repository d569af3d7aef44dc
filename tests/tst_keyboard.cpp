// Keyboard control: each key of the table does what clicking its button does,
// other keys do nothing, every press leaves one debug line with its code, and
// the filter consumes only the window deactivation of the central widget.
#include "app/mainwindow.h"
#include "panelrig.h"
#include "ui_mainwindow.h"

#include <QtTest>

#include <memory>

namespace {

QStringList debugLines;
QtMessageHandler previousHandler = nullptr;

void captureDebug(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (type == QtDebugMsg && QByteArray(context.category) == "default")
        debugLines << message;
    else if (previousHandler)
        previousHandler(type, context, message);
}

// Installed for one press, so the window's other output is not counted.
class DebugCapture {
public:
    DebugCapture() {
        debugLines.clear();
        previousHandler = qInstallMessageHandler(captureDebug);
    }
    ~DebugCapture() { qInstallMessageHandler(previousHandler); }
};

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void keyActsLikeButton_data();
    void keyActsLikeButton();
    void otherKeysDoNothing_data();
    void otherKeysDoNothing();
    void oneDebugLinePerPress_data();
    void oneDebugLinePerPress();
    void autoRepeatStepsEachTime();
    void keyTakenByFocusedButtonNeverReachesFilter();
    void otherObjectsNeverConsumed_data();
    void otherObjectsNeverConsumed();
    void deactivationConsumed();

private:
    void open();
    void prepare(int param, const QString &typed);
    QString snapshot();

    PanelRig rig{devicelink::OrvexModel};
    std::unique_ptr<MainWindow> window;
};

void TestKeyboard::initTestCase() {
    QString why;
    QVERIFY2(rig.start(why), qPrintable(why));
}

void TestKeyboard::cleanup() {
    window.reset();
}

void TestKeyboard::open() {
    window.reset();
    window = rig.open();
}

// Checks a parameter key and types on the keypad ("." for the point).
void TestKeyboard::prepare(int param, const QString &typed) {
    if (param > 0)
        window->paramButtons[param - 1]->click();
    for (QChar key : typed) {
        const QString name = key == QLatin1Char('.') ? QStringLiteral("pushButton_Dot")
                                                     : QStringLiteral("pushButton_Num") + key;
        window->findChild<QPushButton *>(name)->click();
    }
}

// Everything a key could change, on the panel and at the instrument.
QString TestKeyboard::snapshot() {
    rig.settle(*window->generator);
    QStringList parts;
    for (QLCDNumber *display :
         {window->ui->lcdNumber_Freq, window->ui->lcdNumber_Amp, window->ui->lcdNumber_Param})
        parts << QString::number(display->value(), 'g', 12) +
                     (display->isEnabled() ? QStringLiteral(" lit") : QStringLiteral(" dim"));
    for (QLabel *label :
         {window->ui->label_FreqUnit, window->ui->label_AmpUnit, window->ui->label_ParamUnit})
        parts << label->text();
    for (QPushButton *key : {window->ui->pushButton_Units1, window->ui->pushButton_Units2,
                             window->ui->pushButton_Units3})
        parts << key->text();
    parts << QString::number(window->entryState) << QString::number(window->minusPending)
          << window->entryText << QString::number(window->activeUnit)
          << (window->activeDisplay ? window->activeDisplay->objectName() : QString())
          << QString::number(window->frequency, 'g', 12)
          << QString::number(window->amplitude, 'g', 12)
          << QString::number(window->attenuation, 'g', 12)
          << QString::number(rig.instrument().frequency(), 'g', 12)
          << QString::number(rig.instrument().amplitude(), 'g', 12);
    for (const QByteArray &line : rig.panelLines())
        parts << QString::fromLatin1(line);
    return parts.join(QLatin1Char('|'));
}

void TestKeyboard::keyActsLikeButton_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("param"); // checked first
    QTest::addColumn<QString>("typed");

    for (int digit = 0; digit <= 9; ++digit)
        QTest::addRow("%d", digit) << int(Qt::Key_0) + digit << int(Qt::NoModifier)
                                   << QStringLiteral("pushButton_Num%1").arg(digit) << 1 << "3";
    QTest::newRow("keypad 7") << int(Qt::Key_7) << int(Qt::KeypadModifier) << "pushButton_Num7" << 1
                              << "3";
    QTest::newRow("point") << int(Qt::Key_Period) << int(Qt::NoModifier) << "pushButton_Dot" << 1
                           << "3";
    QTest::newRow("minus") << int(Qt::Key_Minus) << int(Qt::NoModifier) << "pushButton_Minus" << 1
                           << "32";
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << int(Qt::NoModifier)
                               << "pushButton_Clear" << 1 << "32";
    QTest::newRow("Delete") << int(Qt::Key_Delete) << int(Qt::NoModifier) << "pushButton_Clear" << 1
                            << "32";
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << "pushButton_OK" << 1
                            << "75";
    QTest::newRow("Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "pushButton_OK" << 2
                           << "250";
    QTest::newRow("W") << int(Qt::Key_W) << int(Qt::NoModifier) << "pushButton_Up" << 2 << "";
    QTest::newRow("shift W") << int(Qt::Key_W) << int(Qt::ShiftModifier) << "pushButton_Up" << 0
                             << "";
    QTest::newRow("S") << int(Qt::Key_S) << int(Qt::NoModifier) << "pushButton_Down" << 3 << "";
    QTest::newRow("A") << int(Qt::Key_A) << int(Qt::NoModifier) << "pushButton_Left" << 2 << "";
    QTest::newRow("D") << int(Qt::Key_D) << int(Qt::NoModifier) << "pushButton_Right" << 1
                       << "32.5";
}

// The same start twice: once the button is clicked, once the key is pressed
// on the central widget; both must leave the same panel and instrument.
void TestKeyboard::keyActsLikeButton() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, button);
    QFETCH(int, param);
    QFETCH(QString, typed);

    open();
    QVERIFY(window);
    prepare(param, typed);
    const QString start = snapshot();
    rig.instrument().clearReceivedLines();
    window->findChild<QPushButton *>(button)->click();
    const QString byButton = snapshot();
    QVERIFY2(byButton != start, "the button changes something");

    open();
    QVERIFY(window);
    prepare(param, typed);
    QCOMPARE(snapshot(), start);
    rig.instrument().clearReceivedLines();
    QTest::keyClick(window->ui->centralWidget, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(snapshot(), byButton);
}

void TestKeyboard::otherKeysDoNothing_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("comma") << int(Qt::Key_Comma);
    QTest::newRow("cursor up") << int(Qt::Key_Up);
    QTest::newRow("cursor left") << int(Qt::Key_Left);
    QTest::newRow("plus") << int(Qt::Key_Plus);
    QTest::newRow("space") << int(Qt::Key_Space);
    QTest::newRow("Q") << int(Qt::Key_Q);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("F1") << int(Qt::Key_F1);
}

void TestKeyboard::otherKeysDoNothing() {
    QFETCH(int, key);
    open();
    QVERIFY(window);
    prepare(1, QStringLiteral("3.2"));
    const QString before = snapshot();
    {
        DebugCapture capture;
        QTest::keyClick(window->ui->centralWidget, Qt::Key(key));
    }
    QCOMPARE(debugLines.size(), 1);
    QCOMPARE(snapshot(), before);
}

void TestKeyboard::oneDebugLinePerPress_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("line");
    QTest::newRow("W") << int(Qt::Key_W) << "\"87\"";
    QTest::newRow("5") << int(Qt::Key_5) << "\"53\"";
    QTest::newRow("Return") << int(Qt::Key_Return) << QString("\"%1\"").arg(int(Qt::Key_Return));
    QTest::newRow("comma") << int(Qt::Key_Comma) << "\"44\"";
}

// Only presses count: the release of the same key writes nothing.
void TestKeyboard::oneDebugLinePerPress() {
    QFETCH(int, key);
    QFETCH(QString, line);
    open();
    QVERIFY(window);
    {
        DebugCapture capture;
        QTest::keyClick(window->ui->centralWidget, Qt::Key(key));
    }
    QCOMPARE(debugLines, QStringList{line});
}

// Holding W steps the level once per repeated press.
void TestKeyboard::autoRepeatStepsEachTime() {
    open();
    QVERIFY(window);
    window->amplitudeStepUnit = 2;
    window->amplitudeStep = 0.01;
    const double start = rig.instrument().amplitude();
    for (int press = 0; press < 3; ++press) {
        QKeyEvent repeated(QEvent::KeyPress, Qt::Key_W, Qt::NoModifier, QStringLiteral("w"),
                           press > 0);
        QApplication::sendEvent(window->ui->centralWidget, &repeated);
    }
    QVERIFY(qAbs(rig.instrument().amplitude() - (start + 0.03)) < 1e-9);
}

// A focused button takes the space bar for itself (a click); keys it ignores
// go on to the central widget and are acted on there.
void TestKeyboard::keyTakenByFocusedButtonNeverReachesFilter() {
    open();
    QVERIFY(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->amplitudeStepUnit = 2;
    window->amplitudeStep = 0.01;
    QPushButton *up = window->ui->pushButton_Up;
    up->setFocus();
    QVERIFY(up->hasFocus());
    const double start = rig.instrument().amplitude();
    {
        DebugCapture capture;
        QTest::keyClick(up, Qt::Key_Space);
        QCOMPARE(debugLines.size(), 0);
        QTest::keyClick(up, Qt::Key_W);
        QCOMPARE(debugLines.size(), 1);
    }
    QVERIFY(qAbs(rig.instrument().amplitude() - (start + 0.02)) < 1e-9);
}

void TestKeyboard::otherObjectsNeverConsumed_data() {
    QTest::addColumn<QString>("object");
    QTest::newRow("main window") << "MainWindow";
    QTest::newRow("a read-out") << "lcdNumber_Freq";
    QTest::newRow("the Up button") << "pushButton_Up";
}

void TestKeyboard::otherObjectsNeverConsumed() {
    QFETCH(QString, object);
    open();
    QVERIFY(window);
    QObject *watched = object == QLatin1String("MainWindow") ? static_cast<QObject *>(window.get())
                                                             : window->findChild<QObject *>(object);
    QVERIFY(watched);
    window->ui->label_Param->hide();
    const QString before = snapshot();

    QKeyEvent press(QEvent::KeyPress, Qt::Key_W, Qt::NoModifier, QStringLiteral("w"));
    QEvent deactivate(QEvent::WindowDeactivate);
    QVERIFY(!window->eventFilter(watched, &press));
    QVERIFY(!window->eventFilter(watched, &deactivate));

    QCOMPARE(snapshot(), before);
    QVERIFY(window->ui->label_Param->isHidden());
}

void TestKeyboard::deactivationConsumed() {
    open();
    QVERIFY(window);
    const QList<QLabel *> captions = {window->ui->label_Amp, window->ui->label_Freq,
                                      window->ui->label_Param};
    for (QLabel *caption : captions) {
        caption->setEnabled(false);
        caption->hide();
    }
    QEvent deactivate(QEvent::WindowDeactivate);
    QVERIFY(QApplication::sendEvent(window->ui->centralWidget, &deactivate));
    for (QLabel *caption : captions) {
        QVERIFY(caption->isEnabled());
        QVERIFY(!caption->isHidden());
    }
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
