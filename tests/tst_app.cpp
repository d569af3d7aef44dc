// The window as an application, against simulated instruments: the settings
// file kept between runs, finding the instrument and keeping in touch with it,
// the remote-control window, the error box, and the program's orderly end.
#include "rig.h"

#include "app/language.h"

#include "journal.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>

namespace {

const QString notConnected = QStringLiteral("Генератор . Не подключен");
const QString connectedTitle = QStringLiteral("Генератор %1   ( %2 )"); // model, port

// The settings file's keys, in its order, with what a file without them gives.
const QStringList fileKeys =
    QStringLiteral(
        "amplitude=0 amplitudeUnit=2 attenuation=0 attenuationUnit=4 amplitudeStep=1 "
        "amplitudeStepUnit=3 frequency=1e8 frequencyUnit=6 frequencyStep=1e6 "
        "frequencyStepUnit=6 fFmStart=0 fFmStartUnit=6 fFmStop=0 fFmStopUnit=6 fFmStep=0 "
        "fFmStepUnit=6 tFm=0 tFmUnit=9 FrequencyGrid=3 FmMode=0 Port=5025 LoopbackOnly=0")
        .split(' ');

QString iniKey(const QString &name) {
    const bool driver =
        QStringList{"FrequencyGrid", "FmMode", "Port", "LoopbackOnly"}.contains(name);
    return (driver ? QStringLiteral("Settings/") : QStringLiteral("Display/")) + name;
}

// The values of the file's keys, in its order, that a file with these entries
// ("frequencyUnit=7 FmMode=2") gives: the entries, and the other keys' defaults.
QList<double> expected(const QString &entries) {
    QList<double> values;
    for (const QString &key : fileKeys) {
        QString value = key.section('=', 1);
        for (const QString &entry : entries.split(' ', Qt::SkipEmptyParts))
            if (entry.section('=', 0, 0) == key.section('=', 0, 0))
                value = entry.section('=', 1);
        values << value.toDouble();
    }
    return values;
}

// The same entries as the text of a settings file.
QByteArray fileWith(const QString &entries) {
    QByteArray display = "[Display]\n", driver = "[Settings]\n";
    for (const QString &entry : entries.split(' ', Qt::SkipEmptyParts))
        (iniKey(entry.section('=', 0, 0)).startsWith('S') ? driver : display) +=
            entry.toUtf8() + '\n';
    return display + driver;
}

// What a connected window holds of the file's keys.
QList<double> held(MainWindow &w) {
    const PanelValues v = Rig::values(w);
    const QVector<int> fm = Rig::fmUnits(w);
    Generator *d = Rig::driver(w);
    return QList<double>() << v.amplitude << v.amplitudeUnit << v.attenuation << v.attenuationUnit
                           << v.amplitudeStep << v.amplitudeStepUnit << v.frequency
                           << v.frequencyUnit << v.frequencyStep << v.frequencyStepUnit << v.fmStart
                           << fm[0] << v.fmStop << fm[1] << v.fmStep << fm[2] << v.fmPeriod << fm[3]
                           << d->getFrequencyGrid() << d->getFmMode() << d->getTcpPort()
                           << Rig::loopbackOnly(w);
}

QList<double> stored(const QString &path) {
    const QSettings file(path, QSettings::IniFormat);
    QList<double> values;
    for (const QString &key : fileKeys) {
        const QString name = iniKey(key.section('=', 0, 0));
        values << (file.contains(name) ? file.value(name).toDouble() : qQNaN());
    }
    return values;
}

// Caps the files this process writes (0: no cap): writing beyond fails, for root too.
bool capFileSize(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes ? bytes : limit.rlim_max;
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// What an X client ({program, arguments...}) prints, on the test's own X server.
QByteArray xClient(const QProcessEnvironment &environment, QStringList command) {
    QProcess client;
    client.setProcessEnvironment(environment);
    client.start(command.takeFirst(), command);
    return client.waitForFinished() ? client.readAllStandardOutput() : QByteArray();
}

QByteArray fileText(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QAction *menuAction(QWidget &window, const QString &text) {
    for (QAction *action : window.findChildren<QAction *>())
        if (action->text() == text)
            return action;
    return nullptr;
}

// Root opens any node: without overriding file modes the calling thread (the
// panel searches on it) meets a node's mode as a user does.
bool overrideFileModes(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    syscall(SYS_capget, &header, caps);
    caps[0].effective &= ~CAP_TO_MASK(CAP_DAC_OVERRIDE);
    caps[0].effective |= on ? caps[0].permitted & CAP_TO_MASK(CAP_DAC_OVERRIDE) : 0;
    return syscall(SYS_capset, &header, caps) == 0;
}

qint64 residentBytes() {
    return fileText("/proc/self/statm").split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT
    Rig rig;
    int quendt = -1, orvex = -1, pylar = -1;

    void pluggedOnly(const QList<int> &handles) {
        for (int handle : {quendt, orvex, pylar})
            if (rig.bed().isPlugged(handle) != handles.contains(handle))
                handles.contains(handle) ? rig.bed().replug(handle) : rig.bed().unplug(handle);
    }
    QString port(int handle) { return rig.bed().portName(handle); }

private slots:
    void initTestCase() {
        qRegisterMetaType<rfgen::Exchange>();
        QString why;
        QVERIFY2(rig.start(why), qPrintable(why));
        quendt = rig.plug(devicelink::QuendtModel);
        orvex = rig.plug(devicelink::OrvexModel);
        pylar = rig.plug(devicelink::PylarModel);
        QVERIFY(quendt >= 0 && orvex >= 0 && pylar >= 0);
    }
    void init() { pluggedOnly({quendt}); }

    // The user's languages as the environment names them, first one the panel has wins.
    void languageChoice_data() {
        QTest::addColumn<QByteArray>("language"); // LANGUAGE
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("nothing set") << QByteArray() << QByteArray() << QByteArray() << "ru";
        QTest::newRow("C") << QByteArray() << QByteArray() << QByteArray("C") << "ru";
        QTest::newRow("POSIX, C.UTF-8")
            << QByteArray() << QByteArray("POSIX") << QByteArray("C.UTF-8") << "ru";
        QTest::newRow("LANGUAGE=en") << QByteArray("en") << QByteArray() << QByteArray("C") << "en";
        QTest::newRow("English locale")
            << QByteArray() << QByteArray() << QByteArray("en_GB.UTF-8") << "en";
        QTest::newRow("LC_ALL=C ends the search")
            << QByteArray() << QByteArray("C") << QByteArray("en_US.UTF-8") << "ru";
        QTest::newRow("capitals") << QByteArray("EN_us") << QByteArray() << QByteArray() << "en";
        QTest::newRow("LC_ALL before LANG")
            << QByteArray() << QByteArray("ru_RU.UTF-8") << QByteArray("en_US.UTF-8") << "ru";
        QTest::newRow("LANGUAGE before the locale")
            << QByteArray("en_US") << QByteArray("ru_RU.UTF-8") << QByteArray() << "en";
        QTest::newRow("first known of a list")
            << QByteArray("de:fr_FR:en:ru") << QByteArray() << QByteArray() << "en";
        QTest::newRow("Russian first")
            << QByteArray("ru:en") << QByteArray() << QByteArray("en_US") << "ru";
        QTest::newRow("none known, English locale")
            << QByteArray("de:uk") << QByteArray() << QByteArray("en_US.UTF-8@euro") << "en";
        QTest::newRow("a name that only starts alike")
            << QByteArray("eng:rus") << QByteArray() << QByteArray() << "ru";
    }
    void languageChoice() {
        QFETCH(QByteArray, language);
        QFETCH(QByteArray, lcAll);
        QFETCH(QByteArray, lang);
        QFETCH(QString, chosen);
        const std::pair<const char *, QByteArray> wanted[] = {
            {"LANGUAGE", language}, {"LC_ALL", lcAll}, {"LC_MESSAGES", {}}, {"LANG", lang}};
        const auto set = [](const char *name, const QByteArray &value) {
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        };
        QList<QByteArray> before;
        for (const auto &[name, value] : wanted) {
            before << (qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
            set(name, value);
        }
        const auto guard = qScopeGuard([&] {
            for (int i = 0; i < 4; ++i)
                set(wanted[i].first, before[i]);
        });
        QCOMPARE(panelLanguage(userLanguages()), chosen);
    }

    void settingsFile_data() {
        QTest::addColumn<QByteArray>("file"); // null: none
        QTest::addColumn<QString>("entries"); // what the window reads, writes and reads back
        QTest::addColumn<QString>("kept");    // why the file read stays as it was, if it does
        const QString all = QStringLiteral(
            "amplitude=0.25 amplitudeUnit=1 attenuation=12.5 attenuationUnit=4 amplitudeStep=0.5 "
            "amplitudeStepUnit=4 frequency=1500000000 frequencyUnit=7 frequencyStep=12500 "
            "frequencyStepUnit=5 fFmStart=1e8 fFmStartUnit=6 fFmStop=2.5e8 fFmStopUnit=7 "
            "fFmStep=25000 fFmStepUnit=5 tFm=0.25 tFmUnit=8 FrequencyGrid=1 FmMode=2 Port=6123 "
            "LoopbackOnly=1");
        const QString some = QStringLiteral("frequency=250000000 frequencyUnit=5 FmMode=1");
        const QString none, foreign = QStringLiteral("someone else's");
        QTest::newRow("no file: every default") << QByteArray() << none << none;
        QTest::newRow("every value, unit and choice comes back") << fileWith(all) << all << none;
        QTest::newRow("other keys missing: their defaults") << fileWith(some) << some << none;
        QTest::newRow("a write that fails") << fileWith(all) << all << "the write fails";
        QTest::newRow("someone else's notes")
            << QByteArray("Калибровка 12.05: кабель 2 м\nfrequency=5\n") << none << foreign;
        QTest::newRow("someone else's binary garbage")
            << QByteArray("\x00\xff\x13[Display\n=\xfe\x01\x02\n\n[\n", 17) << none << foreign;
        QTest::newRow("a section of another program") << fileWith("frequency=5") + "[Other]\nx=1\n"
                                                      << none << foreign;
        QTest::newRow("someone else's notes only")
            << QByteArray("Калибровка: кабель 2 м\nпроверено\n") << none << foreign;
        QTest::newRow("an INI of another program")
            << QByteArray("[General]\ngeometry=@ByteArray(x)\n[MainWindow]\nstate=1\n") << none
            << foreign;
        QTest::newRow("our keys and one foreign key")
            << fileWith(some + " brightness=3") << none << foreign;
        QTest::newRow("our key under the other section")
            << QByteArray("[Settings]\nfrequency=5\n") << none << foreign;
        QTest::newRow("an empty file: every default") << QByteArray("") << none << none;
        QTest::newRow("values that are not numbers count as missing")
            << fileWith(
                   "amplitude=abc amplitudeUnit=x frequency=1e frequencyUnit= tFm=ms tFmUnit=s "
                   "FrequencyGrid=x Port=abc")
            << none << none;
        QTest::newRow("a unit code of another quantity: the quantity's default unit")
            << fileWith("frequency=5 frequencyUnit=2 amplitudeUnit=6 attenuationUnit=0 "
                        "amplitudeStepUnit=7 frequencyStepUnit=12 fFmStartUnit=-1 fFmStopUnit=4 "
                        "fFmStepUnit=9 tFm=0.5 tFmUnit=6")
            << "frequency=5 tFm=0.5" << none;
        QTest::newRow("older layout: the period's unit code under the period's key")
            << fileWith("tFm=8") << "tFmUnit=8" << none;
        QTest::newRow("choices the driver does not know: its own")
            << fileWith("FrequencyGrid=7 FmMode=-1 Port=70000") << none << none;
    }

    // A file is read on connection, written at exit as the window holds it,
    // and read back by the next window. Someone else's file is neither read
    // nor written; a write that fails leaves the file as it was; both say so.
    void settingsFile() {
        QFETCH(QByteArray, file);
        QFETCH(QString, entries);
        QFETCH(QString, kept);
        const bool fails = kept == QLatin1String("the write fails");
        const QList<double> want = expected(entries);
        const auto goHome = qScopeGuard([home = QDir::currentPath()] { QDir::setCurrent(home); });
        QTemporaryDir first, second; // written elsewhere than read from
        QVERIFY(file.isNull() || writeFile(first.filePath("settings.txt"), file));
        QVERIFY(QDir::setCurrent(first.path()));
        auto window = std::make_unique<MainWindow>(); // connected at once; no report yet
        QVERIFY(Rig::driver(*window));
        QCOMPARE(held(*window), want);
        QCOMPARE(Rig::errorBox(*window).text(), kept.startsWith("someone")
                                                    ? "Файл settings.txt в этой папке не от этой "
                                                      "программы: настройки не будут сохранены"
                                                    : QString());
        if (fails)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("settings.txt"));
        QVERIFY(kept.isEmpty() ? QDir::setCurrent(second.path()) : capFileSize(fails ? 100 : 0));
        window.reset();
        QVERIFY(capFileSize(0));
        if (kept.isEmpty()) {
            QCOMPARE(stored(second.filePath("settings.txt")), want);
        } else { // byte for byte
            QFile input(first.filePath("settings.txt"));
            QVERIFY(input.open(QIODevice::ReadOnly));
            QCOMPARE(input.readAll(), file);
        }
        MainWindow next; // reads the file written, or the one kept
        QVERIFY(Rig::driver(next));
        QCOMPARE(held(next), want);
    }

    void finding_data() {
        QTest::addColumn<QList<int>>("atStart"); // instruments plugged in when the window opens
        QTest::addColumn<int>("picked");         // the one picked from the port list
        QTest::addColumn<int>("found");          // the one connected
        QTest::newRow("Орвекс alone") << QList<int>{orvex} << -1 << orvex;
        QTest::newRow("Пилар alone") << QList<int>{pylar} << -1 << pylar;
        QTest::newRow("Квендт alone") << QList<int>{quendt} << -1 << quendt;
        QTest::newRow("several: the operator picks one")
            << QList<int>{orvex, pylar} << pylar << pylar;
    }

    // Connected: the title names model and port, the panel is enabled, the
    // model's driver is bound. Before: not connected, panel disabled. (Found
    // by a later search: searchSaysWhy, linkLossAndReconnection.)
    void finding() {
        QFETCH(QList<int>, atStart);
        QFETCH(int, picked);
        QFETCH(int, found);
        pluggedOnly(atStart);
        MainWindow window;
        QCOMPARE(window.windowTitle() == notConnected, atStart.size() != 1);
        QCOMPARE(Rig::ui(window).centralWidget->isEnabled(), atStart.size() == 1);
        if (picked >= 0) {
            QVERIFY(Rig::portList(window) && Rig::portList(window)->isVisible());
            auto *list = Rig::portList(window)->findChild<QListWidget *>();
            const auto rows = list->findItems("Порт : " + port(picked) + '.', Qt::MatchStartsWith);
            QCOMPARE(rows.size(), 1);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(rows.first()).center());
            QVERIFY(!Rig::portList(window)->isVisible());
        }
        const int model = rig.instrument(found).modelCode();
        const QString name = QStringList{"Орвекс", "Пилар", "Квендт"}.at(model);
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle.arg(name, port(found)),
                                  10000);
        QVERIFY(Rig::ui(window).centralWidget->isEnabled());
        QCOMPARE(Rig::driver(window)->modelCode(), model);
    }

    // Unplugged: not connected, panel disabled, output shown off; plugged back
    // (under a new port name): connected again.
    void linkLossAndReconnection() {
        auto window = rig.open(quendt);
        QVERIFY(window);
        for (const char *key : {"Delta", "P1", "5", "U2", "OK", "Delta"}) // the run's own step
            QVERIFY(Rig::press(*window, key));
        QVERIFY(writeFile(rig.settingsPath(), fileWith("frequencyStep=1000")));
        QPushButton *rf = Rig::ui(*window).pushButton_TurnOn;
        QVERIFY(Rig::press(*window, "RF") && rf->isChecked());
        QTRY_VERIFY(rig.instrument(quendt).output());
        rig.bed().unplug(quendt);
        QTRY_COMPARE(window->windowTitle(), notConnected);
        QVERIFY(!Rig::ui(*window).centralWidget->isEnabled() && !rf->isChecked());
        QCOMPARE(rf->palette().color(QPalette::Active, QPalette::Button), QColor(Qt::red));
        rig.bed().replug(quendt);
        QTRY_COMPARE(window->windowTitle(), connectedTitle.arg("Квендт", port(quendt)));
        // Polls go on past the retry period: a retry left running would have
        // searched again by then and found the panel's own port busy.
        QSignalSpy polls(Rig::driver(*window), &Generator::exchanged);
        QElapsedTimer since;
        since.start();
        while (since.elapsed() < 1500)
            QVERIFY(polls.wait(5000));
        QCOMPARE(window->windowTitle(), connectedTitle.arg("Квендт", port(quendt)));
        QCOMPARE(Rig::ui(*window).statusBar->findChild<QLabel *>()->text(), QString());
        QVERIFY(Rig::ui(*window).centralWidget->isEnabled());
        QCOMPARE(Rig::values(*window).frequencyStep, 5e6); // the file is read once a run
    }

    void searchSaysWhy_data() {
        QTest::addColumn<bool>("held"); // by rfgen serve; otherwise its node refuses the panel
        QTest::newRow("held by another program") << true;
        QTest::newRow("no permission") << false;
    }
    // While searching the status bar says why the port cannot be used; once it
    // can, the panel connects and the status bar says nothing.
    void searchSaysWhy() {
        QFETCH(bool, held);
        pluggedOnly({orvex});
        const QString node =
            QFileInfo(rig.bed().umockdevDir() + "/dev/" + port(orvex)).symLinkTarget();
        QProcess serve;
        const auto letGo = [&] {
            serve.terminate(), serve.waitForFinished(), overrideFileModes(true);
            QFile::setPermissions(node, QFile::ReadOwner | QFile::WriteOwner);
        };
        const auto atEnd = qScopeGuard(letGo);
        if (held)
            serve.start(RFGEN_PATH, {"serve", "--port", QString::number(Rig::freeTcpPort())});
        QVERIFY(held ? serve.waitForReadyRead(20000)
                     : QFile::setPermissions(node, {}) && overrideFileModes(false));
        MainWindow window;
        const QLabel *reason = Rig::ui(window).statusBar->findChild<QLabel *>();
        QVERIFY(reason && window.windowTitle() == notConnected);
        QCOMPARE(reason->text(),
                 port(orvex) + (held ? " занят другой программой (PID " +
                                           QString::number(serve.processId()) + ')'
                                     : ": нет доступа — см. README, раздел о подключении"));
        letGo();
        QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(), connectedTitle.arg("Орвекс", port(orvex)),
                                  10000);
        QVERIFY(reason->text().isEmpty());
    }

    // A client of the server started from the window (on this computer only)
    // controls the instrument; the indicator shows while it is connected. While
    // the client holds the lock the panel's keys send nothing but RF off, until
    // the operator frees the instrument.
    void remoteClientControlsThePanel() {
        auto window = rig.open(quendt);
        QVERIFY(window);
        ModalBoxCloser boxes; // a server that cannot start says so in a modal box
        for (const QString &key :
             QStringLiteral("RF FM P2 3 0 U2 OK P3 4 0 U2 OK P1 1 U2 OK P4 1 0 "
                            "U2 OK P6") // the output on, a sweep running
                 .split(' '))
            QVERIFY(Rig::press(*window, key));
        menuAction(*window, "ППРЧ")->trigger();
        menuAction(*window, "Сохранение уровня ослабления")->trigger();
        const quint16 tcpPort = Rig::freeTcpPort();
        QTcpSocket elsewhere; // from an address of this computer's that is not loopback's own
        for (bool loopback : {false, true}) { // this computer only from while it serves
            Rig::openRemoteWindow(*window);
            QWidget *remote = Rig::remoteWindow(*window);
            QVERIFY(remote && remote->isVisible());
            remote->findChild<QLineEdit *>()->setText(QString::number(tcpPort));
            const auto boxes = remote->findChildren<QCheckBox *>(); // server, loopback only
            boxes[0]->setChecked(true);
            boxes[1]->setChecked(loopback);
            QTest::mouseClick(remote->findChild<QPushButton *>(), Qt::LeftButton);
            QVERIFY(!remote->isVisible());
            if (!loopback)
                elsewhere.connectToHost(QHostAddress("127.0.0.2"), tcpPort);
            QVERIFY(loopback || elsewhere.waitForConnected(5000));
        }
        QTRY_COMPARE(elsewhere.state(), QAbstractSocket::UnconnectedState); // let go at the switch
        elsewhere.connectToHost(QHostAddress("127.0.0.2"), tcpPort);
        QVERIFY(!elsewhere.waitForConnected(5000));
        QWidget *remote = Rig::remoteWindow(*window);
        QLabel *indicator = Rig::ui(*window).label_netControl;
        QTRY_VERIFY(!indicator->isVisibleTo(window.get()));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(client.waitForConnected(5000));
        QTRY_VERIFY(indicator->isVisibleTo(window.get()));
        const auto ask = [&client](const char *line) {
            client.write(QByteArray(line) + '\n');
            return QTest::qWaitFor([&] { return client.canReadLine(); }) ? client.readLine() : "";
        };
        QCOMPARE(ask("FREQ 250000000;SYST:LOCK:REQ?"), QByteArray("1\n"));
        QCOMPARE(rig.instrument(quendt).frequency(), 250e6);
        QLCDNumber *readout = Rig::ui(*window).lcdNumber_Freq;
        QTRY_VERIFY(readout->isEnabled() && readout->value() == 250.0);
        QCOMPARE(Rig::lockNotice(*window)->text(), "Управление заблокировано клиентом 127.0.0.1:" +
                                                       QString::number(client.localPort()));
        rig.instrument(quendt).clearReceivedLines();
        for (const char *key : {"FM", "P6", "P1", "5", "U2", "OK", "Right", "P3", "3", "OK", "RF",
                                "RF"}) // the sweep and FM mode stay; RF off goes, RF on not
            QVERIFY(Rig::press(*window, key));
        QVERIFY(Rig::ui(*window).pushButton_FM->isChecked() &&
                Rig::ui(*window).pushButton_Param6->isChecked());
        QCOMPARE(rig.instrument(quendt).setting("FM:STAT?"), "1");
        menuAction(*window, "ЛЧМ вниз")->trigger();
        menuAction(*window, "Сохранение уровня амплитуды")->trigger();
        QVERIFY(Rig::settle(*window));
        QCOMPARE(rig.settings(quendt), QList<QByteArray>{"OUTP OFF"}); // RF on was refused
        QCOMPARE(rig.instrument(quendt).setting("FM:MODE?") +
                     rig.instrument(quendt).setting("LEV:MODE?"),
                 "HOPATT");
        QVERIFY(menuAction(*window, "ППРЧ")->isChecked());
        QVERIFY(readout->isEnabled() && readout->value() == 250.0);
        QVERIFY(!Rig::ui(*window).pushButton_TurnOn->isChecked());
        for (QPushButton *button : remote->findChildren<QPushButton *>())
            if (button->text() == "Снять блокировку")
                button->click();
        QCOMPARE(Rig::lockNotice(*window)->text(), QString());
        QCOMPARE(ask("FREQ 300000000;SYST:LOCK:OWN?"), QByteArray("\"NONE\"\n"));
        QCOMPARE(rig.instrument(quendt).frequency(), 300e6);
        client.disconnectFromHost();
        QTRY_VERIFY(!indicator->isVisibleTo(window.get()));
        QCOMPARE(boxes.texts, QStringList());
    }

    // The journal records the panel's and a client's lines. Its script, run by
    // pyvisa against rfgen serve on a second instrument of the model, leaves that
    // one as the panel left its own; a refused value is not replayed.
    void journalScriptReplaysThePanel() {
        pluggedOnly({orvex});
        auto window = rig.open(orvex);
        QVERIFY(window);
        const int twin = rig.plug(devicelink::OrvexModel); // the panel has chosen by now
        const auto unplugTwin = qScopeGuard([&] { rig.bed().unplug(twin); });
        menuAction(*window, "Журнал команд")->trigger();
        auto *journalWindow = window->findChild<JournalWindow *>();
        QVERIFY(journalWindow && journalWindow->isVisible());
        menuAction(*window, "ППРЧ")->trigger();
        for (const QString &key :
             QStringLiteral("P1 1 2 5 . 5 U2 OK 7 U3 OK P2 2 0 0 OK RF FM "
                            "P2 3 0 U2 OK P3 4 0 U2 OK P1 1 U2 OK P4 1 0 OK P6")
                 .split(' '))
            QVERIFY2(Rig::press(*window, key), qPrintable(key));
        menuAction(*window, "Сохранение уровня ослабления")->trigger();

        Generator *driver = Rig::driver(*window);
        const quint16 tcpPort = Rig::freeTcpPort();
        driver->setTcpPort(tcpPort);
        driver->startServer();
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, tcpPort);
        QVERIFY(client.waitForConnected(5000));
        auto *journal = window->findChild<CommandJournal *>();
        const int clientFrom = journal->exchanges().size();
        client.write("ATT 10\n*OPC?\n");
        QTRY_VERIFY(client.canReadLine());
        const int clientTo = journal->exchanges().size();
        QTRY_VERIFY(journal->exchanges().last().origin == rfgen::Exchange::Origin::Poll);
        QVERIFY(Rig::press(*window, "RF")); // the panel's own line after the client and a poll
        const QString byClient = "Клиент 127.0.0.1:" + QString::number(client.localPort());
        driver->stopServer();
        QTRY_COMPARE(journal->rowCount(), journal->exchanges().size());
        const QList<rfgen::Exchange> all = journal->exchanges();
        QStringList lines, shown; // every exchange, and those shown while polls are hidden
        for (int i = 0; i < all.size(); ++i) {
            const QByteArray &sent = all[i].sent;
            const bool poll = sent.startsWith("FREQ?;VOLT?") || sent == "*IDN?" ||
                              sent.startsWith("LEV:MODE AMPL;FM:MODE");
            const bool fromClient = i >= clientFrom && i < clientTo && !poll;
            QCOMPARE(rfgen::journal::field(all[i], 1), poll         ? "Опрос"
                                                       : fromClient ? byClient
                                                                    : QStringLiteral("Панель"));
            lines << rfgen::journal::line(all[i]);
            if (!poll)
                shown << lines.last();
        }
        QTemporaryDir dir;
        const QString saved = dir.filePath("journal.txt");
        QString why;
        for (const QStringList &want : {shown, lines}) { // polls hidden, then shown
            QVERIFY2(journalWindow->saveTo(saved, why), qPrintable(why));
            const QString text = QString::fromUtf8(fileText(saved));
            QCOMPARE(text.split('\n'), want);
            QCOMPARE(text.count(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\t",
                                                   QRegularExpression::MultilineOption)),
                     want.size());
            QVERIFY2(text.contains(byClient + "\tATT 10;ATT?\t10\n"), qPrintable(text));
            QVERIFY2(
                text.contains(QRegularExpression("\tПанель\tFREQ 7000000000\t.*\tотклонено\n")),
                qPrintable(text));
            journalWindow->findChild<QCheckBox *>()->setChecked(true);
        }

        for (QPushButton *button : journalWindow->findChildren<QPushButton *>())
            if (button->text() == "Копировать как скрипт")
                button->click();
        QVERIFY(writeFile(dir.filePath("replay.py"), QApplication::clipboard()->text().toUtf8()));
        QProcess serve;
        serve.start(RFGEN_PATH,
                    {"serve", "--device", port(twin), "--port", QString::number(tcpPort),
                     "--journal", dir.filePath("bridge.log")});
        QTRY_VERIFY_WITH_TIMEOUT(serve.canReadLine(), 20000); // "listening on N"
        QProcess python;
        python.start("/usr/bin/python3", {dir.filePath("replay.py")});
        QVERIFY(python.waitForFinished(60000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        for (const char *query : {"FREQ?", "VOLT?", "ATT?", "OUTP?", "LEV:MODE?", "FM:MODE?",
                                  "FM:STAR?", "FM:STOP?", "FM:STEP?", "FM:PER?", "FM:STAT?"})
            QCOMPARE(rig.instrument(twin).setting(query), rig.instrument(orvex).setting(query));
        QCOMPARE(rig.instrument(twin).frequency(), 125.5e6);
        serve.terminate();
        QVERIFY(serve.waitForFinished(20000));
        const QString bridgeLog = QString::fromUtf8(fileText(dir.filePath("bridge.log")));
        QVERIFY2(
            bridgeLog.contains(QRegularExpression("\tКлиент 127.0.0.1:\\d+\tFM:MODE HOP;FM:STAR")),
            qPrintable(bridgeLog));
    }

    // The journal keeps the newest exchanges only, in memory that stays flat.
    void journalKeepsTheNewest() {
        auto window = rig.open(quendt);
        QVERIFY(window);
        auto *journal = window->findChild<CommandJournal *>();
        QAbstractItemModelTester rows(journal,
                                      QAbstractItemModelTester::FailureReportingMode::QtTest);
        rfgen::Exchange e;
        e.reply = QByteArray(40, '1');
        [[maybe_unused]] qint64 residentBefore = 0;
        for (int i = 0; i < 10 * CommandJournal::capacity; ++i) {
            if (i == 2 * CommandJournal::capacity)
                residentBefore = residentBytes();
            e.sent = "FREQ " + QByteArray::number(i) + ";FREQ?";
            emit Rig::driver(*window)->exchanged(e);
        }
        const QList<rfgen::Exchange> kept = journal->exchanges();
        QCOMPARE(kept.size(), CommandJournal::capacity);
        QCOMPARE(kept.front().sent, "FREQ 90000;FREQ?");
#ifndef __SANITIZE_ADDRESS__ // its quarantine keeps freed memory on purpose
        QVERIFY2(residentBytes() - residentBefore < (4 << 20), // unbounded: ~10 MiB
                 qPrintable(QString::number(residentBytes() - residentBefore)));
#endif
    }

    // A driver's error opens the modal box "Ошибка" with the driver's text.
    void driverErrorOpensTheBox() {
        auto window = rig.open(quendt);
        QVERIFY(window);
        ModalBoxCloser boxes;
        rig.instrument(quendt).setSilent(true);
        const auto answerAgain = qScopeGuard([&] { rig.instrument(quendt).setSilent(false); });
        QVERIFY(Rig::press(*window, "RF"));
        QTRY_COMPARE(boxes.texts, QStringList{"Генератор не отвечает"});
        QCOMPARE(Rig::errorBox(*window).windowTitle(), QStringLiteral("Ошибка"));
    }

    void orderlyExit_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<int>("dpi"); // of the X screen, as a desktop sets it (Xft.dpi)
        QTest::newRow("offscreen") << "offscreen" << 0;
        QTest::newRow("xcb on Xvfb, no OpenGL loaded") << "xcb" << 96;
        QTest::newRow("xcb at 144 dpi: a face one and a half times as large") << "xcb" << 144;
        QTest::newRow("xcb at 192 dpi: a face twice as large") << "xcb" << 192;
    }

    // The real program inside the testbed launcher, stopped with SIGTERM: it
    // leaves its event loop, so the window writes the settings and switches
    // the output off, and it exits with 0. On X its window is 1100×300 at
    // 96 dpi, and larger by as much as the screen is denser.
    void orderlyExit() {
        QFETCH(QString, platform);
        QFETCH(int, dpi);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_XCB_GL_INTEGRATION");
        environment.insert("QT_QPA_PLATFORM", platform);
        QProcess xserver;
        if (platform == "xcb") {
            // It writes the display it found; -noreset: the resources outlive xprop.
            xserver.start("Xvfb", {"-displayfd", "1", "-noreset"});
            if (!xserver.waitForStarted())
                QSKIP("Xvfb is not installed (package xvfb)");
            QTRY_VERIFY_WITH_TIMEOUT(xserver.canReadLine(), 20000);
            environment.insert("DISPLAY", ':' + xserver.readLine().trimmed());
            xClient(environment, {"xprop", "-root", "-format", "RESOURCE_MANAGER", "8s", "-set",
                                  "RESOURCE_MANAGER", QStringLiteral("Xft.dpi:\t%1").arg(dpi)});
        }
        QTemporaryDir dir; // the panel's working directory
        QProcess bed;
        bed.setProcessEnvironment(environment);
        bed.setWorkingDirectory(dir.path());
        bed.start(RFGEN_TESTBED_PATH, {"--model", "orvex", "--", RFPANEL_PATH});
        QByteArray log;
        // The answer to *IDN? is read by the event loop, so the window is up by then.
        QTRY_VERIFY2_WITH_TIMEOUT((log += bed.readAllStandardError()).contains(" >> "),
                                  log.constData(), 20000);
        const auto panel = pid_t(
            fileText(QStringLiteral("/proc/%1/task/%1/children").arg(bed.processId())).toInt());
        QVERIFY(panel > 0);
        const auto noOrphan = qScopeGuard([&] {
            if (bed.state() != QProcess::NotRunning)
                ::kill(panel, SIGKILL);
        });
        const QByteArray mapped = fileText(QStringLiteral("/proc/%1/maps").arg(panel));
        // QtGui links libGL itself; Qt's GL integration and Mesa's driver come on demand.
        for (const char *library : {"xcbglintegrations", "libGLX_mesa", "_dri.so"})
            QVERIFY2(!mapped.contains(library), library);
        const QString size =
            QStringLiteral("Geometry: %1x%2").arg(1100 * dpi / 96).arg(300 * dpi / 96);
        QByteArray window;
        QTRY_VERIFY2_WITH_TIMEOUT(
            !dpi || (window = xClient(environment, {"xdotool", "search", "--onlyvisible", "--class",
                                                    "rfpanel", "getwindowgeometry"}))
                        .contains(size.toLatin1()),
            window.constData(), 20000);

        QCOMPARE(::kill(pid_t(bed.processId()), SIGTERM), 0); // passed on to the panel
        QVERIFY(bed.waitForFinished(20000));
        log += bed.readAllStandardError();
        QCOMPARE(bed.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bed.exitCode(), 0); // a death by the signal would give 143
        // The instrument's own answer tells that its output went off.
        const int off = log.indexOf("<< OUTP OFF;OUTP?");
        QVERIFY2(off >= 0 && log.indexOf(">> 0", off) > off, log.constData());
        QVERIFY(QSettings(dir.filePath("settings.txt"), QSettings::IniFormat)
                    .contains("Settings/Port"));
        xserver.terminate();
        xserver.waitForFinished();
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
