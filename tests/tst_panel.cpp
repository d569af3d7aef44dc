// The front panel as the operator works it, against a simulated instrument:
// each row is a short script of keys and events, and what the read-outs and
// the instrument show afterwards. One interpreter runs every row.
#include "rig.h"

#include "app/language.h"
#include "journal/journalwindow.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QKeySequence>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTcpSocket>
#include <QtTest>

namespace {

// The driver's report of a value ("FREQ", "VOLT", "ATT", "PER"), of a state
// ("OUTP": the output, "NET": remote control).
const QHash<QString, void (Generator::*)(double)> valueReports = {
    {"FREQ", &Generator::newFrequency},
    {"VOLT", &Generator::newAmplitude},
    {"ATT", &Generator::newAttenuation},
    {"PER", &Generator::newTFm}};
const QHash<QString, void (Generator::*)(bool)> stateReports = {{"OUTP", &Generator::newState},
                                                                {"NET", &Generator::netControl}};

// Emits the driver's report as the instrument's poll would.
bool emitReport(Generator &driver, const QString &header, double value) {
    if (auto report = valueReports.value(header))
        emit(driver.*report)(value);
    else if (auto report = stateReports.value(header))
        emit(driver.*report)(value != 0);
    return valueReports.contains(header) || stateReports.contains(header);
}

// Stands in for the window's driver during one operator action: a report
// arrives through the real driver's signal inside the set operation, before
// it returns, then the real driver does the work.
class ReportingDriver : public Orvex {
public:
    ReportingDriver(Generator &real, QString header, double value)
        : real(real), header(std::move(header)), value(value) {}
    bool setState(bool on) override { return report() && real.setState(on); }
    bool setAmplitude(double &volts) override { return report() && real.setAmplitude(volts); }
    bool setAttenuation(double &dB) override { return report() && real.setAttenuation(dB); }
    bool setFrequency(double &hz) override { return report() && real.setFrequency(hz); }
    int getLevelControl() override { return real.getLevelControl(); }
    int getFrequencyGrid() override { return real.getFrequencyGrid(); }
    bool reported = false;

private:
    bool report() {
        reported = reported || emitReport(real, header, value);
        return true;
    }
    Generator &real;
    const QString header;
    const double value;
};

// The layouts take new texts and sizes, level by level.
void layOut() {
    for (int level = 0; level < 8; ++level)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

// Where each key is (hidden: null) once laid out.
QList<QRect> keyPlaces(MainWindow &w) {
    layOut();
    QList<QRect> places;
    for (QPushButton *key : w.centralWidget()->findChildren<QPushButton *>())
        places << (key->isVisible() ? QRect(key->mapTo(&w, QPoint()), key->size()) : QRect());
    return places;
}

// A shown key or label has room for its whole text (a key's room is inside its frame).
bool showsWholeText(QWidget *part) {
    QStyleOptionButton frame;
    frame.initFrom(part);
    if (auto *key = qobject_cast<QPushButton *>(part))
        return key->fontMetrics().horizontalAdvance(key->text()) <=
               key->style()->subElementRect(QStyle::SE_PushButtonContents, &frame, key).width();
    auto *label = qobject_cast<QLabel *>(part);
    return !label || label->fontMetrics().horizontalAdvance(label->text()) <= label->width();
}

// Events are handled until the condition holds (false after a long bound);
// unlike QTest::qWaitFor it never sleeps between rounds, which the 300 steps
// of the random run would pay for many times over.
template <typename Condition> bool waitFor(Condition condition) {
    for (QDeadlineTimer bound(20000); !condition() && !bound.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return condition();
}

// How tall the read-out's digits are drawn at its own size and look: eight
// eights in a twin, measured by the rows that are not background.
int digitHeight(const QLCDNumber &display) {
    const QImage image = Rig::twinDrawing(display, QString(display.digitCount(), QLatin1Char('8')));
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0)) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return bottom - top + 1;
}

// No shown text is cut, and the digits read from a metre away.
void checkFace(MainWindow &w) {
    for (QWidget *part : w.findChildren<QWidget *>())
        QVERIFY2(!part->isVisible() || showsWholeText(part), qPrintable(part->objectName()));
    for (QLCDNumber *display : w.findChildren<QLCDNumber *>())
        QVERIFY2(digitHeight(*display) >= 34,
                 qPrintable(display->objectName() + QString::number(digitHeight(*display))));
}

bool isRussian(const QString &text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
}

// Every text a shown window, its menus, tables and tips show.
QStringList shownTexts() {
    QStringList texts;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        QList<QObject *> parts{top};
        for (QObject *part : top->findChildren<QObject *>())
            parts << part;
        for (QObject *part : parts) {
            texts << part->property("text").toString() << part->property("toolTip").toString()
                  << part->property("statusTip").toString()
                  << part->property("windowTitle").toString()
                  << part->property("accessibleName").toString();
            if (auto *bar = qobject_cast<QStatusBar *>(part))
                texts << bar->currentMessage();
            auto *view = qobject_cast<QAbstractItemView *>(part);
            for (int c = 0; view && c < view->model()->columnCount(); ++c) {
                texts << view->model()->headerData(c, Qt::Horizontal).toString();
                for (int r = 0; r < view->model()->rowCount(); ++r)
                    texts << view->model()->index(r, c).data().toString();
            }
        }
    }
    return texts;
}

} // namespace

class TestPanel : public QObject {
    Q_OBJECT
    Rig rig;
    int handles[2] = {-1, -1}; // one instrument of the first model, one that sets dBm

    // A window on an instrument of the model, the other one unplugged.
    std::unique_ptr<MainWindow> openAlone(int model) {
        for (int m : {0, 1})
            m == model ? rig.bed().replug(handles[m]) : rig.bed().unplug(handles[m]);
        return rig.open(handles[model]);
    }

    // Runs one operator action, or fails the test when it cannot.
    void act(MainWindow &w, const QString &token, int model);
    // Checks one expected outcome after the script.
    void check(MainWindow &w, const QString &expectation, int model);

private slots:
    void initTestCase() {
        QString why;
        QVERIFY2(rig.start(why), qPrintable(why));
        handles[0] = rig.plug(0);
        handles[1] = rig.plug(1);
        QVERIFY(handles[0] >= 0 && handles[1] >= 0);
    }
    void operatorScripts_data();
    void operatorScripts();
    void bothLanguages();
    void randomRun();
};

// Keys: "P1".."P6", digits, ".", "-", "C", "OK", "U1".."U3", arrows, "Delta",
// "FM", "AM", "RF" (Rig::press); "k:<key>" a key press at the panel through
// the keyboard ("k:W", "k:Num+5", "k:Backspace"); "slot:<name>" a menu
// action's slot; "hold:att" the driver holds the level as attenuation;
// "knob:FREQ=<Hz>" the instrument changes a value itself (VOLT, ATT, OUTP) and
// the next poll reports it; "emit:VOLT=<V>" the driver reports a value now (NET=1: remote);
// "inside:FREQ=<Hz>" the next action's driver call gets that report before it
// returns; "mute" the instrument takes the next action without answering;
// "a11y:RF" (a11y:Param1, ...) a key's "toggle" through the accessibility
// interface, as a screen reader or voice control does it.
void TestPanel::act(MainWindow &w, const QString &token, int model) {
    const int colon = token.indexOf(QLatin1Char(':'));
    const QString kind = token.left(colon), arg = token.mid(colon + 1);
    const QString header = arg.section(QLatin1Char('='), 0, 0);
    const double value = arg.section(QLatin1Char('='), 1).toDouble();
    Generator *driver = Rig::driver(w);
    if (colon < 0) {
        QVERIFY2(Rig::press(w, token),
                 qPrintable(token + QStringLiteral(": no such key, or dimmed")));
    } else if (kind == QLatin1String("k")) {
        const int code = QKeySequence::fromString(arg)[0];
        QVERIFY2(code != 0, qPrintable(token));
        QTest::keyClick(Rig::ui(w).centralWidget, Qt::Key(code & ~Qt::KeyboardModifierMask),
                        Qt::KeyboardModifiers(code & Qt::KeyboardModifierMask));
    } else if (kind == QLatin1String("a11y")) {
        auto *key = w.findChild<QPushButton *>("pushButton_" + (arg == "RF" ? "TurnOn" : arg));
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(key);
        QVERIFY2(face && face->actionInterface(), qPrintable(token));
        face->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    } else if (kind == QLatin1String("slot")) {
        QVERIFY2(QMetaObject::invokeMethod(&w, qPrintable(arg)), qPrintable(token));
    } else if (token == QLatin1String("hold:att")) {
        driver->setLevelControl(1);
    } else if (kind == QLatin1String("emit")) {
        QVERIFY2(emitReport(*driver, header, value), qPrintable(token));
    } else if (kind == QLatin1String("knob")) {
        const auto report = valueReports.contains(header)
                                ? std::make_unique<QSignalSpy>(driver, valueReports[header])
                                : std::make_unique<QSignalSpy>(driver, stateReports[header]);
        sim::Instrument &instrument = rig.instrument(handles[model]);
        header == "FREQ"   ? instrument.setFrequency(value)
        : header == "VOLT" ? instrument.setAmplitude(value)
        : header == "ATT"  ? instrument.setAttenuation(value)
                           : instrument.setOutput(value != 0);
        QVERIFY2(report->wait(5000), qPrintable(token + QStringLiteral(": no report")));
    } else {
        QFAIL(qPrintable(token + QStringLiteral(": not an action")));
    }
}

// "Freq=12.5" the read-out draws 12.5, lit; "Freq~12.5" the same, dimmed
// (Freq, Amp, Param); "RF=on" the output switch checked and green; "box=..."
// the panel's message; "@FREQ?=<reply>" what the instrument answers;
// "$freq=<Hz>" ($amp, $att, $step: the frequency step) what the panel keeps
// for the settings file;
// "P6=down" (up) a parameter key's state; any other "Name=text" the text of
// label_Name.
void TestPanel::check(MainWindow &w, const QString &expectation, int model) {
    const int at = expectation.indexOf(QRegularExpression(QStringLiteral("[=~]")));
    QVERIFY2(at > 0, qPrintable(expectation));
    const QString name = expectation.left(at), text = expectation.mid(at + 1);
    const bool lit = expectation[at] == QLatin1Char('=');
    auto *readout = w.findChild<QLCDNumber *>(QStringLiteral("lcdNumber_") + name);
    if (name.startsWith(QLatin1String("a11y:"))) {
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(
            w.findChild<QLCDNumber *>(QStringLiteral("lcdNumber_") + name.mid(5)));
        QVERIFY2(face, qPrintable(expectation));
        QCOMPARE(face->text(QAccessible::Name), text);
        QCOMPARE(face->text(QAccessible::Description).isEmpty(), lit);
    } else if (readout) {
        QVERIFY2(Rig::draws(*readout, text),
                 qPrintable(expectation + QStringLiteral(": it shows ") +
                            QString::number(readout->value())));
        QVERIFY2(readout->isEnabled() == lit, qPrintable(expectation + QStringLiteral(": lit?")));
    } else if (name == QLatin1String("RF")) {
        QPushButton &rf = *Rig::ui(w).pushButton_TurnOn;
        const bool on = text == QLatin1String("on");
        QCOMPARE(rf.isChecked(), on);
        QCOMPARE(rf.palette().color(QPalette::Button), QColor(on ? Qt::green : Qt::red));
    } else if (name == QLatin1String("box")) {
        QCOMPARE(Rig::errorBox(w).text(), text);
    } else if (name.startsWith(QLatin1Char('$'))) {
        const PanelValues v = Rig::values(w);
        const double kept = name == QLatin1String("$freq")   ? v.frequency
                            : name == QLatin1String("$amp")  ? v.amplitude
                            : name == QLatin1String("$step") ? v.frequencyStep
                                                             : v.attenuation;
        QCOMPARE(kept, text.toDouble());
    } else if (name.size() == 2 && name[0] == QLatin1Char('P')) {
        auto *key = w.findChild<QPushButton *>(QStringLiteral("pushButton_Param") + name[1]);
        QVERIFY2(key, qPrintable(expectation));
        QCOMPARE(key->isChecked(), text == QLatin1String("down"));
    } else if (name.startsWith(QLatin1Char('@'))) {
        QCOMPARE(
            QString::fromLatin1(rig.instrument(handles[model]).setting(name.mid(1).toLatin1())),
            text);
    } else {
        auto *label = w.findChild<QLabel *>(QStringLiteral("label_") + name);
        QVERIFY2(label, qPrintable(expectation));
        QCOMPARE(label->text(), text);
    }
}

void TestPanel::operatorScripts_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expect"); // checks, separated by ';'
    QTest::addColumn<QString>("sent");   // every setting the instrument received; "*": not checked

    // The instrument starts at 100 MHz, 0.1 V, 0 dB; the first model takes
    // 25 MHz to 6 GHz, 1 mV to 1 V, 0 to 31.5 dB in 0.5 dB steps, on a 10 kHz grid.
    auto row = [](const char *name, const char *script, const char *expect, const char *sent,
                  int model = 0) {
        QTest::newRow(name) << model << QString::fromUtf8(script) << QString::fromUtf8(expect)
                            << QString::fromUtf8(sent);
    };

    // Keypad typing.
    row("typed digits replace the committed value", "P1 1 2 . 5", "Freq~12.5", "");
    row("leading zeros vanish", "P1 C 0 0 7", "Freq~7", "");
    row("a pending minus waits through the zero", "P1 C - 0 . 5", "Freq~-0.5", "");
    row("minus in the fraction keeps typing on", "P1 C 1 . 5 - 2", "Freq~-1.52", "");
    row("a second point is ignored", "P1 C 1 . 0 . 5", "Freq~1.05", "");
    row("trailing zeros stay as typed", "P1 C 2 . 5 0 0", "Freq~2.500", "");
    row("minus twice on zero cancels", "P1 C - - 5", "Freq~5", "");
    row("point over a committed value starts below one", "P1 . 5", "Freq~.5", "");
    row("minus negates the committed value, still lit", "P1 -", "Freq=-100", "");
    row("a ninth digit does not fit", "P1 C 1 2 3 4 5 6 7 8 9", "Freq~12345678", "");
    row("no room for a fraction after seven digits", "P1 C 1 2 3 4 5 6 7 . 5", "Freq~1234567", "");
    row("minus keeps all seven digits", "P1 C 1 2 3 4 5 6 7 -", "Freq~-1234567", "");
    row("a minus that does not fit is ignored", "Delta P1 1 2 3 4 5 6 7 8 - OK",
        "Param=12345678; $step=12345678000000", "");
    row("fraction digits up to the width", "P1 C 0 . 1 2 3 4 5 6 7", "Freq~0.123456", "");
    row("clear shows a dimmed zero", "P2 1 2 C", "Amp~0", "");
    row("no active read-out: keys do nothing", "P1 P1 5 . OK", "Freq=100", "");

    // Units: the typed number is read in the unit at OK, sent in base units.
    row("MHz key converts typed 125.5 to 125500000 Hz at the instrument", "P1 1 2 5 . 5 U2 OK",
        "Freq=125.5; FreqUnit=МГц; @FREQ?=125500000", "FREQ 125500000");
    row("kHz key", "P1 9 5 0 0 0 U1 OK", "Freq=95000; FreqUnit=КГц; @FREQ?=95000000",
        "FREQ 95000000");
    row("GHz key", "P1 1 . 5 U3 OK", "Freq=1.5; FreqUnit=ГГц", "FREQ 1500000000");
    row("frequency rounded onto the 10 kHz grid", "P1 1 2 5 . 0 0 4 3 OK", "Freq=125",
        "FREQ 125000000");
    row("above the model's range is refused and dimmed", "P1 7 U3 OK",
        "Freq~7; @FREQ?=100000000; $freq=100000000", "");
    row("below the model's range is refused and dimmed", "P1 2 0 OK", "Freq~20", "");
    row("typing goes on from a refused value", "P1 2 0 OK 5 OK", "Freq=205", "FREQ 205000000");
    row("millivolts", "P2 2 5 0 U2 OK", "Amp=250; @VOLT?=0.25", "VOLT 0.25");
    row("10 dBmV is 1 V", "P2 1 0 U3 OK", "Amp=10; AmpUnit=dBmV; @VOLT?=1", "VOLT 1");
    row("amplitude kept to the millivolt", "P2 1 2 3 . 4 5 6 OK", "Amp=123", "VOLT 0.123");
    row("volts", "P2 . 7 5 U1 OK", "Amp=0.75; AmpUnit=В", "VOLT 0.75");
    row("a negative amplitude is refused", "P2 C - 5 OK", "Amp~-5; @VOLT?=0.1; $amp=0.1", "");
    row("attenuation onto the model's 0.5 dB step", "P3 1 0 . 3 4 OK", "Param=10.5; ParamUnit=dB",
        "ATT 10.5");
    row("attenuation above the top is refused", "P3 4 0 OK", "Param~40; @ATT?=0; $att=0", "");
    row("unit key converts a committed frequency", "P1 U1", "Freq=100000; FreqUnit=КГц", "");
    row("unit key converts a committed amplitude to dBmV", "P2 U3", "Amp=-10; AmpUnit=dBmV", "");
    row("unit key leaves typed text to be read at OK", "P1 3 0 0 0 0 U1 OK",
        "Freq=30000; FreqUnit=КГц", "FREQ 30000000");

    // Parameter keys: which read-out the keypad works on.
    row("another parameter drops the typed text", "P1 3 5 P2 7", "Freq=100; Amp~7", "");
    row("the attenuation key types on the parameter row", "P3 5 OK", "Param=5; Freq=100; Amp=100",
        "ATT 5");
    row("Delta shows the frequency step in its unit", "Delta P1", "Param=1; ParamUnit=МГц", "");
    row("Delta shows the amplitude step in dBmV", "Delta P2", "Param=10; ParamUnit=dBmV", "");
    row("Delta keeps typed text on release", "Delta P1 5 P1", "Param~5", "");
    row("FM period in ms", "FM P4 2 5 0 U2 OK U1", "Param=0.25; ParamUnit=с", "");

    // Modes.
    row("Delta frequency step moves Right", "Delta P1 2 0 U1 OK Delta Right", "Freq=100.02",
        "FREQ 100020000");
    row("Delta amplitude step in mV moves Up", "Delta P2 5 0 U2 OK Delta Up", "Amp=150",
        "VOLT 0.15");
    row("Delta dB step moves the attenuation", "Delta P2 3 U3 OK Delta Down", "Param=3; Amp=100",
        "ATT 3");
    row("a committed dB step refuses volts", "Delta P2 3 U3 OK U1", "Param=3; ParamUnit=dB", "");
    row("a cleared dB step takes volts", "Delta P2 3 U3 OK C U1", "ParamUnit=В", "");
    row("a committed volt step converts to mV", "Delta P2 U2", "Param=1000; ParamUnit=мВ", "");
    row("leaving Delta shows the attenuation again", "P3 5 OK Delta Delta", "Param=5; ParamUnit=dB",
        "ATT 5");
    row("leaving Delta keeps a refused attenuation dimmed", "P3 4 0 OK Delta Delta", "Param~0", "");
    row("refused dB steps do not add up unseen", "Delta P2 2 0 U3 OK Delta FM Down Down Down",
        "$att=20; @ATT?=20", "ATT 20");
    row("FM sweep starts at the instrument with Вкл",
        "FM P2 3 0 U2 OK P3 4 0 U2 OK P1 1 U2 OK P4 1 0 U2 OK P6",
        "@FM:STAT?=1; @FM:STAR?=30000000; @FM:STOP?=40000000; @FM:STEP?=1000000; "
        "@FM:PER?=0.01; Freq=100; Amp=100",
        "*");
    row("FM sweep stops with Вкл up", "FM P2 3 0 U2 OK P3 4 0 U2 OK P1 1 U2 OK P4 1 0 U2 OK P6 P6",
        "@FM:STAT?=0", "*");
    row("FM sweep stops when FM is left",
        "FM P2 3 0 U2 OK P3 4 0 U2 OK P1 1 U2 OK P4 1 0 U2 OK P6 FM",
        "@FM:STAT?=0; Param=0; ParamUnit=dB", "*");
    row("FM sweep stops when Delta is chosen straight",
        "FM P2 3 0 U2 OK P3 4 0 U2 OK P1 1 U2 OK P4 1 0 U2 OK P6 Delta", "@FM:STAT?=0", "*");
    row("choosing another sweep parameter keeps the sweep running",
        "FM P2 3 0 U2 OK P3 4 0 U2 OK P1 1 U2 OK P4 1 0 U2 OK P6 P2", "@FM:STAT?=1; Param=30", "*");
    row("FM start shows the bound the instrument took",
        "FM P1 1 U2 OK P3 4 0 U2 OK P4 1 0 U2 OK P2 3 0 . 0 0 4 3 U2 OK P6",
        "Param=30; @FM:STAR?=30000000", "*");
    row("crossed FM bounds are refused and dim the output",
        "FM P2 4 0 U2 OK P3 3 0 U2 OK P1 1 U2 OK P4 1 0 U2 OK P6",
        "Freq~100; Amp~100; @FM:STAT?=0; P6=up", "");
    row("FM level as amplitude", "FM P5 2 0 0 OK", "Amp=200", "VOLT 0.2");
    row("FM level as attenuation", "hold:att FM P5 5 OK", "Param=5", "LEV:MODE ATT; ATT 5");
    row("FM dB step sent but not shown", "Delta P2 3 U3 OK Delta FM Down", "Param=0", "ATT 3");
    row("RF toggled by a screen reader switches the output", "a11y:RF", "RF=on; @OUTP?=1", "*");
    row("a parameter key toggled by voice control takes typing", "a11y:Param1 1 2 5 OK",
        "Freq=125; a11y:Freq=Частота 125 МГц", "FREQ 125000000");
    row("a refused read-out is marked for a screen reader", "P2 5 0 0 0 OK",
        "a11y:Amp~Амплитуда 5000 мВ", "");
    row("FM kind from the menu", "slot:setFhssModulation", "@FM:MODE?=HOP", "FM:MODE HOP");
    row("AM commits nothing", "AM P1 1 OK", "box=Не выбран режим работы!", "");

    // Stepping.
    row("Right steps by 1 MHz", "Right", "Freq=101; @FREQ?=101000000; $freq=101000000",
        "FREQ 101000000");
    row("a refused step keeps the instrument's frequency", "P1 6 U3 OK Right",
        "Freq~6.001; $freq=6000000000", "FREQ 6000000000");
    row("Left from a typed, unconfirmed 32.5", "P1 3 2 . 5 Left", "Freq=31.5", "FREQ 31500000");
    row("a step ends the typing it started from", "P1 3 2 . 5 Right 7", "Freq~7", "FREQ 33500000");
    row("the step rounds onto a 1 kHz grid",
        "slot:setGrid1KHz Delta P1 3 . 4 5 6 U1 OK Delta Right", "Freq=100.003", "FREQ 100003000");
    row("the step rounds onto a 10 kHz grid", "Delta P1 3 . 4 5 6 U1 OK Delta Left", "Freq=100",
        "FREQ 100000000");
    row("a refused step shows dimmed", "Up", "Amp~1100; @VOLT?=0.1", "");
    row("after Left the unit keys are frequency keys", "P2 Left U1", "Amp=0.1; AmpUnit=КГц",
        "FREQ 99000000");
    row("arrows step the amplitude while the level is held as attenuation",
        "hold:att Delta P2 5 0 U2 OK Delta Down", "Amp=50", "LEV:MODE ATT; VOLT 0.05");
    row("the attenuation read-out stays active through a step", "P3 Right 5 OK",
        "Param=5; Freq=101", "FREQ 101000000; ATT 5");

    // The output switch and what the instrument reports.
    row("RF on", "RF", "RF=on; @OUTP?=1", "OUTP ON");
    row("RF off again", "RF RF", "RF=off; @OUTP?=0", "OUTP ON; OUTP OFF");
    row("RF unanswered stays off", "mute RF", "RF=off", "*");
    row("RF switched on at the instrument sends nothing back", "knob:OUTP=1", "RF=on", "");
    row("a remote client takes control: the mark moves no key", "emit:NET=1", "", "");
    row("a frequency changed at the instrument, typing kept", "P2 3 5 knob:FREQ=250e6 7",
        "Freq=250; Amp~357; $freq=250000000", "");
    row("an attenuation changed at the instrument", "P1 3 5 knob:ATT=12.5 7",
        "Param=12.5; Freq~357", "");
    row("a report over the typed read-out ends that entry", "P1 1 . emit:FREQ=200e6 2 . 5",
        "Freq~2.5", "");
    // Reports while the read-outs and the step shown beside them are in any of
    // their units: each value in its own read-out's unit, the step left as it was.
    const QStringList frequencyUnits = {"КГц", "МГц", "ГГц"}, at250MHz = {"250000", "250", "0.25"};
    const QStringList levelUnits = {"В", "мВ", "dBmV"}, at1V = {"1", "1000", "10"};
    const QStringList stepUnits[] = {frequencyUnits, {"В", "мВ", "dB"}};
    for (int level = 0; level < 2; ++level) // which value is reported
        for (int shown = 0; shown < 3; ++shown)
            for (int step = 0; step < 6; ++step) { // the frequency step, then the level step
                const QString script = QStringLiteral("P%1 U%2 Delta P%3 5 U%4 OK emit:%5")
                                           .arg(level + 1)
                                           .arg(shown + 1)
                                           .arg(step / 3 + 1)
                                           .arg(step % 3 + 1)
                                           .arg(level ? "VOLT=1" : "FREQ=250e6");
                const QString expect =
                    QStringLiteral("%1=%2; %1Unit=%3; Param=5; ParamUnit=%4")
                        .arg(level ? "Amp" : "Freq", (level ? at1V : at250MHz)[shown],
                             (level ? levelUnits : frequencyUnits)[shown],
                             stepUnits[step / 3][step % 3]);
                row(qPrintable("report: " + script), qPrintable(script), qPrintable(expect), "");
            }
    row("reported amplitude kept to the millivolt", "emit:VOLT=0.12345", "Amp=123", "");
    row("reported amplitude rounded half away from zero", "emit:VOLT=0.0125", "Amp=13", "");
    row("reported attenuation in FM is not shown", "FM emit:ATT=7.5", "Param=0", "");
    row("reported period shown on the period key", "FM P4 emit:PER=0.25", "Param=250; ParamUnit=мс",
        "");
    row("reported period not shown on Delta's fourth key", "Delta P1 P4 emit:PER=0.25", "Param=1",
        "");
    row("a report inside the Up call", "Delta P2 5 0 U2 OK Delta P3 2 inside:FREQ=250e6 Up 7",
        "Freq=250; Amp=150; Param~27", "VOLT 0.15");
    row("a report inside the Right call", "P3 2 inside:VOLT=0.321 Right 7",
        "Amp=321; Freq=101; Param~27", "FREQ 101000000");
    row("a report inside the Left call", "P2 2 inside:ATT=12.5 Left 7",
        "Param=12.5; Freq=99; Amp~27", "FREQ 99000000");
    row("a report inside OK's call", "P2 2 5 0 inside:FREQ=250e6 OK", "Amp=250; Freq=250",
        "VOLT 0.25");
    row("a report inside a step over the typed read-out", "P1 3 2 . 5 inside:FREQ=250e6 Up 2 . 5",
        "Freq~2.5", "");

    // Keyboard.
    row("digits and Return", "P1 k:9 k:0 k:Return", "Freq=90", "FREQ 90000000");
    row("the numeric keypad", "P1 k:Num+5 k:Num+0 k:Num+. k:Num+5 k:Num+Enter", "Freq=50.5",
        "FREQ 50500000");
    row("Backspace clears", "P1 k:1 k:2 k:Backspace", "Freq~0", "");
    row("Delete clears, minus waits", "P2 k:Del k:- k:5 k:Return", "Amp~-5", "");
    row("W and S step the level", "Delta P2 5 0 U2 OK Delta k:W k:W k:S", "Amp=150",
        "VOLT 0.15; VOLT 0.2; VOLT 0.15");
    row("A and D step the frequency", "k:A k:A k:D", "Freq=99",
        "FREQ 99000000; FREQ 98000000; FREQ 99000000");
    row("Shift makes no difference", "k:Shift+D", "Freq=101", "FREQ 101000000");
    row("other keys do nothing", "P1 k:, k:Up k:Left k:Q k:Space k:Esc", "Freq=100", "");

    // A model that sets its level in dBm.
    row("dBm model shows its level in mV", "", "Amp=100", "", 1);
    // 0 dBmV is 0.316228 V, kept to the millivolt: 0.316 V, -0.01 dBm.
    row("dBm model: 0 dBmV goes as the millivolt kept", "P2 0 U3 OK", "Amp=-0.01; @POW?=-0.01",
        "POW -0.01", 1);
    row("dBm model: 10 dBmV is above its top", "P2 1 0 U3 OK", "Amp~10", "", 1);
    // The read-out shows the level the instrument took, back in millivolts.
    row("dBm model: 200 mV sent as dBm", "P2 2 0 0 OK", "Amp=199.9862", "POW -3.98", 1);
    row("dBm model: Up by 50 mV", "Delta P2 5 0 U2 OK Delta Up", "Amp=150", "POW -6.48", 1);
}

void TestPanel::operatorScripts() {
    QFETCH(int, model);
    QFETCH(QString, script);
    QFETCH(QString, expect);
    QFETCH(QString, sent);
    auto window = openAlone(model);
    QVERIFY(window);
    window->show();
    const QList<QRect> face = keyPlaces(*window);
    ModalBoxCloser closer;
    std::unique_ptr<ReportingDriver> nesting;
    bool mute = false;
    for (const QString &token : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (token.startsWith(QLatin1String("inside:"))) {
            const QString arg = token.mid(7);
            nesting = std::make_unique<ReportingDriver>(
                *Rig::driver(*window), arg.section('=', 0, 0), arg.section('=', 1).toDouble());
            continue;
        }
        if (token == QLatin1String("mute")) {
            mute = true;
            continue;
        }
        Generator *real = Rig::driver(*window);
        if (nesting)
            Rig::driver(*window) = nesting.get();
        rig.instrument(handles[model]).setSilent(mute);
        act(*window, token, model);
        rig.instrument(handles[model]).setSilent(mute = false);
        if (nesting) {
            Rig::driver(*window) = real;
            QVERIFY2(nesting->reported, "the report came inside a driver call");
            nesting.reset();
        }
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(Rig::settle(*window));
    for (const QString &expectation : expect.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        check(*window, expectation.trimmed(), model);
        if (QTest::currentTestFailed())
            return;
    }
    if (sent != QLatin1String("*"))
        QCOMPARE(QString::fromLatin1(rig.settings(handles[model]).join("; ")), sent);
    // Whatever the keys read now, none has moved and no shown text is cut.
    QCOMPARE(keyPlaces(*window), face);
    checkFace(*window);
}

// The same keys drive the instrument alike in Russian and in English. In
// English no shown text is Russian (main window in each mode, menus, the
// remote-control, journal and about windows, a client's row in the journal),
// and after English, Russian comes back whole. After every key no text is cut
// and the digits stay large, and so at the smallest and the largest window.
// The journal's saved file keeps its own words in both languages.
void TestPanel::bothLanguages() {
    const QString script = QStringLiteral(
        "P1 3 0 0 0 0 U1 OK P1 1 . 5 U3 OK P2 5 0 U3 C 5 0 U2 OK P3 7 OK Delta P1 2 0 U1 OK "
        "Delta Right AM AM FM P2 3 0 U2 OK P3 4 0 U2 OK P1 1 U2 OK P4 1 0 U2 OK U1 P1 P4 P6 "
        "slot:showJournal slot:createNetConfingWindow slot:getInfo");
    const QStringList englishUnits = {"", "V", "mV", "dBmV", "dB", "kHz", "MHz", "GHz", "s", "ms"};
    QList<QByteArray> sent[2];
    for (int english : {1, 0}) {
        qputenv("LANGUAGE", english ? "en" : "ru");
        QCOMPARE(installPanelLanguage(), QLatin1String(english ? "en" : "ru"));
        auto window = openAlone(0);
        QVERIFY(window);
        window->show();
        const QList<QRect> face = keyPlaces(*window);
        ModalBoxCloser closer;
        Ui::MainWindow &ui = Rig::ui(*window);
        for (const QString &token : script.split(QLatin1Char(' '))) {
            act(*window, token, 0);
            layOut();
            checkFace(*window);
            const QStringList texts = shownTexts();
            QVERIFY2(isRussian(texts.join(' ')) == !english, qPrintable(token));
            for (QLabel *unit : {ui.label_FreqUnit, ui.label_AmpUnit, ui.label_ParamUnit})
                QVERIFY2(!english || englishUnits.contains(unit->text()), qPrintable(unit->text()));
            for (const QString &text : texts)
                QVERIFY2(!english || !isRussian(text), qPrintable(token + ": " + text));
            QVERIFY(!QTest::currentTestFailed());
        }
        QVERIFY(Rig::settle(*window));
        QCOMPARE(keyPlaces(*window), face);
        sent[english] = rig.settings(handles[0]);
        const quint16 tcpPort = Rig::freeTcpPort();
        Rig::driver(*window)->setTcpPort(tcpPort);
        Rig::driver(*window)->startServer();
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, tcpPort);
        client.write("FREQ?\n");
        const QString clientWord = english ? "Client 127.0.0.1:" : "Клиент 127.0.0.1:";
        QVERIFY(waitFor([&] { return shownTexts().join(' ').contains(clientWord); }));
        QVERIFY2(!english || !isRussian(shownTexts().join(' ')), "a client's journal row");
        QTemporaryDir folder;
        QString why;
        const QString saved = folder.filePath("journal.txt");
        QVERIFY2(window->findChild<JournalWindow *>()->saveTo(saved, why), qPrintable(why));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains("\tПанель\t") && text.contains("\tКлиент 127.0.0.1:"),
                 qPrintable(text));
        for (QSize size : {window->minimumSize(), window->maximumSize()}) {
            window->resize(size);
            QVERIFY(waitFor([&] { return window->centralWidget()->width() > size.width() - 30; }));
            layOut();
            checkFace(*window);
        }
        Rig::driver(*window)->stopServer();
        QApplication::closeAllWindows(); // the about window has no parent
    }
    qunsetenv("LANGUAGE");
    QCOMPARE(sent[1], sent[0]);
    QVERIFY2(sent[0].size() > 8, sent[0].join("; ").constData());
}

// A seeded random run of operator actions, changes at the instrument, a
// remote client and one unplug. After each step and the next answered poll,
// the panel shows and keeps what the instrument holds. RFGEN_SEED replays.
void TestPanel::randomRun() {
    const uint seed = qEnvironmentVariableIsSet("RFGEN_SEED")
                          ? uint(qEnvironmentVariableIntValue("RFGEN_SEED"))
                          : QRandomGenerator::global()->generate();
    qInfo("random run with RFGEN_SEED=%u", seed);
    QRandomGenerator random(seed);
    auto w = openAlone(0);
    QVERIFY(w);
    ModalBoxCloser closer;
    sim::Instrument &sim = rig.instrument(handles[0]);
    Ui::MainWindow &ui = Rig::ui(*w);
    w->show(); // the operator presses only keys in sight
    const quint16 tcpPort = Rig::freeTcpPort();
    Rig::driver(*w)->setTcpPort(tcpPort);
    Rig::driver(*w)->startServer();
    QTcpSocket client;
    // Frequency, amplitude, attenuation: read-out, limits in the units of the
    // start values (MHz, mV, dB), and whether its last operation was refused.
    QLCDNumber *readouts[] = {ui.lcdNumber_Freq, ui.lcdNumber_Amp, ui.lcdNumber_Param};
    const double low[] = {25, 1, 0}, high[] = {6000, 1000, 31}, scale[] = {1e6, 1e-3, 1};
    const int units[] = {6, 2, 4};
    const QByteArray commands[] = {"FREQ ", "VOLT ", "ATT "};
    bool refused[] = {false, false, false};
    auto held = [&](int i) {
        return i ? i == 1 ? sim.amplitude() : sim.attenuation() : sim.frequency();
    };
    for (int step = 0; step < 300 && !QTest::currentTestFailed(); ++step) {
        Rig::driver(*w)->setPollInterval(5);
        const int q = random.bounded(3), action = step == 150 ? 6 : random.bounded(6);
        const bool inRange = random.bounded(4) != 0;
        const int typed = inRange ? int(low[q]) + random.bounded(int(high[q] - low[q]) + 1)
                                  : int(high[q]) * 2 + random.bounded(1000);
        const double before = held(q);
        if (action == 0) { // a keypad entry in normal mode
            for (QPushButton *mode : {ui.pushButton_Delta, ui.pushButton_FM})
                if (mode->isChecked())
                    mode->click();
            auto *key =
                w->findChild<QPushButton *>(QStringLiteral("pushButton_Param%1").arg(q + 1));
            if (!key->isChecked()) { // the other keys let go: they redraw what the panel keeps
                key->click();
                refused[0] = refused[1] = refused[2] = false;
            }
            const QStringList keys = QStringList{"C"} + QString::number(typed).split("") << "OK";
            for (const QString &key : keys)
                QVERIFY(key.isEmpty() || Rig::press(*w, key));
            refused[q] = !inRange;
        } else if (action == 1) { // an arrow, from what the read-out shows
            const int arrow = random.bounded(4), i = arrow / 2;
            const double by = i ? Rig::values(*w).amplitudeStep : Rig::values(*w).frequencyStep;
            const double next = readouts[i]->value() * scale[i] + (arrow % 2 ? -by : by);
            QVERIFY(Rig::press(*w, QStringList{"Right", "Left", "Up", "Down"}[arrow]));
            refused[i] = next < low[i] * scale[i] - 1e-9 || next > (i ? 1.0 : 6e9);
        } else if (action == 2) { // a mode key, or the output switch, of those in sight
            QList<QPushButton *> keys = {ui.pushButton_Delta, ui.pushButton_FM, ui.pushButton_AM,
                                         ui.pushButton_TurnOn};
            keys.erase(
                std::remove_if(keys.begin(), keys.end(),
                               [](QWidget *key) { return !key->isVisible() || !key->isEnabled(); }),
                keys.end());
            QVERIFY(!keys.isEmpty());
            keys[random.bounded(keys.size())]->click();
        } else if (action == 3) { // a knob on the instrument
            sim.handleLine(commands[q] + QByteArray::number(typed * scale[q]) + ";OUTP " +
                           QByteArray::number(random.bounded(2)));
            refused[q] = refused[q] && held(q) == before;
        } else if (action == 4 && client.state() != QAbstractSocket::ConnectedState) {
            client.connectToHost(QHostAddress::LocalHost, tcpPort);
            QVERIFY(client.waitForConnected(5000));
        } else if (action == 4) {
            client.abort();
        } else if (action == 5 && client.state() == QAbstractSocket::ConnectedState) {
            client.write(commands[q] + QByteArray::number(typed * scale[q]) + ";*OPC?\n");
            QVERIFY(waitFor([&] { return client.canReadLine(); }));
            client.readAll();
            refused[q] = refused[q] && !inRange;
        } else if (action == 6) { // unplugged and plugged in again
            rig.bed().unplug(handles[0]);
            QVERIFY(waitFor([&] { return !ui.centralWidget->isEnabled(); }));
            rig.bed().replug(handles[0]);
            QVERIFY(waitFor([&] { return ui.centralWidget->isEnabled(); }));
            refused[0] = refused[1] = refused[2] = false;
        }
        sim.clearReceivedLines();
        QVERIFY(waitFor(
            [&] { return QByteArrayList(sim.receivedLines()).join('\n').count("FREQ?;") >= 2; }));
        const PanelValues v = Rig::values(*w);
        const double kept[] = {v.frequency, v.amplitude, v.attenuation};
        const QString at = QStringLiteral("step %1, action %2: ").arg(step).arg(action);
        for (int i = 0; i < 3; ++i) {
            const double h = held(i), shown = Rig::inUnit(*w, h, units[i]);
            QVERIFY2(qAbs(kept[i] - h) <= 1e-9 * qMax(1.0, h), qPrintable(at + "kept"));
            QVERIFY2((i == 2 && v.panelMode) || readouts[i]->isEnabled() == !refused[i],
                     qPrintable(at + QString::number(i) + " lit"));
            QVERIFY2(!readouts[i]->isEnabled() || (i == 2 && v.panelMode) ||
                         qAbs(readouts[i]->value() - shown) <= 1e-6 * qMax(1.0, qAbs(shown)),
                     qPrintable(at + QString::number(i) + " shown"));
        }
        QVERIFY2(ui.pushButton_TurnOn->isChecked() == sim.output(), qPrintable(at + "RF"));
        QVERIFY2(ui.label_netControl->isHidden() != client.isOpen(), qPrintable(at + "remote"));
    }
}

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
