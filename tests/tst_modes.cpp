// The mode keys and the FM kind, with the third model's instrument connected:
// captions, checkable keys and the parameter row for every transition, the
// sweep stopped only when FM itself is released, and the FM kind reaching the
// instrument.
#include "app/mainwindow.h"
#include "panelkeys.h"
#include "panelrig.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QtTest>

#include <memory>

namespace {

enum Mode { Normal = 0, Am = 1, Fm = 2, Delta = 3 };

const QStringList normalCaptions = {"Частота", "Амп", "Ослабление", "", "", ""};
const QStringList amCaptions = {"Частота", "", "", "", "", "Вкл"};
const QStringList fmCaptions = {"Шаг скан.", "Нижняя Гр.", "Вернхяя Гр.", "Период", "Амп", "Вкл"};
const QStringList deltaCaptions = {"Частота", "Амп", "", "", "", ""};

QStringList captionsOf(Mode mode) {
    switch (mode) {
    case Am:
        return amCaptions;
    case Fm:
        return fmCaptions;
    case Delta:
        return deltaCaptions;
    default:
        return normalCaptions;
    }
}

QString checkableOf(Mode mode) {
    switch (mode) {
    case Am:
        return QStringLiteral("100001");
    case Fm:
    case Delta:
        return QStringLiteral("111111");
    default:
        return QStringLiteral("111000");
    }
}

int sweepStops(const QList<QByteArray> &lines) {
    int count = 0;
    for (const QByteArray &line : lines)
        count += line.toUpper().count("FM:STAT OFF");
    return count;
}

} // namespace

Q_DECLARE_METATYPE(Mode)

class TestModes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void transitions_data();
    void transitions();
    void parameterKeysFollowMode_data();
    void parameterKeysFollowMode();
    void fmKind_data();
    void fmKind();
    void releasingFmWithoutDriver();

private:
    QPushButton *modeButton(Mode mode) const;

    PanelRig rig{devicelink::QuendtModel};
    std::unique_ptr<MainWindow> window;
};

void TestModes::initTestCase() {
    QString why;
    QVERIFY2(rig.start(why), qPrintable(why));
}

void TestModes::cleanup() {
    window.reset();
}

QPushButton *TestModes::modeButton(Mode mode) const {
    switch (mode) {
    case Am:
        return window->ui->pushButton_AM;
    case Fm:
        return window->ui->pushButton_FM;
    case Delta:
        return window->ui->pushButton_Delta;
    default:
        return nullptr;
    }
}

void TestModes::transitions_data() {
    QTest::addColumn<Mode>("from");
    QTest::addColumn<Mode>("clicked"); // the mode key clicked
    QTest::addColumn<Mode>("to");
    QTest::addColumn<int>("stops"); // FM:STAT OFF sent

    const char *names[] = {"normal", "AM", "FM", "Delta"};
    for (Mode from : {Normal, Am, Fm, Delta})
        for (Mode clicked : {Am, Fm, Delta}) {
            const bool release = from == clicked;
            const Mode to = release ? Normal : clicked;
            const QByteArray name = QByteArray(names[from]) + (release ? " released" : " -> ") +
                                    (release ? "" : names[clicked]);
            QTest::newRow(name.constData()) << from << clicked << to << int(from == Fm && release);
        }
}

void TestModes::transitions() {
    QFETCH(Mode, from);
    QFETCH(Mode, clicked);
    QFETCH(Mode, to);
    QFETCH(int, stops);

    window = rig.open([](sim::Instrument &instrument) { instrument.setAttenuation(12.3); });
    QVERIFY(window);
    if (from != Normal)
        modeButton(from)->click();
    QCOMPARE(window->panelMode, int(from));
    window->paramButtons[0]->click(); // "Частота" is checkable in every mode
    QVERIFY(window->paramButtons[0]->isChecked());
    window->entryState = 2;           // an entry left half done
    window->attenuation = 12.3456789; // six significant digits when shown
    const QString captionBefore = window->ui->label_Param->text();
    const QString unitBefore = window->ui->label_ParamUnit->text();
    const double shownBefore = window->ui->lcdNumber_Param->value();
    rig.instrument().clearReceivedLines();

    modeButton(clicked)->click();
    QVERIFY(rig.settle(*window->generator));

    QCOMPARE(window->panelMode, int(to));
    for (Mode mode : {Am, Fm, Delta})
        QCOMPARE(modeButton(mode)->isChecked(), mode == to);
    QStringList captions;
    QString checkable;
    for (QPushButton *button : window->paramButtons) {
        captions << button->text();
        checkable += button->isCheckable() ? '1' : '0';
        QVERIFY(!button->isChecked());
    }
    QCOMPARE(captions, captionsOf(to));
    QCOMPARE(checkable, checkableOf(to));
    QCOMPARE(window->activeDisplay, nullptr);
    QCOMPARE(window->activeUnitLabel, nullptr);
    QCOMPARE(window->activeUnit, 0);
    QCOMPARE(window->entryState, 0);
    QCOMPARE(sweepStops(rig.panelLines()), stops);

    switch (to) {
    case Normal:
        QCOMPARE(window->ui->label_Param->text(), QStringLiteral("Ослабление"));
        QCOMPARE(window->ui->lcdNumber_Param->value(), 12.3457);
        QVERIFY(panelkeys::draws(*window->ui->lcdNumber_Param, QStringLiteral("12.3457")));
        QVERIFY(window->ui->lcdNumber_Param->isEnabled());
        QCOMPARE(window->ui->label_ParamUnit->text(), QStringLiteral("dB"));
        break;
    case Fm: // the row is left as it was
        QCOMPARE(window->ui->label_Param->text(), captionBefore);
        QCOMPARE(window->ui->lcdNumber_Param->value(), shownBefore);
        QCOMPARE(window->ui->label_ParamUnit->text(), unitBefore);
        break;
    default:
        QCOMPARE(window->ui->label_Param->text(), QString());
        QCOMPARE(window->ui->lcdNumber_Param->value(), 0.0);
        // One blank, drawn as nothing: not a zero.
        QVERIFY(panelkeys::draws(*window->ui->lcdNumber_Param, QStringLiteral(" ")));
        QVERIFY(!panelkeys::draws(*window->ui->lcdNumber_Param, QStringLiteral("0")));
        QCOMPARE(window->ui->label_ParamUnit->text(), QString());
        break;
    }
}

void TestModes::parameterKeysFollowMode_data() {
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<int>("param");
    QTest::addColumn<QString>("caption"); // of label_Param afterwards
    QTest::addColumn<QStringList>("unitKeys");
    QTest::addColumn<QString>("display");
    QTest::addColumn<double>("shows");

    QTest::newRow("Delta, frequency step")
        << Delta << 1 << "Шаг Частоты" << QStringList{"КГц", "МГц", "ГГц"} << "lcdNumber_Param"
        << 1.0; // 1 MHz
    QTest::newRow("Delta, amplitude step")
        << Delta << 2 << "Шаг Амп." << QStringList{"В", "мВ", "dB"} << "lcdNumber_Param"
        << 10.0; // 1 V in dBmV
    QTest::newRow("FM, period") << Fm << 4 << "Период" << QStringList{"с", "мс", ""}
                                << "lcdNumber_Param" << 250.0;
    QTest::newRow("FM, level") << Fm << 5 << "Ослабление" << QStringList{"В", "мВ", "dBmV"}
                               << "lcdNumber_Amp" << 100.0;
    QTest::newRow("normal after Delta, attenuation")
        << Normal << 3 << "Ослабление" << QStringList{"dB", " ", " "} << "lcdNumber_Param" << 0.0;
}

// What the keys mean once the mode has relabelled them.
void TestModes::parameterKeysFollowMode() {
    QFETCH(Mode, mode);
    QFETCH(int, param);
    QFETCH(QString, caption);
    QFETCH(QStringList, unitKeys);
    QFETCH(QString, display);
    QFETCH(double, shows);

    window = rig.open();
    QVERIFY(window);
    window->tFm = 0.25;
    if (mode == Normal) {
        window->ui->pushButton_Delta->click();
        window->ui->pushButton_Delta->click();
    } else {
        modeButton(mode)->click();
    }

    window->paramButtons[param - 1]->click();

    QCOMPARE(window->ui->label_Param->text(), caption);
    QCOMPARE(
        QStringList({window->ui->pushButton_Units1->text(), window->ui->pushButton_Units2->text(),
                     window->ui->pushButton_Units3->text()}),
        unitKeys);
    QCOMPARE(window->activeDisplay, window->findChild<QLCDNumber *>(display));
    QCOMPARE(window->activeDisplay->value(), shows);
}

void TestModes::fmKind_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("before"); // what the instrument held
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("chirp up") << 0 << QByteArray("HOP") << QByteArray("UP");
    QTest::newRow("chirp down") << 1 << QByteArray("UP") << QByteArray("DOWN");
    QTest::newRow("hopping") << 2 << QByteArray("UP") << QByteArray("HOP");
}

// The third model's instrument is the one connected here: the menu reaches it.
void TestModes::fmKind() {
    QFETCH(int, kind);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    window = rig.open();
    QVERIFY(window);
    QCOMPARE(window->generator, static_cast<Generator *>(&window->quendtDriver));
    rig.instrument().handleLine("FM:MODE " + before);
    QAction *actions[] = {window->upChirpAction, window->downChirpAction, window->fhssAction};

    actions[kind]->trigger();

    QVERIFY(rig.settle(*window->generator));
    QCOMPARE(rig.instrument().setting("FM:MODE?"), after);
    for (Generator *driver : {static_cast<Generator *>(&window->orvexDriver),
                              static_cast<Generator *>(&window->pylarDriver),
                              static_cast<Generator *>(&window->quendtDriver)})
        QCOMPARE(driver->getFmMode(), kind);
    for (const QByteArray &line : rig.panelLines())
        QVERIFY2(!line.toUpper().contains("FM:STAT"), line.constData());
}

void TestModes::releasingFmWithoutDriver() {
    window = rig.open();
    QVERIFY(window);
    window->ui->pushButton_FM->click();
    Generator *const bound = window->generator;
    window->generator = nullptr;
    window->ui->pushButton_FM->click();
    window->generator = bound;
    QVERIFY(rig.settle(*bound));
    QCOMPARE(window->panelMode, 0);
    QCOMPARE(window->paramButtons[2]->text(), QStringLiteral("Ослабление"));
    QCOMPARE(sweepStops(rig.panelLines()), 0);
}

QTEST_MAIN(TestModes)
#include "tst_modes.moc"
