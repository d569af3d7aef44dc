// Saved set-ups at the panel, against simulated instruments: what a recall
// sends and in which order, what the instrument then holds, what the panel
// shows, and the bad names and files that must send nothing.
#include "rig.h"

#include "commandengine.h"
#include "panel/display.h"
#include "setups.h"

#include <QMenu>
#include <QStatusBar>
#include <QtTest>

namespace {

// Everything a set-up holds, and the output, as the instrument answers.
const QByteArray stateQuery = "FREQ?;ATT?;OUTP?;LEV:MODE?;FM:MODE?;FM:STAR?;FM:STOP?;FM:STEP?;"
                              "FM:PER?;FM:STAT?";

QByteArray levelQuery(int model) {
    return model == 1 ? "POW?;" : "VOLT?;";
}

// A full set-up of the first model: level, attenuation, modes, grid, sweep and panel units.
const char fullSetup[] = "frequency_hz = 433920000\n"
                         "amplitude_v = 0.5\n"
                         "attenuation_db = 10\n"
                         "level_control = ATT\n"
                         "fm_kind = DOWN\n"
                         "grid_khz = 1\n"
                         "sweep_start_hz = 400000000\n"
                         "sweep_stop_hz = 500000000\n"
                         "sweep_step_hz = 1000000\n"
                         "sweep_period_s = 0.01\n"
                         "panel.frequency_unit = GHz\n"
                         "panel.sweep_period_unit = s\n";

} // namespace

class TestSetups : public QObject {
    Q_OBJECT

    Rig rig;
    QTemporaryDir dataHome; // the user's data folder; the set-ups go below it
    int handles[3] = {-1, -1, -1};
    std::unique_ptr<MainWindow> window;

    static QString folder() { return rfgen::setups::folder(); }

    std::unique_ptr<MainWindow> openOn(int model) {
        for (int m = 0; m < 3; ++m)
            m == model ? rig.bed().replug(handles[m]) : rig.bed().unplug(handles[m]);
        return rig.open(handles[model]);
    }
    void writeFile(const QString &name, const QByteArray &text) {
        QDir().mkpath(folder());
        QFile file(rfgen::setups::pathOf(folder(), name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray state(int model) {
        QByteArray reply;
        Rig::settle(*window);
        return Rig::driver(*window)->query(levelQuery(model) + stateQuery, reply) ? reply : "-";
    }

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        QString why;
        QVERIFY2(rig.start(why), qPrintable(why));
        for (int model = 0; model < 3; ++model)
            QVERIFY((handles[model] = rig.plug(model)) >= 0);
    }
    void cleanup() {
        window.reset();
        QDir(dataHome.filePath("rfgen")).removeRecursively();
    }

    void recall_data();
    void recall();
    void badNamesAndFiles_data();
    void badNamesAndFiles();
    void remoteSlotsAreListed();
    void silentInstrument();
};

void TestSetups::recall_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("before"); // the instrument's state, set at the instrument
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QString>("sent"); // the settings the recall sent, in order
    QTest::addColumn<QByteArray>("held");
    QTest::addColumn<QString>("status");

    QTest::newRow("a level rise: attenuation first; the output stays on")
        << 0 << QByteArray("OUTP ON") << QByteArray(fullSetup)
        << "FM:STAT OFF|LEV:MODE ATT|FM:MODE DOWN|ATT 10|VOLT 0.5|FREQ 433920000|"
           "FM:STAR 400000000|FM:STOP 500000000|FM:STEP 1000000|FM:PER 0.01"
        << QByteArray("0.5;433920000;10;1;ATT;DOWN;400000000;500000000;1000000;0.01;0")
        << "Набор «s» восстановлен";
    QTest::newRow("a level fall: level first; the output stays off")
        << 0 << QByteArray("VOLT 0.8;ATT 0")
        << QByteArray("amplitude_v = 0.2\nattenuation_db = 5\n") << "FM:STAT OFF|VOLT 0.2|ATT 5"
        << QByteArray("0.2;100000000;5;0;AMPL;UP;0;0;0;0.001;0") << "Набор «s» восстановлен";
    QTest::newRow("a running sweep stops first, the output stays on")
        << 0 << QByteArray("FM:STAR 1e8;FM:STOP 2e8;FM:STEP 1e6;FM:STAT ON;OUTP ON")
        << QByteArray("frequency_hz = 3e8\n") << "FM:STAT OFF|FREQ 300000000"
        << QByteArray("0.1;300000000;0;1;AMPL;UP;100000000;200000000;1000000;0.001;0")
        << "Набор «s» восстановлен";
    QTest::newRow("a larger model's set-up: what this one cannot do is named, the rest taken")
        << 1 << QByteArray("")
        << QByteArray("frequency_hz = 5e9\namplitude_v = 0.5\nattenuation_db = 70\n"
                      "sweep_start_hz = 1e9\nsweep_stop_hz = 4e9\nsweep_step_hz = 1e6\n"
                      "sweep_period_s = 0.01\n")
        << "FM:STAT OFF|POW 3.98" << QByteArray("3.98;100000000;0;0;AMPL;UP;0;0;0;0.001;0")
        << "Набор «s»: прибор не принял ослабление, частоту, развертку";
    QTest::newRow("power in dBm on a model held in volts")
        << 2 << QByteArray("") << QByteArray("power_dbm = 0\n") << "FM:STAT OFF|VOLT 0.316"
        << QByteArray("0.316;100000000;0;0;AMPL;UP;0;0;0;0.001;0") << "Набор «s» восстановлен";
}

// Then the panel saves what it shows, the instrument is reset, and that copy
// brings the same state back.
void TestSetups::recall() {
    QFETCH(int, model);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, setup);
    QFETCH(QString, sent);
    QFETCH(QByteArray, held);
    QFETCH(QString, status);
    QVERIFY(window = openOn(model));
    rig.instrument(handles[model]).handleLine(before);
    rig.instrument(handles[model]).clearReceivedLines();
    writeFile("s", setup);
    Rig::recallSetup(*window, "s");
    QCOMPARE(rig.settings(handles[model]).join('|'), sent.toLatin1());
    QCOMPARE(state(model), held);
    QCOMPARE(window->statusBar()->currentMessage(), status);
    const bool frequencyTaken = !status.contains("частоту");
    QCOMPARE(Rig::ui(*window).lcdNumber_Freq->isEnabled(), frequencyTaken);
    QCOMPARE(Rig::ui(*window).lcdNumber_Amp->isEnabled(), true);
    if (setup.contains("GHz")) {
        QCOMPARE(Rig::values(*window).frequencyUnit, int(units::Gigahertz));
        QCOMPARE(Rig::fmUnits(*window).back(), int(units::Second));
    }

    QVERIFY(Rig::saveSetup(*window, "copy"));
    rig.instrument(handles[model]).handleLine("*RST;" + before);
    Rig::recallSetup(*window, "copy");
    QCOMPARE(state(model), held);
}

void TestSetups::badNamesAndFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("file"); // null: no file of that name is made
    QTest::addColumn<QString>("message");

    const auto name = [](const char *row, const QString &text, const char *message) {
        QTest::newRow(row) << text << QByteArray() << QString::fromUtf8(message);
    };
    name("a way out of the folder", "../outside", "«/» и «..»");
    name("a slash", "a/b", "«/» и «..»");
    name("two dots inside", "a..b", "«/» и «..»");
    name("a hidden file", ".profile", "с точки");
    name("a control character", QStringLiteral("a\tb"), "управляющий");
    name("65 characters", QString(65, 'x'), "длиннее 64");
    name("an empty name", " ", "пустое");
    name("no such set-up", "absent", "Не удалось прочитать");

    const auto file = [](const char *row, const QByteArray &text, const char *message) {
        QTest::newRow(row) << "f" << text << QString::fromUtf8(message);
    };
    file("a truncated file", "frequency_hz = 1e8\namplitude_v = 0.",
         "строка 2: строка не закончена");
    file("binary garbage",
         QByteArray("\x7f"
                    "ELF\x02\x01\x00\xff\xfe\n",
                    10),
         "строка 1: не текст");
    file("a value that is no number", "frequency_hz = 1e8\nattenuation_db = ten\n",
         "строка 2: «ten» не число");
    file("an unknown key", "# ok\nfrequency = 1e8\n", "строка 2: неизвестный ключ «frequency»");
    file("a key twice", "frequency_hz = 1e8\nfrequency_hz = 2e8\n", "строка 2: ключ");
    file("a unit the panel cannot show there", "panel.frequency_unit = mV\n",
         "строка 1: значение «mV» не подходит");
    file("half a sweep", "frequency_hz = 1e8\nsweep_start_hz = 1e8\n", "развертка задана не вся");
    file("two levels", "amplitude_v = 0.1\npower_dbm = 0\n", "уровень задан дважды");
}

// A clear message, nothing sent, and no file written anywhere but the folder.
void TestSetups::badNamesAndFiles() {
    QFETCH(QString, name);
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    QVERIFY(window = openOn(0));
    if (!file.isNull())
        writeFile(name, file);
    Rig::recallSetup(*window, name);
    const QString shown = Rig::errorBox(*window).text();
    QVERIFY2(shown.contains(message), qPrintable(shown));
    if (!file.isNull())
        QVERIFY2(shown.contains(rfgen::setups::pathOf(folder(), name)), qPrintable(shown));
    QCOMPARE(rig.settings(handles[0]), QList<QByteArray>());
    if (file.isNull() && name != "absent") {
        QVERIFY(!Rig::saveSetup(*window, name));
        QCOMPARE(
            QDir(dataHome.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList());
    }
}

// *SAV and *RCL of a remote client keep the set-ups "0" to "9", which the
// panel lists among its own.
void TestSetups::remoteSlotsAreListed() {
    QVERIFY(window = openOn(0));
    rfgen::CommandEngine client(Rig::driver(*window), "10.0.0.1:1");
    QCOMPARE(client.execute("FREQ 2e9;*SAV 3;*SAV 9;*RCL 7;SYST:ERR?;*SAV 10;SYST:ERR?;*RCL;"
                            "SYST:ERR?"),
             QByteArray("-256,\"File name not found\";-222,\"Data out of range\";"
                        "-109,\"Missing parameter\""));
    QCOMPARE(client.execute("FREQ 1e9;*RCL 3;FREQ?;SYST:ERR?"),
             QByteArray("2000000000;0,\"No error\""));
    QTRY_COMPARE(Rig::values(*window).frequency, 2e9); // the panel is told
    writeFile("4", "frequency_hz = 9e9\nattenuation_db = 7\n");
    QCOMPARE(client.execute("*RCL 4;SYST:ERR?;SYST:ERR?"),
             QByteArray("-222,\"Data out of range\";0,\"No error\""));
    QTRY_COMPARE(Rig::values(*window).attenuation, 7.0);
    const QString longest(64, QLatin1Char('x'));
    for (const QString &name : {longest, QStringLiteral("10"), QStringLiteral("2")})
        writeFile(name, "frequency_hz = 1e8\n");
    QMenu *menu = Rig::setupsMenu(*window);
    emit menu->aboutToShow();
    QStringList listed;
    for (QAction *action : menu->actions())
        listed << action->text();
    QCOMPARE(listed, QStringList({"Сохранить набор...", "", "2", "3", "4", "9", "10", longest, "",
                                  "Удалить набор..."}));
    writeFile("3", "frequency_hz = 1e8\nfrequency_hz = 1e8\n");
    QCOMPARE(client.execute("*RCL 3;SYST:ERR?"), QByteArray("-250,\"Mass storage error\""));
}

// One wait for an instrument that stopped answering, not one per value.
void TestSetups::silentInstrument() {
    QVERIFY(window = openOn(0));
    writeFile("s", fullSetup);
    ModalBoxCloser closer;
    rig.instrument(handles[0]).setSilent(true);
    Rig::recallSetup(*window, "s");
    rig.instrument(handles[0]).setSilent(false);
    QCOMPARE(rig.settings(handles[0]).join('|'),
             QByteArray("FM:STAT OFF|LEV:MODE ATT|FM:MODE DOWN"));
    QCOMPARE(window->statusBar()->currentMessage(),
             QString("Набор «s»: прибор не принял ослабление, уровень, частоту, развертку"));
    QTRY_COMPARE(closer.texts, QStringList("Генератор не отвечает"));
}

QTEST_MAIN(TestSetups)
#include "tst_setups.moc"
