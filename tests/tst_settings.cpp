// The settings file through the real window: what a connected panel writes at
// exit, what a fresh panel reads back when it connects, and what it makes of
// missing, older, damaged and unreachable files. The instrument is simulated on
// the umockdev testbed and reached through the real drivers.
#include "app/mainwindow.h"
#include "linkbench.h"
#include "panel/display.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLCDNumber>
#include <QLabel>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <memory>

namespace {

// Every persisted panel value, in the order of the file's keys.
struct PanelValues {
    double amplitude;
    int amplitudeUnit;
    double attenuation;
    int attenuationUnit;
    double amplitudeStep;
    int amplitudeStepUnit;
    double frequency;
    int frequencyUnit;
    double frequencyStep;
    int frequencyStepUnit;
    double fFmStart;
    int fFmStartUnit;
    double fFmStop;
    int fFmStopUnit;
    double fFmStep;
    int fFmStepUnit;
    double tFm;
    int tFmUnit;
};

// What a panel holds after reading a file without any of its keys.
const PanelValues fileDefaults = {0.0, 2,   0.0, 4,   1.0, 3,   100000000.0, 6,   1000000.0,
                                  6,   0.0, 6,   0.0, 6,   0.0, 6,           0.0, 9};

const PanelValues operatorValues = {0.001,       1, 12.5,    4, 0.5,         2,
                                    123456789.0, 6, 12500.0, 5, 100000000.0, 6,
                                    200000000.0, 7, 25000.0, 5, 0.25,        8};

const PanelValues otherValues = {0.7071,
                                 3,
                                 std::numeric_limits<double>::infinity(),
                                 4,
                                 3.5,
                                 4,
                                 5.9e9,
                                 7,
                                 0.1,
                                 5,
                                 1234.5,
                                 5,
                                 9876543210.0,
                                 7,
                                 2000.0,
                                 6,
                                 0.004,
                                 9};

// Shortest exact text of a double, so that values compare bit for bit.
QString exact(double value) {
    return QString::number(value, 'g', 17);
}

QString describe(const PanelValues &v) {
    const QStringList parts = {exact(v.amplitude),     QString::number(v.amplitudeUnit),
                               exact(v.attenuation),   QString::number(v.attenuationUnit),
                               exact(v.amplitudeStep), QString::number(v.amplitudeStepUnit),
                               exact(v.frequency),     QString::number(v.frequencyUnit),
                               exact(v.frequencyStep), QString::number(v.frequencyStepUnit),
                               exact(v.fFmStart),      QString::number(v.fFmStartUnit),
                               exact(v.fFmStop),       QString::number(v.fFmStopUnit),
                               exact(v.fFmStep),       QString::number(v.fFmStepUnit),
                               exact(v.tFm),           QString::number(v.tFmUnit)};
    return parts.join(QStringLiteral(" | "));
}

const QString settingsName = QStringLiteral("settings.txt");

void writeSettingsFile(const QByteArray &content) {
    QFile file(settingsName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readSettingsFile(const QString &dir) {
    QFile file(dir + '/' + settingsName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Marks a row whose settings.txt is a directory: it can be neither read nor written.
const QByteArray unreachableFile = QByteArrayLiteral("<directory>");

void prepareSettingsFile(const QByteArray &content) {
    if (content == unreachableFile)
        QVERIFY(QDir().mkdir(settingsName));
    else if (!content.isNull())
        writeSettingsFile(content);
}

const char *const fmModeReplies[] = {"UP", "DOWN", "HOP"};

} // namespace

Q_DECLARE_METATYPE(PanelValues)

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void roundTrip_data();
    void roundTrip();
    void fileEntries_data();
    void fileEntries();
    void fileHoldsOnlyItsKeys();
    void loadedValues_data();
    void loadedValues();
    void driverSettings_data();
    void driverSettings();
    void displaysAfterLoading_data();
    void displaysAfterLoading();
    void neverConnectedRunLeavesFile_data();
    void neverConnectedRunLeavesFile();
    void unreachableFileIsLeftAlone();

private:
    bool openPanel();
    void setValues(const PanelValues &values);
    PanelValues values() const;
    QString checkedText(const QActionGroup *group) const;
    QByteArray savedFile();

    linkbench::Bench bench;
    linkbench::ModalBoxCloser modalBoxes;
    int device = -1;
    QString startDir;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<MainWindow> window;
    QByteArray savedFileCache;
};

void TestSettings::initTestCase() {
    QVERIFY2(bench.start(), qPrintable(bench.errorString()));
    device = bench.plug(devicelink::QuendtModel);
    QVERIFY(device >= 0);
    startDir = QDir::currentPath();
}

void TestSettings::cleanupTestCase() {
    bench.stop();
}

// The panel keeps its file in the current directory: each test gets its own.
void TestSettings::init() {
    workDir = std::make_unique<QTemporaryDir>();
    QVERIFY(workDir->isValid());
    QVERIFY(QDir::setCurrent(workDir->path()));
}

void TestSettings::cleanup() {
    window.reset();
    linkbench::deleteLeftWindows();
    bench.replug(device); // a test may have pulled it
    QDir::setCurrent(startDir);
    workDir.reset();
}

bool TestSettings::openPanel() {
    window = std::make_unique<MainWindow>();
    return window->windowTitle() ==
           linkbench::connectedTitle(devicelink::QuendtModel, bench.portName(device));
}

void TestSettings::setValues(const PanelValues &v) {
    MainWindow &w = *window;
    w.amplitude = v.amplitude;
    w.amplitudeUnit = v.amplitudeUnit;
    w.attenuation = v.attenuation;
    w.attenuationUnit = v.attenuationUnit;
    w.amplitudeStep = v.amplitudeStep;
    w.amplitudeStepUnit = v.amplitudeStepUnit;
    w.frequency = v.frequency;
    w.frequencyUnit = v.frequencyUnit;
    w.frequencyStep = v.frequencyStep;
    w.frequencyStepUnit = v.frequencyStepUnit;
    w.fFmStart = v.fFmStart;
    w.fFmStartUnit = v.fFmStartUnit;
    w.fFmStop = v.fFmStop;
    w.fFmStopUnit = v.fFmStopUnit;
    w.fFmStep = v.fFmStep;
    w.fFmStepUnit = v.fFmStepUnit;
    w.tFm = v.tFm;
    w.tFmUnit = v.tFmUnit;
}

PanelValues TestSettings::values() const {
    const MainWindow &w = *window;
    return {w.amplitude,     w.amplitudeUnit,
            w.attenuation,   int(w.attenuationUnit),
            w.amplitudeStep, w.amplitudeStepUnit,
            w.frequency,     w.frequencyUnit,
            w.frequencyStep, w.frequencyStepUnit,
            w.fFmStart,      w.fFmStartUnit,
            w.fFmStop,       w.fFmStopUnit,
            w.fFmStep,       w.fFmStepUnit,
            w.tFm,           w.tFmUnit};
}

QString TestSettings::checkedText(const QActionGroup *group) const {
    const QAction *checked = group->checkedAction();
    return checked ? checked->text() : QString();
}

// The file a connected panel writes at exit after the operator's values were set.
QByteArray TestSettings::savedFile() {
    if (!savedFileCache.isNull())
        return savedFileCache;
    if (!openPanel())
        return QByteArray();
    setValues(operatorValues);
    window->generator->setFrequencyGrid(devicelink::Grid2KHz);
    window->generator->setFmMode(devicelink::FrequencyHopping);
    window->generator->setTcpPort(6123);
    window.reset();
    savedFileCache = readSettingsFile(QDir::currentPath());
    return savedFileCache;
}

void TestSettings::roundTrip_data() {
    QTest::addColumn<PanelValues>("stored");
    QTest::addColumn<int>("grid");
    QTest::addColumn<int>("fmKind");
    QTest::addColumn<int>("port");

    QTest::newRow("operator values, 123456789 Hz")
        << operatorValues << int(devicelink::Grid1KHz) << int(devicelink::ChirpDown) << 6001;
    QTest::newRow("infinite attenuation, GHz, seconds")
        << otherValues << int(devicelink::Grid5KHz) << int(devicelink::FrequencyHopping) << 65535;
    QTest::newRow("the values a file without keys gives")
        << fileDefaults << int(devicelink::Grid10KHz) << int(devicelink::ChirpUp) << 1;
}

// Written by one panel, read back exactly by the next one.
void TestSettings::roundTrip() {
    QFETCH(PanelValues, stored);
    QFETCH(int, grid);
    QFETCH(int, fmKind);
    QFETCH(int, port);

    QVERIFY(openPanel());
    setValues(stored);
    window->generator->setFrequencyGrid(grid);
    window->generator->setFmMode(fmKind);
    window->generator->setTcpPort(port);
    window.reset();

    // QSettings keeps what this process wrote in a cache of its own; read the
    // file from a directory it has not seen, so the text on disk is what counts.
    QTemporaryDir readDir;
    QVERIFY(QFile::copy(settingsName, readDir.filePath(settingsName)));
    QVERIFY(QDir::setCurrent(readDir.path()));
    QVERIFY(openPanel());

    QCOMPARE(describe(values()), describe(stored));
    QCOMPARE(window->generator->getFrequencyGrid(), grid);
    QCOMPARE(window->generator->getFmMode(), fmKind);
    QCOMPARE(window->generator->getTcpPort(), port);
    QTRY_COMPARE(bench.instrument(device)->setting("FM:MODE?"), QByteArray(fmModeReplies[fmKind]));
    window.reset();
    QVERIFY(QDir::setCurrent(workDir->path()));
}

void TestSettings::fileEntries_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *section, const char *key, const char *text) {
        QTest::newRow(key) << QString::fromLatin1(section) << QString::fromLatin1(key)
                           << QString::fromLatin1(text);
    };
    // The operator's values as written at exit: doubles in the shortest form
    // that reads back exactly (QSettings writes 1e+08 for 100000000), unit
    // codes and driver choices as integers.
    row("Display", "amplitude", "0.001");
    row("Display", "amplitudeUnit", "1");
    row("Display", "attenuation", "12.5");
    row("Display", "attenuationUnit", "4");
    row("Display", "amplitudeStep", "0.5");
    row("Display", "amplitudeStepUnit", "2");
    row("Display", "frequency", "123456789");
    row("Display", "frequencyUnit", "6");
    row("Display", "frequencyStep", "12500");
    row("Display", "frequencyStepUnit", "5");
    row("Display", "fFmStart", "1e+08");
    row("Display", "fFmStartUnit", "6");
    row("Display", "fFmStop", "2e+08");
    row("Display", "fFmStopUnit", "7");
    row("Display", "fFmStep", "25000");
    row("Display", "fFmStepUnit", "5");
    row("Display", "tFm", "0.25");
    row("Display", "tFmUnit", "8");
    row("Settings", "FrequencyGrid", "1");
    row("Settings", "FmMode", "2");
    row("Settings", "Port", "6123");
}

void TestSettings::fileEntries() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, text);

    const QStringList lines = QString::fromUtf8(savedFile()).split('\n');
    QVERIFY(!lines.isEmpty());
    QString currentSection;
    QStringList found;
    for (const QString &line : lines) {
        if (line.startsWith('['))
            currentSection = line.mid(1, line.size() - 2);
        else if (line.startsWith(key + '='))
            found << currentSection + '/' + line.mid(key.size() + 1);
    }
    QCOMPARE(found, QStringList{section + '/' + text});
}

// Two sections, the Display section first, and no key beyond the known ones.
void TestSettings::fileHoldsOnlyItsKeys() {
    const QByteArray content = savedFile();
    QVERIFY(!content.isEmpty());
    const QTemporaryDir dir;
    QFile copy(dir.filePath(settingsName));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(content);
    copy.close();

    QSettings file(copy.fileName(), QSettings::IniFormat);
    QCOMPARE(file.childGroups(), (QStringList{"Display", "Settings"}));
    QStringList keys = file.allKeys();
    keys.sort();
    QStringList expected;
    for (const char *key : {"amplitude", "amplitudeUnit", "attenuation", "attenuationUnit",
                            "amplitudeStep", "amplitudeStepUnit", "frequency", "frequencyUnit",
                            "frequencyStep", "frequencyStepUnit", "fFmStart", "fFmStartUnit",
                            "fFmStop", "fFmStopUnit", "fFmStep", "fFmStepUnit", "tFm", "tFmUnit"})
        expected << QStringLiteral("Display/") + key;
    for (const char *key : {"FrequencyGrid", "FmMode", "Port"})
        expected << QStringLiteral("Settings/") + key;
    expected.sort();
    QCOMPARE(keys, expected);
    QVERIFY(content.indexOf("[Display]") < content.indexOf("[Settings]"));
    const QRegularExpression integer(QStringLiteral("^[0-9]+$"));
    for (const QString &key : keys)
        if (key.endsWith(QLatin1String("Unit")) || key.startsWith(QLatin1String("Settings/")))
            QVERIFY2(integer.match(file.value(key).toString()).hasMatch(), qPrintable(key));
}

void TestSettings::loadedValues_data() {
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<PanelValues>("expected");

    QTest::newRow("no file") << QByteArray() << fileDefaults;
    QTest::newRow("empty file") << QByteArray("") << fileDefaults;
    QTest::newRow("other sections only") << QByteArray("[Other]\nfrequency=5\n") << fileDefaults;
    QTest::newRow("settings.txt is a directory") << unreachableFile << fileDefaults;
    QTest::newRow("binary garbage")
        << QByteArray("\x00\xff\x13[Display\n=\xfe\x01\x02\n\n[\n", 17) << fileDefaults;
    QTest::newRow("values that are not numbers")
        << QByteArray("[Display]\namplitude=abc\namplitudeUnit=x\nfrequency=1e\n"
                      "frequencyUnit=\ntFm=ms\ntFmUnit=s\n")
        << fileDefaults;

    PanelValues partial = fileDefaults;
    partial.frequency = 250000000.0;
    partial.frequencyUnit = 7;
    partial.fFmStop = 3e9;
    QTest::newRow("some keys only")
        << QByteArray("[Display]\nfrequency=250000000\nfrequencyUnit=7\nfFmStop=3e9\n") << partial;

    QTest::newRow("unit codes of another quantity")
        << QByteArray("[Display]\nfrequency=5\nfrequencyUnit=2\namplitudeUnit=6\n"
                      "attenuationUnit=0\namplitudeStepUnit=7\nfrequencyStepUnit=12\n"
                      "fFmStartUnit=-1\nfFmStopUnit=4\nfFmStepUnit=9\ntFm=0.5\ntFmUnit=6\n")
        << [] {
               PanelValues v = fileDefaults;
               v.frequency = 5.0;
               v.tFm = 0.5;
               return v;
           }();

    // An older file holds the period's unit code under the period's key.
    PanelValues older = fileDefaults;
    older.tFmUnit = 8;
    QTest::newRow("older file, seconds") << QByteArray("[Display]\ntFm=8\n") << older;
    older.tFmUnit = 9;
    QTest::newRow("older file, milliseconds") << QByteArray("[Display]\ntFm=9\n") << older;
    QTest::newRow("older file, not a period unit") << QByteArray("[Display]\ntFm=5\n") << older;
    QTest::newRow("older file, a period") << QByteArray("[Display]\ntFm=0.25\n") << older;

    PanelValues current = fileDefaults;
    current.tFm = 8.0;
    current.tFmUnit = 8;
    QTest::newRow("period and unit side by side")
        << QByteArray("[Display]\ntFm=8\ntFmUnit=8\n") << current;
}

// What a freshly connected panel makes of the file it finds.
void TestSettings::loadedValues() {
    QFETCH(QByteArray, content);
    QFETCH(PanelValues, expected);

    prepareSettingsFile(content);
    QVERIFY(openPanel());
    QCOMPARE(describe(values()), describe(expected));
    // Nothing in the file reaches the read-outs as an invalid unit.
    QVERIFY(!window->errorBox.isVisible());
}

void TestSettings::driverSettings_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("grid");
    QTest::addColumn<int>("fmKind");
    QTest::addColumn<int>("port");

    QTest::newRow("no file") << QByteArray() << int(devicelink::Grid10KHz)
                             << int(devicelink::ChirpUp) << 5025;
    QTest::newRow("stored choices")
        << QByteArray("[Settings]\nFrequencyGrid=0\nFmMode=2\nPort=6200\n")
        << int(devicelink::Grid1KHz) << int(devicelink::FrequencyHopping) << 6200;
    QTest::newRow("grid 2 kHz, chirp down")
        << QByteArray("[Settings]\nFrequencyGrid=1\nFmMode=1\n") << int(devicelink::Grid2KHz)
        << int(devicelink::ChirpDown) << 5025;
    QTest::newRow("grid 5 kHz, highest port")
        << QByteArray("[Settings]\nFrequencyGrid=2\nPort=65535\n") << int(devicelink::Grid5KHz)
        << int(devicelink::ChirpUp) << 65535;
    // The driver refuses what it does not know and keeps its own choice.
    QTest::newRow("values the driver refuses")
        << QByteArray("[Settings]\nFrequencyGrid=7\nFmMode=-1\nPort=70000\n")
        << int(devicelink::Grid10KHz) << int(devicelink::ChirpUp) << 5025;
}

// Grid, FM kind and server port reach the driver, and the menus show what it holds.
void TestSettings::driverSettings() {
    QFETCH(QByteArray, content);
    QFETCH(int, grid);
    QFETCH(int, fmKind);
    QFETCH(int, port);

    prepareSettingsFile(content);
    // A panel whose menus show other choices than the file's beforehand.
    QVERIFY(openPanel());
    QCOMPARE(window->generator->getFrequencyGrid(), grid);
    QCOMPARE(window->generator->getFmMode(), fmKind);
    QCOMPARE(window->generator->getTcpPort(), port);
    const QAction *gridActions[] = {window->grid1KHzAction, window->grid2KHzAction,
                                    window->grid5KHzAction, window->grid10KHzAction};
    const QAction *fmKindActions[] = {window->upChirpAction, window->downChirpAction,
                                      window->fhssAction};
    QCOMPARE(checkedText(window->gridGroup), gridActions[grid]->text());
    QCOMPARE(checkedText(window->fmKindGroup), fmKindActions[fmKind]->text());
    QTRY_COMPARE(bench.instrument(device)->setting("FM:MODE?"), QByteArray(fmModeReplies[fmKind]));
}

void TestSettings::displaysAfterLoading_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<double>("frequencyShown");
    QTest::addColumn<QString>("frequencyLabel");
    QTest::addColumn<double>("amplitudeShown");
    QTest::addColumn<QString>("amplitudeLabel");

    QTest::newRow("no file") << QByteArray() << 100.0 << "МГц" << 0.0 << "мВ";
    QTest::newRow("GHz and volts")
        << QByteArray("[Display]\nfrequency=1500000000\nfrequencyUnit=7\n"
                      "amplitude=0.25\namplitudeUnit=1\n")
        << 1.5 << "ГГц" << 0.25 << "В";
    QTest::newRow("kHz and millivolts") << QByteArray("[Display]\nfrequency=9000\nfrequencyUnit=5\n"
                                                      "amplitude=0.025\namplitudeUnit=2\n")
                                        << 9.0 << "КГц" << 25.0 << "мВ";
}

// Frequency and amplitude are drawn dimmed until the instrument confirms them;
// no read-out stays active.
void TestSettings::displaysAfterLoading() {
    QFETCH(QByteArray, content);
    QFETCH(double, frequencyShown);
    QFETCH(QString, frequencyLabel);
    QFETCH(double, amplitudeShown);
    QFETCH(QString, amplitudeLabel);

    prepareSettingsFile(content);
    QVERIFY(openPanel());
    const Ui::MainWindow *ui = window->ui;
    QCOMPARE(ui->lcdNumber_Freq->value(), frequencyShown);
    QCOMPARE(ui->label_FreqUnit->text(), frequencyLabel);
    QCOMPARE(ui->lcdNumber_Amp->value(), amplitudeShown);
    QCOMPARE(ui->label_AmpUnit->text(), amplitudeLabel);
    QVERIFY(!ui->lcdNumber_Freq->isEnabled());
    QVERIFY(!ui->lcdNumber_Amp->isEnabled());
    QVERIFY(!ui->lcdNumber_Param->isEnabled());
    QVERIFY(!window->activeDisplay);
    QVERIFY(!window->activeUnitLabel);
    QVERIFY(ui->centralWidget->isEnabled());
}

void TestSettings::neverConnectedRunLeavesFile_data() {
    QTest::addColumn<QByteArray>("content"); // null: no file

    QTest::newRow("operator's file") << QByteArray("[Display]\nfrequency=123456789\n"
                                                   "frequencyUnit=5\n\n[Settings]\nPort=6001\n");
    QTest::newRow("file with comments and odd spacing")
        << QByteArray("; kept by hand\n[Display]\n  amplitude = 0.5 \n");
    QTest::newRow("no file") << QByteArray();
}

// Closing a panel that never found an instrument keeps the stored values.
void TestSettings::neverConnectedRunLeavesFile() {
    QFETCH(QByteArray, content);

    prepareSettingsFile(content);
    const QDateTime modified = QFileInfo(settingsName).lastModified();
    bench.unplug(device);
    window = std::make_unique<MainWindow>();
    QCOMPARE(window->windowTitle(), linkbench::notConnectedTitle);
    window.reset();

    QCOMPARE(QFileInfo::exists(settingsName), !content.isNull());
    QCOMPARE(readSettingsFile(QDir::currentPath()), content.isNull() ? QByteArray() : content);
    QCOMPARE(QFileInfo(settingsName).lastModified(), modified);
}

// A settings.txt that is a directory can be neither read nor replaced; the
// panel works on with its defaults and exits normally.
void TestSettings::unreachableFileIsLeftAlone() {
    prepareSettingsFile(unreachableFile);
    QVERIFY(openPanel());
    QCOMPARE(describe(values()), describe(fileDefaults));
    setValues(operatorValues);
    window.reset();
    QVERIFY(QFileInfo(settingsName).isDir());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
