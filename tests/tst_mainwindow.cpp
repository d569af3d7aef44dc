// The main window as later code and the user meet it: the form's widget tree,
// the window's start state and colours, its connections and what each click
// and each driver report visibly does, the menus, the about and error boxes,
// and the orderly end on a stop request.
#include "app/mainwindow.h"
#include "app/shutdownsignals.h"
#include "instrument.h"
#include "panelkeys.h"
#include "testbed.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QBoxLayout>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QImage>
#include <QLCDNumber>
#include <QLabel>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/types.h>
#include <unistd.h>

namespace {

// QObject::receivers is protected; a pointer to it named through a derived
// class may be applied to any QObject.
struct ReceiverCount : QObject {
    static int of(const QObject *object, const char *signal) {
        return (object->*(&ReceiverCount::receivers))(signal);
    }
};

const QString itemSpacer = QStringLiteral("<spacer>");

QString itemName(QLayoutItem *item) {
    if (item->widget())
        return item->widget()->objectName();
    if (item->layout())
        return item->layout()->objectName();
    return itemSpacer;
}

QStringList texts(const QList<QAction *> &actions) {
    QStringList result;
    for (QAction *action : actions)
        result << action->text();
    return result;
}

QAction *actionByText(const QMenu *menu, const QString &text) {
    for (QAction *action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

QList<QWidget *> visibleWindowsTitled(const QString &title) {
    QList<QWidget *> result;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->windowTitle() == title)
            result << widget;
    return result;
}

bool imageHasColour(const QImage &image, const QColor &colour) {
    const QRgb wanted = colour.rgb();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) == (wanted & 0xffffff))
                return true;
    return false;
}

// Which signals a process has handlers for, from /proc.
quint64 caughtSignals(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16);
    return 0;
}

// Marks every text it is asked for in the window's translation context.
class MarkingTranslator : public QTranslator {
public:
    static QString marked(const QString &text) { return QStringLiteral("<") + text + '>'; }
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *,
                      int) const override {
        if (QByteArray(context) != "MainWindow")
            return QString();
        return marked(QString::fromUtf8(sourceText));
    }
};

const QString notConnectedTitle = QStringLiteral("Генератор . Не подключен");
const QString aboutTitle = QStringLiteral("О программе");
const QString settingsFileName = QStringLiteral("settings.txt");

// Key names of panelkeys ("7", ".", "OK", "U1", "P3", ...) and the other
// buttons of the front panel.
QString keyButton(const QString &key) {
    static const QHash<QString, QString> others = {
        {"RF", "pushButton_TurnOn"},   {"FM", "pushButton_FM"},      {"AM", "pushButton_AM"},
        {"Delta", "pushButton_Delta"}, {"Up", "pushButton_Up"},      {"Down", "pushButton_Down"},
        {"Left", "pushButton_Left"},   {"Right", "pushButton_Right"}};
    return others.value(key, panelkeys::buttonName(key));
}

// Numbers to twelve significant digits, so that binary noise of a conversion
// does not count as a different value.
QString readable(const QVariant &value) {
    if (value.userType() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 12);
    return value.toString();
}

// Closes every message box that opens while it lives and keeps its text: a
// modal box nobody expected would otherwise block the test for good.
class MessageBoxes {
public:
    MessageBoxes() {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] { closeOpenBoxes(); });
        timer.start();
    }
    // Also the boxes shown without blocking since the last look.
    QStringList texts() {
        closeOpenBoxes();
        return seen;
    }
    int modalCount() const { return modal; }

private:
    void closeOpenBoxes() {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            seen << box->text();
            if (QApplication::activeModalWidget() == box)
                ++modal;
            box->done(QMessageBox::Ok);
        }
    }
    QTimer timer;
    QStringList seen;
    int modal = 0;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void widgetTree_data();
    void widgetTree();
    void layoutTree_data();
    void layoutTree();
    void gridCells_data();
    void gridCells();
    void modeGridFirstColumnEmpty();
    void spacers_data();
    void spacers();
    void sizeLimits_data();
    void sizeLimits();
    void windowSizeIsBounded_data();
    void windowSizeIsBounded();
    void sizePolicies_data();
    void sizePolicies();
    void fonts_data();
    void fonts();
    void checkableButtons_data();
    void checkableButtons();
    void captions_data();
    void captions();
    void captionsAreTranslated_data();
    void captionsAreTranslated();
    void readouts_data();
    void readouts();
    void frames_data();
    void frames();
    void windowBars();

    void notConnectedState();
    void readoutColours_data();
    void readoutColours();
    void readoutsDrawnDimmedOnBlack_data();
    void readoutsDrawnDimmedOnBlack();
    void rfButtonIsRed();
    void buttonsReachTheirSlotsOnce_data();
    void buttonsReachTheirSlotsOnce();
    void driverSignalsReachTheirSlots_data();
    void driverSignalsReachTheirSlots();
    void driverReportsShowOnThePanel_data();
    void driverReportsShowOnThePanel();
    void buttonClicksTakeEffectOnce_data();
    void buttonClicksTakeEffectOnce();
    void slotTable();

    void menuTree();
    void actions_data();
    void actions();
    void exclusiveGroups_data();
    void exclusiveGroups();
    void aboutOpensANewWindowEachTime();
    void closedAboutWindowIsDeleted();
    void driverErrorOpensModalBox_data();
    void driverErrorOpensModalBox();
    void errorWhileBoxIsOpenReplacesText();

    void stopSignalIsDelivered_data();
    void stopSignalIsDelivered();
    void stopSignalEndsPanelNormally_data();
    void stopSignalEndsPanelNormally();

private:
    template <class T> T *find(const QString &name) const;
    Generator *driver(int index) const;
    bool openConnectedPanel();
    bool press(const QString &keys);
    QString showing(const QString &expectation);
    int settingsSent(const QByteArray &header) const;
    bool instrumentSettled();

    std::unique_ptr<MainWindow> window;
    QTemporaryDir workDir; // the panel's settings file lives in the current directory
    sim::Instrument instrument{devicelink::QuendtModel}; // outlives the testbed
    std::unique_ptr<sim::Testbed> testbed;
    int instrumentDevice = -1;
};

template <class T> T *TestMainWindow::find(const QString &name) const {
    if (name == QLatin1String("MainWindow"))
        return qobject_cast<T *>(window.get());
    return window->findChild<T *>(name);
}

Generator *TestMainWindow::driver(int index) const {
    Generator *drivers[] = {&window->orvexDriver, &window->pylarDriver, &window->quendtDriver};
    return drivers[index];
}

// Only the testbed's ports exist for the windows of this process: constructing
// a window probes ports, and the machine's own ones are neither ours nor quick.
// The instrument is added once and unplugged at once: while no device was ever
// added, listing the ports is as slow as on the machine itself.
void TestMainWindow::initTestCase() {
    QVERIFY(workDir.isValid());
    QVERIFY(QDir::setCurrent(workDir.path()));
    testbed = std::make_unique<sim::Testbed>();
    QVERIFY2(testbed->isValid(), qPrintable(testbed->errorString()));
    instrumentDevice = testbed->addDevice(instrument.usbIdentity(), &instrument);
    QVERIFY(instrumentDevice >= 0);
    testbed->unplug(instrumentDevice);
}

void TestMainWindow::cleanupTestCase() {
    testbed.reset();
}

void TestMainWindow::init() {
    window = std::make_unique<MainWindow>();
}

// The instrument is plugged in only while a row needs it, so every other
// window starts not connected.
void TestMainWindow::cleanup() {
    window.reset();
    if (testbed->isPlugged(instrumentDevice))
        testbed->unplug(instrumentDevice);
}

// Replaces the row's window by one that found the simulated instrument by
// itself, in its power-on state and without a settings file, and shows the
// first poll's values; the lines sent until then are forgotten.
bool TestMainWindow::openConnectedPanel() {
    window.reset();
    QFile::remove(settingsFileName);
    testbed->replug(instrumentDevice);
    instrument.setSilent(false);
    instrument.handleLine("*RST;*CLS");
    window = std::make_unique<MainWindow>();
    window->show();
    if (window->generator != &window->quendtDriver)
        return false;
    QSignalSpy firstPoll(window->generator, &Generator::newFrequency);
    if (!firstPoll.wait(5000))
        return false;
    instrument.clearReceivedLines();
    return true;
}

// Clicks the buttons of the space-separated keys as the operator does.
bool TestMainWindow::press(const QString &keys) {
    for (const QString &key : panelkeys::keysOf(keys)) {
        auto *button = window->findChild<QPushButton *>(keyButton(key));
        if (!button || !button->isEnabled())
            return false;
        button->click();
    }
    return true;
}

// "object.property=value" as the window (or, for the object "instrument", the
// simulated instrument's setting of that query) has it now. The property
// "buttonColour" stands for the colour of a button's Button role.
QString TestMainWindow::showing(const QString &expectation) {
    const QString object = expectation.section(QLatin1Char('.'), 0, 0);
    const QString property =
        expectation.section(QLatin1Char('.'), 1).section(QLatin1Char('='), 0, 0);
    QString value;
    if (object == QLatin1String("instrument")) {
        const QByteArray reply = instrument.setting(property.toLatin1());
        bool isNumber = false;
        const double number = reply.toDouble(&isNumber);
        value = isNumber ? readable(number) : QString::fromLatin1(reply);
    } else if (auto *widget = find<QWidget>(object)) {
        value = property == QLatin1String("buttonColour")
                    ? widget->palette().color(QPalette::Active, QPalette::Button).name()
                    : readable(widget->property(property.toLatin1().constData()));
    } else {
        value = QStringLiteral("<no such object>");
    }
    return object + QLatin1Char('.') + property + QLatin1Char('=') + value;
}

// How many setting commands with this header (all of them for an empty one)
// the instrument received since the panel was opened.
int TestMainWindow::settingsSent(const QByteArray &header) const {
    const QList<QByteArray> lines = instrument.receivedLines();
    return header.isEmpty() ? panelkeys::settingCommands(lines).size()
                            : panelkeys::settingCommands(lines, header).size();
}

// A setting without a read-back is not waited for by the driver.
bool TestMainWindow::instrumentSettled() {
    QByteArray reply;
    return window->generator && window->generator->query("*OPC?", reply);
}

// ---------------------------------------------------------------- the form

void TestMainWindow::widgetTree_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    auto row = [](const QString &name, const char *className, const char *parent) {
        QTest::newRow(qPrintable(name)) << name << className << parent;
    };
    row("centralWidget", "QWidget", "MainWindow");
    row("label_netControl", "QLabel", "centralWidget");
    row("pushButton_TurnOn", "QPushButton", "centralWidget");
    row("frame", "QFrame", "centralWidget");
    for (const char *name : {"label_FreqUnit", "label_Freq", "label_Param", "label_AmpUnit",
                             "label_ParamUnit", "label_Amp"})
        row(name, "QLabel", "frame");
    for (const char *name : {"lcdNumber_Param", "lcdNumber_Amp", "lcdNumber_Freq"})
        row(name, "QLCDNumber", "frame");
    for (int i = 1; i <= 3; ++i)
        row(QStringLiteral("pushButton_Units%1").arg(i), "QPushButton", "frame");
    for (int i = 1; i <= 6; ++i)
        row(QStringLiteral("pushButton_Param%1").arg(i), "QPushButton", "frame");
    for (int i = 0; i <= 9; ++i)
        row(QStringLiteral("pushButton_Num%1").arg(i), "QPushButton", "centralWidget");
    for (const char *name :
         {"pushButton_Clear", "pushButton_Dot", "pushButton_OK", "pushButton_Minus",
          "pushButton_FM", "pushButton_AM", "pushButton_Delta"})
        row(name, "QPushButton", "centralWidget");
    row("frame_3", "QFrame", "centralWidget");
    for (const char *name :
         {"pushButton_Right", "pushButton_Down", "pushButton_Left", "pushButton_Up"})
        row(name, "QPushButton", "frame_3");
    row("menuBar", "QMenuBar", "MainWindow");
    row("mainToolBar", "QToolBar", "MainWindow");
    row("statusBar", "QStatusBar", "MainWindow");
}

void TestMainWindow::widgetTree() {
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    const QList<QWidget *> matches = window->findChildren<QWidget *>(name);
    QCOMPARE(matches.size(), 1);
    QCOMPARE(QString::fromLatin1(matches.first()->metaObject()->className()), className);
    QCOMPARE(matches.first()->parentWidget()->objectName(), parentName);
}

void TestMainWindow::layoutTree_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("ownerName"); // widget it is set on, or enclosing layout
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("verticalSpacing");
    QTest::addColumn<int>("margin");

    auto row = [](const char *name, const char *className, const char *owner,
                  const QStringList &items, int spacing, int verticalSpacing, int margin) {
        QTest::newRow(name) << name << className << owner << items << spacing << verticalSpacing
                            << margin;
    };
    row("horizontalLayout_5", "QHBoxLayout", "centralWidget",
        {"horizontalLayout_Main", "verticalLayout_2"}, 6, 6, 11);
    row("horizontalLayout_Main", "QHBoxLayout", "horizontalLayout_5",
        {"verticalLayout_3", "horizontalLayout_3"}, 6, 6, 0);
    row("verticalLayout_3", "QVBoxLayout", "horizontalLayout_Main",
        {itemSpacer, "label_netControl", "pushButton_TurnOn"}, 6, 6, 0);
    row("horizontalLayout_3", "QHBoxLayout", "horizontalLayout_Main", {"frame", "gridLayout"}, 6, 6,
        0);
    row("verticalLayout", "QVBoxLayout", "frame", {"horizontalLayout", "horizontalLayout_10"}, 6, 6,
        11);
    row("horizontalLayout", "QHBoxLayout", "verticalLayout", {"gridLayout_5", "verticalLayout_6"},
        6, 6, 0);
    row("gridLayout_5", "QGridLayout", "horizontalLayout",
        {"label_FreqUnit", "label_Freq", "label_Param", "label_AmpUnit", "label_ParamUnit",
         "label_Amp", "lcdNumber_Param", "lcdNumber_Amp", "lcdNumber_Freq"},
        0, 0, 0);
    row("verticalLayout_6", "QVBoxLayout", "horizontalLayout",
        {"pushButton_Units1", "pushButton_Units2", "pushButton_Units3"}, 6, 6, 0);
    row("horizontalLayout_10", "QHBoxLayout", "verticalLayout",
        {"pushButton_Param1", "pushButton_Param2", "pushButton_Param3", "pushButton_Param4",
         "pushButton_Param5", "pushButton_Param6"},
        6, 6, 0);
    row("gridLayout", "QGridLayout", "horizontalLayout_3",
        {"pushButton_Num4", "pushButton_Num8", "pushButton_Num6", "pushButton_Clear",
         "pushButton_Num7", "pushButton_Num3", "pushButton_Dot", "pushButton_Num0",
         "pushButton_Num5", "pushButton_Num9", "pushButton_Num1", "pushButton_Num2",
         "pushButton_OK", "pushButton_Minus"},
        6, 4, 0);
    row("verticalLayout_2", "QVBoxLayout", "horizontalLayout_5", {"gridLayout_2", "frame_3"}, 6, 6,
        0);
    row("gridLayout_2", "QGridLayout", "verticalLayout_2",
        {"pushButton_FM", "pushButton_AM", "pushButton_Delta", itemSpacer}, 6, 6, 0);
    row("horizontalLayout_2", "QHBoxLayout", "frame_3", {"gridLayout_3"}, 6, 6, 11);
    row("gridLayout_3", "QGridLayout", "horizontalLayout_2",
        {"pushButton_Right", "pushButton_Down", "pushButton_Left", "pushButton_Up"}, 6, 6, 0);
}

void TestMainWindow::layoutTree() {
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, ownerName);
    QFETCH(QStringList, items);
    QFETCH(int, spacing);
    QFETCH(int, verticalSpacing);
    QFETCH(int, margin);

    auto *layout = find<QLayout>(name);
    QVERIFY(layout);
    QCOMPARE(QString::fromLatin1(layout->metaObject()->className()), className);
    QCOMPARE(layout->parent()->objectName(), ownerName);
    if (auto *owner = qobject_cast<QWidget *>(layout->parent()))
        QCOMPARE(owner->layout(), layout);

    QStringList found;
    for (int i = 0; i < layout->count(); ++i) {
        found << itemName(layout->itemAt(i));
        QCOMPARE(int(layout->itemAt(i)->alignment()), 0);
        if (auto *box = qobject_cast<QBoxLayout *>(layout))
            QCOMPARE(box->stretch(i), 0);
    }
    QCOMPARE(found, items);

    if (auto *grid = qobject_cast<QGridLayout *>(layout)) {
        QCOMPARE(grid->horizontalSpacing(), spacing);
        QCOMPARE(grid->verticalSpacing(), verticalSpacing);
        for (int r = 0; r < grid->rowCount(); ++r)
            QCOMPARE(grid->rowStretch(r), 0);
        for (int c = 0; c < grid->columnCount(); ++c)
            QCOMPARE(grid->columnStretch(c), 0);
    } else {
        QCOMPARE(layout->spacing(), spacing);
    }
    QCOMPARE(layout->contentsMargins(), QMargins(margin, margin, margin, margin));
}

void TestMainWindow::gridCells_data() {
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("columnSpan");

    auto row = [](const char *grid, const QString &item, int r, int c, int span = 1) {
        QTest::newRow(qPrintable(grid + QLatin1Char(' ') + item)) << grid << item << r << c << span;
    };
    const char *readouts[3][3] = {{"label_Freq", "lcdNumber_Freq", "label_FreqUnit"},
                                  {"label_Amp", "lcdNumber_Amp", "label_AmpUnit"},
                                  {"label_Param", "lcdNumber_Param", "label_ParamUnit"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            row("gridLayout_5", readouts[r][c], r, c);
    for (int digit = 1; digit <= 9; ++digit)
        row("gridLayout", QStringLiteral("pushButton_Num%1").arg(digit), (digit - 1) / 3,
            (digit - 1) % 3);
    row("gridLayout", "pushButton_Num0", 3, 0);
    row("gridLayout", "pushButton_Dot", 3, 1);
    row("gridLayout", "pushButton_Clear", 3, 2);
    row("gridLayout", "pushButton_Minus", 4, 0);
    row("gridLayout", "pushButton_OK", 4, 1, 2);
    row("gridLayout_2", "pushButton_FM", 0, 1);
    row("gridLayout_2", "pushButton_Delta", 0, 2);
    row("gridLayout_2", "pushButton_AM", 1, 1);
    row("gridLayout_2", itemSpacer, 1, 2);
    row("gridLayout_3", "pushButton_Up", 0, 1);
    row("gridLayout_3", "pushButton_Left", 1, 0);
    row("gridLayout_3", "pushButton_Right", 1, 2);
    row("gridLayout_3", "pushButton_Down", 2, 1);
}

void TestMainWindow::gridCells() {
    QFETCH(QString, grid);
    QFETCH(QString, item);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, columnSpan);

    auto *layout = find<QGridLayout>(grid);
    QVERIFY(layout);
    int index = -1;
    for (int i = 0; i < layout->count(); ++i)
        if (itemName(layout->itemAt(i)) == item)
            index = i;
    QVERIFY(index >= 0);
    int r = -1, c = -1, rowSpan = 0, colSpan = 0;
    layout->getItemPosition(index, &r, &c, &rowSpan, &colSpan);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rowSpan, 1);
    QCOMPARE(colSpan, columnSpan);
}

void TestMainWindow::modeGridFirstColumnEmpty() {
    auto *grid = find<QGridLayout>("gridLayout_2");
    QVERIFY(grid);
    for (int r = 0; r < grid->rowCount(); ++r)
        QVERIFY(!grid->itemAtPosition(r, 0));
}

void TestMainWindow::spacers_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QSize>("sizeHint");
    QTest::addColumn<int>("horizontalPolicy");
    QTest::addColumn<int>("verticalPolicy");

    QTest::newRow("above the RF button")
        << "verticalLayout_3" << QSize(20, 40) << int(QSizePolicy::Minimum)
        << int(QSizePolicy::Expanding);
    QTest::newRow("below the AM button")
        << "gridLayout_2" << QSize(20, 60) << int(QSizePolicy::Minimum)
        << int(QSizePolicy::Preferred);
}

void TestMainWindow::spacers() {
    QFETCH(QString, layout);
    QFETCH(QSize, sizeHint);
    QFETCH(int, horizontalPolicy);
    QFETCH(int, verticalPolicy);

    auto *owner = find<QLayout>(layout);
    QVERIFY(owner);
    QSpacerItem *spacer = nullptr;
    for (int i = 0; i < owner->count(); ++i)
        if (!spacer)
            spacer = owner->itemAt(i)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), sizeHint);
    QCOMPARE(int(spacer->sizePolicy().horizontalPolicy()), horizontalPolicy);
    QCOMPARE(int(spacer->sizePolicy().verticalPolicy()), verticalPolicy);
}

void TestMainWindow::sizeLimits_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");

    const QSize unlimited(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    auto row = [&](const QString &name, QSize minimum, QSize maximum) {
        QTest::newRow(qPrintable(name)) << name << minimum << maximum;
    };
    row("MainWindow", QSize(1100, 300), QSize(1500, 500));
    for (const char *name : {"lcdNumber_Freq", "lcdNumber_Amp", "lcdNumber_Param"})
        row(name, QSize(35, 40), unlimited);
    for (int i : {1, 2, 3, 4, 6})
        row(QStringLiteral("pushButton_Param%1").arg(i), QSize(0, 40), unlimited);
    row("pushButton_Param5", QSize(0, 0), unlimited);
    for (int i = 0; i <= 9; ++i)
        row(QStringLiteral("pushButton_Num%1").arg(i), QSize(60, 35), unlimited);
    for (const char *name : {"pushButton_Dot", "pushButton_Clear", "pushButton_Minus"})
        row(name, QSize(60, 35), unlimited);
    row("pushButton_OK", QSize(0, 0), unlimited);
    row("pushButton_TurnOn", QSize(0, 40), unlimited);
}

void TestMainWindow::sizeLimits() {
    QFETCH(QString, name);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);

    auto *widget = find<QWidget>(name);
    QVERIFY(widget);
    QCOMPARE(widget->minimumSize(), minimum);
    QCOMPARE(widget->maximumSize(), maximum);
}

void TestMainWindow::windowSizeIsBounded_data() {
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("start") << QSize() << QSize(1100, 300);
    QTest::newRow("too small") << QSize(400, 100) << QSize(1100, 300);
    QTest::newRow("too large") << QSize(3000, 2000) << QSize(1500, 500);
    QTest::newRow("in range") << QSize(1200, 400) << QSize(1200, 400);
}

void TestMainWindow::windowSizeIsBounded() {
    QFETCH(QSize, requested);
    QFETCH(QSize, expected);

    if (requested.isValid())
        window->resize(requested);
    QCOMPARE(window->size(), expected);
}

void TestMainWindow::sizePolicies_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    QTest::addColumn<int>("horizontalStretch");
    QTest::addColumn<int>("verticalStretch");

    auto row = [](const QString &name, QSizePolicy::Policy h, QSizePolicy::Policy v, int hs = 0,
                  int vs = 0) {
        QTest::newRow(qPrintable(name)) << name << int(h) << int(v) << hs << vs;
    };
    const auto fixed = QSizePolicy::Fixed;
    const auto preferred = QSizePolicy::Preferred;
    const auto minimum = QSizePolicy::Minimum;
    row("MainWindow", fixed, fixed);
    for (const char *name :
         {"label_Freq", "label_Amp", "label_Param", "label_FreqUnit", "label_AmpUnit",
          "label_ParamUnit", "lcdNumber_Freq", "lcdNumber_Amp", "lcdNumber_Param"})
        row(name, preferred, preferred, 1, 1);
    for (int i = 1; i <= 3; ++i)
        row(QStringLiteral("pushButton_Units%1").arg(i), preferred, preferred, 0, 1);
    for (int i = 1; i <= 6; ++i)
        row(QStringLiteral("pushButton_Param%1").arg(i), minimum, preferred);
    for (int i = 0; i <= 9; ++i)
        row(QStringLiteral("pushButton_Num%1").arg(i), minimum, preferred);
    for (const char *name : {"pushButton_Dot", "pushButton_Clear", "pushButton_Minus",
                             "pushButton_OK", "pushButton_FM", "pushButton_AM", "pushButton_Delta"})
        row(name, minimum, preferred);
    for (const char *name :
         {"pushButton_Up", "pushButton_Down", "pushButton_Left", "pushButton_Right"})
        row(name, preferred, preferred);
}

void TestMainWindow::sizePolicies() {
    QFETCH(QString, name);
    QFETCH(int, horizontal);
    QFETCH(int, vertical);
    QFETCH(int, horizontalStretch);
    QFETCH(int, verticalStretch);

    auto *widget = find<QWidget>(name);
    QVERIFY(widget);
    const QSizePolicy policy = widget->sizePolicy();
    QCOMPARE(int(policy.horizontalPolicy()), horizontal);
    QCOMPARE(int(policy.verticalPolicy()), vertical);
    QCOMPARE(policy.horizontalStretch(), horizontalStretch);
    QCOMPARE(policy.verticalStretch(), verticalStretch);
}

void TestMainWindow::fonts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family"); // empty: left to the default
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("weight");

    QTest::newRow("MainWindow") << "MainWindow" << QString() << 10 << int(QFont::Normal);
    for (const char *name : {"label_Freq", "label_Amp", "label_Param", "label_FreqUnit",
                             "label_AmpUnit", "label_ParamUnit"})
        QTest::newRow(name) << name << "FakeReceipt" << 16 << 50;
    for (const char *name : {"lcdNumber_Freq", "lcdNumber_Amp", "lcdNumber_Param"})
        QTest::newRow(name) << name << "A.D. MONO" << 10 << int(QFont::Normal);
}

void TestMainWindow::fonts() {
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(int, weight);

    auto *widget = find<QWidget>(name);
    QVERIFY(widget);
    const QFont font = widget->font();
    if (family.isEmpty())
        QVERIFY(!(font.resolve() & QFont::FamilyResolved));
    else
        QCOMPARE(font.family(), family);
    QCOMPARE(font.pointSize(), pointSize);
    QCOMPARE(font.weight(), weight);
    QVERIFY(!font.italic());
}

void TestMainWindow::checkableButtons_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("checkable");

    auto row = [](const QString &name, bool checkable) {
        QTest::newRow(qPrintable(name)) << name << checkable;
    };
    for (const char *name :
         {"pushButton_Param1", "pushButton_Param2", "pushButton_Param3", "pushButton_FM",
          "pushButton_AM", "pushButton_Delta", "pushButton_TurnOn"})
        row(name, true);
    for (const char *name :
         {"pushButton_Param4", "pushButton_Param5", "pushButton_Param6", "pushButton_Units1",
          "pushButton_Units2", "pushButton_Units3", "pushButton_Dot", "pushButton_Clear",
          "pushButton_Minus", "pushButton_OK", "pushButton_Up", "pushButton_Down",
          "pushButton_Left", "pushButton_Right"})
        row(name, false);
    for (int i = 0; i <= 9; ++i)
        row(QStringLiteral("pushButton_Num%1").arg(i), false);
}

void TestMainWindow::checkableButtons() {
    QFETCH(QString, name);
    QFETCH(bool, checkable);

    auto *button = find<QPushButton>(name);
    QVERIFY(button);
    QCOMPARE(button->isCheckable(), checkable);
    QVERIFY(!button->isChecked());
}

void TestMainWindow::captions_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    auto row = [](const QString &name, const QString &text) {
        QTest::newRow(qPrintable(name)) << name << text;
    };
    row("label_netControl", QStringLiteral("Внешнее упр"));
    row("pushButton_TurnOn", QStringLiteral("ВЧ выход"));
    row("label_Freq", QStringLiteral("Частота"));
    row("label_Amp", QStringLiteral("Амплитуда"));
    row("label_Param", QStringLiteral("Ослабление"));
    row("label_FreqUnit", QStringLiteral("МГц"));
    row("label_AmpUnit", QStringLiteral("мВ"));
    row("label_ParamUnit", QStringLiteral("dB"));
    for (int i = 1; i <= 3; ++i)
        row(QStringLiteral("pushButton_Units%1").arg(i), QString());
    row("pushButton_Param1", QStringLiteral("Частота"));
    row("pushButton_Param2", QStringLiteral("Амп"));
    row("pushButton_Param3", QStringLiteral("Ослабление"));
    for (int i = 4; i <= 6; ++i)
        row(QStringLiteral("pushButton_Param%1").arg(i), QString());
    for (int i = 0; i <= 9; ++i)
        row(QStringLiteral("pushButton_Num%1").arg(i), QString::number(i));
    row("pushButton_Dot", QString(QChar(0x02F3)));
    row("pushButton_Clear", QString(QChar(0x0043)));
    row("pushButton_Minus", QString(QChar(0x2014)));
    row("pushButton_OK", QStringLiteral("Применить"));
    row("pushButton_FM", QString(QChar(0x0427)) + QChar(0x041C));
    row("pushButton_AM", QString(QChar(0x0410)) + QChar(0x041C));
    row("pushButton_Delta", QStringLiteral("Шаг"));
    row("pushButton_Up", QString(QChar(0x21E7)));
    row("pushButton_Down", QString(QChar(0x21E9)));
    row("pushButton_Left", QString(QChar(0x21E6)));
    row("pushButton_Right", QString(QChar(0x21E8)));
}

void TestMainWindow::captions() {
    QFETCH(QString, name);
    QFETCH(QString, text);

    auto *widget = find<QWidget>(name);
    QVERIFY(widget);
    const QString shown = widget->property("text").toString();
    QCOMPARE(shown.toUcs4(), text.toUcs4());
}

void TestMainWindow::captionsAreTranslated_data() {
    captions_data();
}

void TestMainWindow::captionsAreTranslated() {
    QFETCH(QString, name);
    QFETCH(QString, text);

    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    window->ui->retranslateUi(window.get());
    QCoreApplication::removeTranslator(&translator);
    const QString shown = find<QWidget>(name)->property("text").toString();
    QCOMPARE(shown, text.isEmpty() ? text : MarkingTranslator::marked(text));
}

void TestMainWindow::readouts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("smallDecimalPoint");

    QTest::newRow("frequency") << "lcdNumber_Freq" << false;
    QTest::newRow("amplitude") << "lcdNumber_Amp" << false;
    QTest::newRow("parameter") << "lcdNumber_Param" << false;
}

void TestMainWindow::readouts() {
    QFETCH(QString, name);
    QFETCH(bool, smallDecimalPoint);

    auto *display = find<QLCDNumber>(name);
    QVERIFY(display);
    QCOMPARE(display->digitCount(), 8);
    QCOMPARE(display->smallDecimalPoint(), smallDecimalPoint);
    QCOMPARE(display->cursor().shape(), Qt::UpArrowCursor);
    QVERIFY(!display->isEnabledTo(display->parentWidget())); // disabled by the form itself
    QCOMPARE(display->value(), 0.0);
    QCOMPARE(display->frameStyle(), 0);
}

void TestMainWindow::frames_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("read-outs and keys") << "frame";
    QTest::newRow("arrows") << "frame_3";
}

void TestMainWindow::frames() {
    QFETCH(QString, name);

    auto *frame = find<QFrame>(name);
    QVERIFY(frame);
    QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
    QCOMPARE(frame->frameShadow(), QFrame::Raised);
}

void TestMainWindow::windowBars() {
    QCOMPARE(window->centralWidget(), find<QWidget>("centralWidget"));
    QCOMPARE(window->menuBar(), find<QMenuBar>("menuBar"));
    QCOMPARE(window->statusBar(), find<QStatusBar>("statusBar"));
    QVERIFY(!window->menuBar()->isDefaultUp());

    auto *toolBar = find<QToolBar>("mainToolBar");
    QVERIFY(toolBar);
    QCOMPARE(window->toolBarArea(toolBar), Qt::TopToolBarArea);
    QCOMPARE(toolBar->contextMenuPolicy(), Qt::DefaultContextMenu);
    QVERIFY(toolBar->acceptDrops());
    QVERIFY(toolBar->actions().isEmpty());
}

// ------------------------------------------------------------ construction

void TestMainWindow::notConnectedState() {
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->windowTitle(), notConnectedTitle);
    QVERIFY(!find<QWidget>("centralWidget")->isEnabled());
    QVERIFY(!find<QWidget>("pushButton_AM")->isVisible());
    QVERIFY(!find<QWidget>("label_netControl")->isVisible());
    QVERIFY(find<QWidget>("pushButton_TurnOn")->isVisible());
}

void TestMainWindow::readoutColours_data() {
    QTest::addColumn<QStringList>("widgets");
    QTest::addColumn<QColor>("lit");
    QTest::addColumn<QColor>("dimmed");

    QTest::newRow("frequency") << QStringList{"label_Freq", "label_FreqUnit", "lcdNumber_Freq"}
                               << QColor(Qt::yellow) << QColor(Qt::darkYellow);
    QTest::newRow("amplitude") << QStringList{"label_Amp", "label_AmpUnit", "lcdNumber_Amp"}
                               << QColor(Qt::green) << QColor(Qt::darkGreen);
    QTest::newRow("parameter") << QStringList{"label_Param", "label_ParamUnit", "lcdNumber_Param"}
                               << QColor(Qt::magenta) << QColor(Qt::darkMagenta);
}

void TestMainWindow::readoutColours() {
    QFETCH(QStringList, widgets);
    QFETCH(QColor, lit);
    QFETCH(QColor, dimmed);

    for (const QString &name : widgets) {
        auto *widget = find<QWidget>(name);
        QVERIFY2(widget, qPrintable(name));
        const QPalette palette = widget->palette();
        QCOMPARE(palette.color(QPalette::Active, QPalette::WindowText), lit);
        QCOMPARE(palette.color(QPalette::Inactive, QPalette::WindowText), lit);
        QCOMPARE(palette.color(QPalette::Disabled, QPalette::WindowText), dimmed);
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            QCOMPARE(palette.brush(group, QPalette::Window).color(), QColor(Qt::black));
            QCOMPARE(palette.brush(group, QPalette::Window).style(), Qt::SolidPattern);
        }
        QVERIFY(widget->autoFillBackground());
    }
}

void TestMainWindow::readoutsDrawnDimmedOnBlack_data() {
    readoutColours_data();
}

// The panel starts disabled, so every read-out draws its dimmed colour on black.
void TestMainWindow::readoutsDrawnDimmedOnBlack() {
    QFETCH(QStringList, widgets);
    QFETCH(QColor, lit);
    QFETCH(QColor, dimmed);

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    for (const QString &name : widgets) {
        const QImage image = find<QWidget>(name)->grab().toImage();
        QCOMPARE(QColor(image.pixel(0, 0)), QColor(Qt::black));
        QVERIFY2(imageHasColour(image, dimmed), qPrintable(name));
        QVERIFY2(!imageHasColour(image, lit), qPrintable(name));
    }
}

void TestMainWindow::rfButtonIsRed() {
    auto *button = find<QPushButton>("pushButton_TurnOn");
    QVERIFY(button);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        QCOMPARE(button->palette().brush(group, QPalette::Button).color(), QColor(Qt::red));
        QCOMPARE(button->palette().brush(group, QPalette::Button).style(), Qt::SolidPattern);
    }
    QVERIFY(button->autoFillBackground());
}

void TestMainWindow::buttonsReachTheirSlotsOnce_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("slot");

    auto row = [](const QString &button, bool checked) {
        const QString slot = QStringLiteral("on_%1_clicked(%2)")
                                 .arg(button, checked ? QStringLiteral("bool") : QString());
        QTest::newRow(qPrintable(button)) << button << slot;
    };
    for (int i = 0; i <= 9; ++i)
        row(QStringLiteral("pushButton_Num%1").arg(i), false);
    for (const char *name :
         {"pushButton_Dot", "pushButton_Minus", "pushButton_Clear", "pushButton_OK",
          "pushButton_Units1", "pushButton_Units2", "pushButton_Units3", "pushButton_Up",
          "pushButton_Down", "pushButton_Left", "pushButton_Right"})
        row(name, false);
    for (int i = 1; i <= 6; ++i)
        row(QStringLiteral("pushButton_Param%1").arg(i), true);
    for (const char *name :
         {"pushButton_TurnOn", "pushButton_Delta", "pushButton_AM", "pushButton_FM"})
        row(name, true);
}

// The connection itself, next to the effect of a click looked at further on:
// exactly one receiver of the click, and it is the slot named after the button.
void TestMainWindow::buttonsReachTheirSlotsOnce() {
    QFETCH(QString, button);
    QFETCH(QString, slot);

    auto *widget = find<QPushButton>(button);
    QVERIFY(widget);
    QCOMPARE(ReceiverCount::of(widget, SIGNAL(clicked(bool))), 1);
    for (const char *other : {SIGNAL(pressed()), SIGNAL(released()), SIGNAL(toggled(bool))})
        QCOMPARE(ReceiverCount::of(widget, other), 0);
    const QByteArray slotCode = QByteArray::number(QSLOT_CODE) + slot.toLatin1();
    QVERIFY(QObject::disconnect(widget, SIGNAL(clicked(bool)), window.get(), slotCode.constData()));
    QCOMPARE(ReceiverCount::of(widget, SIGNAL(clicked(bool))), 0);
}

namespace {

// Each driver signal with the window slot it must reach; disconnecting the
// exact pair succeeds only if that connection exists.
struct DriverRoute {
    const char *name;
    const char *signal;
    std::function<bool(Generator *, MainWindow *)> disconnect;
};

} // namespace

void TestMainWindow::driverSignalsReachTheirSlots_data() {
    QTest::addColumn<int>("driverIndex");
    QTest::addColumn<int>("route");

    const char *drivers[] = {"Orvex", "Pylar", "Quendt"};
    const char *signals_[] = {"error",          "disconnected", "newFrequency", "newAmplitude",
                              "newAttenuation", "newTFm",       "newState",     "netControl"};
    for (int d = 0; d < 3; ++d)
        for (int r = 0; r < 8; ++r)
            QTest::addRow("%s %s", drivers[d], signals_[r]) << d << r;
}

void TestMainWindow::driverSignalsReachTheirSlots() {
    QFETCH(int, driverIndex);
    QFETCH(int, route);

    const DriverRoute routes[] = {
        {"error", SIGNAL(error(QString)),
         [](Generator *g, MainWindow *w) {
             return QObject::disconnect(g, &Generator::error, w, &MainWindow::errorSlot);
         }},
        {"disconnected", SIGNAL(disconnected()),
         [](Generator *g, MainWindow *w) {
             return QObject::disconnect(g, &Generator::disconnected, w,
                                        &MainWindow::generator_disconnected);
         }},
        {"newFrequency", SIGNAL(newFrequency(double)),
         [](Generator *g, MainWindow *w) {
             return QObject::disconnect(g, &Generator::newFrequency, w,
                                        &MainWindow::frequencyChanged);
         }},
        {"newAmplitude", SIGNAL(newAmplitude(double)),
         [](Generator *g, MainWindow *w) {
             return QObject::disconnect(g, &Generator::newAmplitude, w,
                                        &MainWindow::amplitudeChanged);
         }},
        {"newAttenuation", SIGNAL(newAttenuation(double)),
         [](Generator *g, MainWindow *w) {
             return QObject::disconnect(g, &Generator::newAttenuation, w,
                                        &MainWindow::attenuationChanged);
         }},
        {"newTFm", SIGNAL(newTFm(double)),
         [](Generator *g, MainWindow *w) {
             return QObject::disconnect(g, &Generator::newTFm, w, &MainWindow::tFmChanged);
         }},
        {"newState", SIGNAL(newState(bool)),
         [](Generator *g, MainWindow *w) {
             return QObject::disconnect(g, &Generator::newState, w, &MainWindow::stateChanged);
         }},
        {"netControl", SIGNAL(netControl(bool)),
         [](Generator *g, MainWindow *w) {
             return QObject::disconnect(g, &Generator::netControl, w, &MainWindow::netControl);
         }},
    };
    Generator *sender = driver(driverIndex);
    const DriverRoute &expected = routes[route];
    QCOMPARE(ReceiverCount::of(sender, expected.signal), 1);
    QVERIFY(expected.disconnect(sender, window.get()));
    QCOMPARE(ReceiverCount::of(sender, expected.signal), 0);
}

void TestMainWindow::driverReportsShowOnThePanel_data() {
    QTest::addColumn<int>("driverIndex");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QVariant>("argument"); // invalid: the signal has none
    QTest::addColumn<QString>("prepare");   // keys pressed before the report
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("boxes"); // texts of the message boxes that open

    const char *drivers[] = {"Orvex", "Pylar", "Quendt"};
    for (int d = 0; d < 3; ++d) {
        auto row = [&](const char *signal, const QVariant &argument, const char *prepare,
                       const QStringList &shown, const QStringList &boxes = {}) {
            QTest::addRow("%s %s", drivers[d], signal)
                << d << QByteArray(signal) << argument << QString(prepare) << shown << boxes;
        };
        const QString failure = QStringLiteral("%1: прибор не отвечает").arg(drivers[d]);
        row("error", failure, "", {}, {failure});
        row("disconnected", QVariant(), "RF",
            {"MainWindow.windowTitle=" + notConnectedTitle, "centralWidget.enabled=false",
             "pushButton_TurnOn.checked=false", "pushButton_TurnOn.buttonColour=#ff0000"});
        row("newFrequency", 123456789.0, "", {"lcdNumber_Freq.value=123.456789"});
        row("newAmplitude", 0.12345, "", {"lcdNumber_Amp.value=123"});
        row("newAttenuation", 10.0004, "", {"lcdNumber_Param.value=10"});
        row("newTFm", 0.25, "FM P4", {"lcdNumber_Param.value=250"});
        row("newState", true, "",
            {"pushButton_TurnOn.checked=true", "pushButton_TurnOn.buttonColour=#00ff00"});
        row("netControl", true, "", {"label_netControl.visible=true"});
    }
}

// Each driver object's report, emitted while the panel runs connected to the
// simulated instrument (through the Quendt driver), shows on the panel
// whichever driver sends it, and nothing goes back to the instrument.
void TestMainWindow::driverReportsShowOnThePanel() {
    QFETCH(int, driverIndex);
    QFETCH(QByteArray, signal);
    QFETCH(QVariant, argument);
    QFETCH(QString, prepare);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, boxes);

    QVERIFY(openConnectedPanel());
    QVERIFY(press(prepare));
    QVERIFY(instrumentSettled());
    instrument.clearReceivedLines();
    for (const QString &expected : shown)
        QVERIFY2(showing(expected) != expected, qPrintable("already before: " + expected));

    MessageBoxes messageBoxes; // the error box is modal: closed from its timer
    const QGenericArgument carried =
        argument.isValid() ? QGenericArgument(argument.typeName(), argument.constData())
                           : QGenericArgument();
    QVERIFY(QMetaObject::invokeMethod(driver(driverIndex), signal.constData(), Qt::DirectConnection,
                                      carried));

    QCOMPARE(messageBoxes.texts(), boxes);
    QCOMPARE(messageBoxes.modalCount(), boxes.size());
    for (const QString &expected : shown)
        QCOMPARE(showing(expected), expected);
    QVERIFY(instrumentSettled());
    QCOMPARE(settingsSent(QByteArray()), 0);
}

void TestMainWindow::buttonClicksTakeEffectOnce_data() {
    QTest::addColumn<QString>("keys"); // what shows is looked at before the last one
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QByteArray>("command"); // header of the settings counted; empty: all
    QTest::addColumn<int>("sent");

    auto row = [](const QString &name, const char *keys, const QStringList &shown,
                  const char *command = "", int sent = 0) {
        QTest::newRow(qPrintable(name)) << keys << shown << QByteArray(command) << sent;
    };
    // The instrument starts at 100 MHz, 0.1 V, 0 dB, output off.
    for (int digit = 1; digit <= 9; ++digit)
        row(QStringLiteral("pushButton_Num%1").arg(digit),
            qPrintable(QStringLiteral("P1 %1").arg(digit)),
            {QStringLiteral("lcdNumber_Freq.value=%1").arg(digit)});
    row("pushButton_Num0", "P1 1 0", {"lcdNumber_Freq.value=10"});
    row("pushButton_Dot", "P1 1 . 5", {"lcdNumber_Freq.value=1.5"});
    row("pushButton_Minus", "P1 5 -", {"lcdNumber_Freq.value=-5"});
    row("pushButton_Clear", "P1 5 C", {"lcdNumber_Freq.value=0"});
    row("pushButton_OK", "P1 1 2 OK", {"lcdNumber_Freq.enabled=true", "instrument.FREQ?=12000000"},
        "FREQ", 1);
    row("pushButton_Units1", "P1 U1", {"lcdNumber_Freq.value=100000", "label_FreqUnit.text=КГц"});
    row("pushButton_Units2", "P1 U1 U2", {"lcdNumber_Freq.value=100", "label_FreqUnit.text=МГц"});
    row("pushButton_Units3", "P1 U3", {"lcdNumber_Freq.value=0.1", "label_FreqUnit.text=ГГц"});
    row("pushButton_Param1", "P1",
        {"pushButton_Param1.checked=true", "pushButton_Units1.text=КГц"});
    row("pushButton_Param2", "P2",
        {"pushButton_Param2.checked=true", "pushButton_Units1.text=В",
         "pushButton_Units3.text=dBmV"});
    row("pushButton_Param3", "P3", {"pushButton_Param3.checked=true", "pushButton_Units1.text=dB"});
    row("pushButton_Param4", "FM P4",
        {"pushButton_Param4.checked=true", "label_Param.text=Период"});
    row("pushButton_Param5", "FM P5",
        {"pushButton_Param5.checked=true", "pushButton_Units1.text=В"});
    // A sweep from 100 to 200 MHz in 1 MHz steps of 10 ms each.
    row("pushButton_Param6", "FM P2 1 0 0 OK P3 2 0 0 OK P1 1 OK P4 1 0 OK P6",
        {"pushButton_Param6.checked=true", "instrument.FM:STAT?=1", "instrument.FM:STAR?=100000000",
         "instrument.FM:STOP?=200000000"},
        "FM:STAT", 1);
    row("pushButton_TurnOn", "RF",
        {"pushButton_TurnOn.checked=true", "pushButton_TurnOn.buttonColour=#00ff00",
         "instrument.OUTP?=1"},
        "OUTP", 1);
    row("pushButton_Delta", "Delta",
        {"pushButton_Delta.checked=true", "pushButton_Param3.text=", "label_Param.text="});
    row("pushButton_AM", "AM",
        {"pushButton_AM.checked=true", "pushButton_Param6.text=Вкл", "pushButton_Param2.text="});
    row("pushButton_FM", "FM", {"pushButton_FM.checked=true", "pushButton_Param1.text=Шаг скан."});
    row("pushButton_FM, off again", "FM FM",
        {"pushButton_FM.checked=false", "pushButton_Param1.text=Частота"}, "FM:STAT", 1);
    row("pushButton_Up", "Up", {"lcdNumber_Amp.value=1100", "instrument.VOLT?=1.1"}, "VOLT", 1);
    row("pushButton_Down", "Up Down", {"lcdNumber_Amp.value=100", "instrument.VOLT?=0.1"}, "VOLT",
        2);
    row("pushButton_Left", "Left", {"lcdNumber_Freq.value=99", "instrument.FREQ?=99000000"}, "FREQ",
        1);
    row("pushButton_Right", "Right", {"lcdNumber_Freq.value=101", "instrument.FREQ?=101000000"},
        "FREQ", 1);
}

// A click runs its slot once: a digit appears once, Minus negates once, an
// arrow steps once, a command reaches the instrument once.
void TestMainWindow::buttonClicksTakeEffectOnce() {
    QFETCH(QString, keys);
    QFETCH(QStringList, shown);
    QFETCH(QByteArray, command);
    QFETCH(int, sent);

    QVERIFY(openConnectedPanel());
    MessageBoxes messageBoxes;
    QStringList before = panelkeys::keysOf(keys);
    const QString last = before.takeLast();
    QVERIFY(press(before.join(QLatin1Char(' '))));
    QVERIFY(instrumentSettled());
    for (const QString &expected : shown)
        QVERIFY2(showing(expected) != expected, qPrintable("already before: " + expected));

    QVERIFY(press(last));
    QVERIFY(instrumentSettled());
    for (const QString &expected : shown)
        QCOMPARE(showing(expected), expected);
    QCOMPARE(settingsSent(command), sent);
    QCOMPARE(messageBoxes.texts(), QStringList());
}

// Later code and the keyboard filter call the slots by these names.
void TestMainWindow::slotTable() {
    const QStringList expected = {
        "errorSlot(QString)",
        "on_pushButton_Num0_clicked()",
        "on_pushButton_Num1_clicked()",
        "on_pushButton_Clear_clicked()",
        "on_pushButton_Num2_clicked()",
        "on_pushButton_Num3_clicked()",
        "on_pushButton_Num4_clicked()",
        "on_pushButton_Num5_clicked()",
        "on_pushButton_Num6_clicked()",
        "on_pushButton_Num7_clicked()",
        "on_pushButton_Num8_clicked()",
        "on_pushButton_Num9_clicked()",
        "on_pushButton_Dot_clicked()",
        "on_pushButton_OK_clicked()",
        "on_pushButton_Units1_clicked()",
        "on_pushButton_Units2_clicked()",
        "on_pushButton_Units3_clicked()",
        "on_pushButton_TurnOn_clicked(bool)",
        "on_pushButton_Right_clicked()",
        "on_pushButton_Left_clicked()",
        "on_pushButton_Up_clicked()",
        "on_pushButton_Down_clicked()",
        "on_pushButton_Delta_clicked(bool)",
        "on_pushButton_AM_clicked(bool)",
        "on_pushButton_FM_clicked(bool)",
        "generator_disconnected()",
        "autoconnection()",
        "on_listWidget_SelectDevice_clicked(QModelIndex)",
        "selectDevice()",
        "frequencyChanged(double)",
        "amplitudeChanged(double)",
        "attenuationChanged(double)",
        "stateChanged(bool)",
        "netControl(bool)",
        "tFmChanged(double)",
        "setGrid1KHz()",
        "setGrid2KHz()",
        "setGrid5KHz()",
        "setGrid10KHz()",
        "setUpChirpModulation()",
        "setDownChirpModulation()",
        "setFhssModulation()",
        "on_pushButton_Param1_clicked(bool)",
        "on_pushButton_Param2_clicked(bool)",
        "on_pushButton_Param3_clicked(bool)",
        "on_pushButton_Param4_clicked(bool)",
        "on_pushButton_Param5_clicked(bool)",
        "on_pushButton_Minus_clicked()",
        "on_pushButton_Param6_clicked(bool)",
        "createNetConfingWindow()",
        "saveNetConfig()",
        "getInfo()",
    };
    const QMetaObject *meta = window->metaObject();
    QCOMPARE(QByteArray(meta->className()), QByteArray("MainWindow"));
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
    QStringList slots_;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot); // no signals of its own
        QCOMPARE(method.access(),
                 i == meta->methodOffset() ? QMetaMethod::Public : QMetaMethod::Private);
        slots_ << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(slots_, expected);
}

// ------------------------------------------------------------------- menus

void TestMainWindow::menuTree() {
    const QList<QAction *> bar = window->menuBar()->actions();
    QCOMPARE(bar.size(), 1);
    QMenu *settings = bar.first()->menu();
    QVERIFY(settings);
    QCOMPARE(settings->title(), QStringLiteral("Настройки"));
    QCOMPARE(texts(settings->actions()),
             QStringList({"Вид ЧМ", "Сетка частоты", "Удаленное управление", "Справка",
                          "Управление  выходным уровнем"}));

    const QList<QAction *> entries = settings->actions();
    QVERIFY(entries[0]->menu());
    QCOMPARE(texts(entries[0]->menu()->actions()), QStringList({"ЛЧМ вверх", "ЛЧМ вниз", "ППРЧ"}));
    QVERIFY(entries[1]->menu());
    QCOMPARE(texts(entries[1]->menu()->actions()),
             QStringList({"Сетка 1КГц", "Сетка 2КГц", "Сетка 5КГц", "Сетка 10КГц"}));
    QVERIFY(!entries[2]->menu());
    QVERIFY(!entries[3]->menu());
    QVERIFY(entries[4]->menu());
    QCOMPARE(texts(entries[4]->menu()->actions()),
             QStringList({"Сохранение уровня амлитуды", "Сохранение уровня ослабления"}));
}

void TestMainWindow::actions_data() {
    QTest::addColumn<QString>("submenu"); // empty: directly in the settings menu
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("statusTip");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QStringList>("group");

    const QStringList grid = {"Сетка 1КГц", "Сетка 2КГц", "Сетка 5КГц", "Сетка 10КГц"};
    const QStringList fmKind = {"ЛЧМ вверх", "ЛЧМ вниз", "ППРЧ"};
    const QString gridMenu = QStringLiteral("Сетка частоты");
    const QString fmMenu = QStringLiteral("Вид ЧМ");
    const QString levelMenu = QStringLiteral("Управление  выходным уровнем");
    for (const char *step : {"1", "2", "5", "10"}) {
        const QString text = QStringLiteral("Сетка %1КГц").arg(step);
        QTest::newRow(qPrintable(text))
            << gridMenu << text << QStringLiteral("Округлять частоты до %1КГц").arg(step) << true
            << (QString(step) == "10") << grid;
    }
    QTest::newRow("chirp up")
        << fmMenu << "ЛЧМ вверх"
        << " Включить дискретную линейную частотную модуляцию от низких частот к верхним" << true
        << true << fmKind;
    QTest::newRow("chirp down")
        << fmMenu << "ЛЧМ вниз"
        << "Включить дискретную линейную частотную модуляцию от верхних частот к низким" << true
        << false << fmKind;
    QTest::newRow("hopping") << fmMenu << "ППРЧ"
                             << "Включить псевдослучайную перестройку радио частоты" << true
                             << false << fmKind;
    QTest::newRow("remote control")
        << QString() << "Удаленное управление" << QString() << false << false << QStringList();
    QTest::newRow("about") << QString() << "Справка" << QString() << false << false
                           << QStringList();
    QTest::newRow("amplitude level") << levelMenu << "Сохранение уровня амлитуды" << QString()
                                     << false << false << QStringList();
    QTest::newRow("attenuation level") << levelMenu << "Сохранение уровня ослабления" << QString()
                                       << false << false << QStringList();
}

void TestMainWindow::actions() {
    QFETCH(QString, submenu);
    QFETCH(QString, text);
    QFETCH(QString, statusTip);
    QFETCH(bool, checkable);
    QFETCH(bool, checked);
    QFETCH(QStringList, group);

    const QMenu *menu = window->menuBar()->actions().first()->menu();
    if (!submenu.isEmpty()) {
        QAction *entry = actionByText(menu, submenu);
        QVERIFY(entry);
        menu = entry->menu();
    }
    QAction *action = actionByText(menu, text);
    QVERIFY(action);
    QCOMPARE(action->statusTip(), statusTip);
    QCOMPARE(action->isCheckable(), checkable);
    QCOMPARE(action->isChecked(), checked);
    QVERIFY(action->shortcut().isEmpty());
    QVERIFY(action->icon().isNull());
    if (group.isEmpty()) {
        QVERIFY(!action->actionGroup());
    } else {
        QVERIFY(action->actionGroup());
        QVERIFY(action->actionGroup()->isExclusive());
        QCOMPARE(texts(action->actionGroup()->actions()), group);
    }
    // The status bar shows the tip while the pointer rests on the action.
    window->statusBar()->showMessage(QStringLiteral("-"));
    action->showStatusText(window.get());
    QCOMPARE(window->statusBar()->currentMessage(), statusTip);
}

void TestMainWindow::exclusiveGroups_data() {
    QTest::addColumn<QString>("submenu");
    QTest::addColumn<int>("picked");

    QTest::newRow("FM kind: chirp up again") << "Вид ЧМ" << 0;
    QTest::newRow("FM kind: chirp down") << "Вид ЧМ" << 1;
    QTest::newRow("FM kind: hopping") << "Вид ЧМ" << 2;
    QTest::newRow("grid: 1 kHz") << "Сетка частоты" << 0;
    QTest::newRow("grid: 5 kHz") << "Сетка частоты" << 2;
    QTest::newRow("grid: 10 kHz again") << "Сетка частоты" << 3;
}

// Picking an action, even the checked one, leaves exactly that one checked.
void TestMainWindow::exclusiveGroups() {
    QFETCH(QString, submenu);
    QFETCH(int, picked);

    const QMenu *settings = window->menuBar()->actions().first()->menu();
    QAction *entry = actionByText(settings, submenu);
    QVERIFY(entry && entry->menu());
    const QList<QAction *> choices = entry->menu()->actions();
    choices[picked]->trigger();
    for (int i = 0; i < choices.size(); ++i)
        QCOMPARE(choices[i]->isChecked(), i == picked);
}

void TestMainWindow::aboutOpensANewWindowEachTime() {
    const QMenu *settings = window->menuBar()->actions().first()->menu();
    QAction *aboutAction = actionByText(settings, QStringLiteral("Справка"));
    QVERIFY(aboutAction);
    aboutAction->trigger();
    QWidget *first = window->infoWindow;
    aboutAction->trigger();
    QWidget *second = window->infoWindow;
    QVERIFY(first && second && first != second);

    const QList<QWidget *> open = visibleWindowsTitled(aboutTitle);
    QCOMPARE(open.size(), 2);
    for (QWidget *about : open) {
        QVERIFY(!about->parentWidget());
        QCOMPARE(about->minimumSize(), QSize(250, 150));
        QCOMPARE(about->maximumSize(), QSize(400, 400));
        QCOMPARE(about->size(), QSize(250, 150));
        const QList<QLabel *> labels = about->findChildren<QLabel *>();
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first()->text(), QStringLiteral("Версия программы: 2.1.1"));
        QVERIFY(qobject_cast<QVBoxLayout *>(about->layout()));
    }
    QVERIFY(!QApplication::activeModalWidget());
    for (QWidget *about : open)
        delete about;
}

void TestMainWindow::closedAboutWindowIsDeleted() {
    const QMenu *settings = window->menuBar()->actions().first()->menu();
    actionByText(settings, QStringLiteral("Справка"))->trigger();
    QPointer<QWidget> about = window->infoWindow;
    QVERIFY(about);
    about->close();
    QTRY_VERIFY(about.isNull());
    QVERIFY(!window->infoWindow);
}

void TestMainWindow::driverErrorOpensModalBox_data() {
    QTest::addColumn<int>("driverIndex");
    QTest::addColumn<QString>("message");

    const char *drivers[] = {"Orvex", "Pylar", "Quendt"};
    for (int d = 0; d < 3; ++d) {
        QTest::addRow("%s, text", drivers[d]) << d << QStringLiteral("Прибор не отвечает");
        QTest::addRow("%s, empty text", drivers[d]) << d << QString();
    }
}

// No driver is selected yet: an error from any of them still opens the box.
void TestMainWindow::driverErrorOpensModalBox() {
    QFETCH(int, driverIndex);
    QFETCH(QString, message);

    bool seen = false;
    QString text = QStringLiteral("unset"), title;
    bool modal = false;
    int buttons = 0;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QTimer inspect;
    inspect.setSingleShot(true);
    connect(&inspect, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = true;
        text = box->text();
        title = box->windowTitle();
        modal = box->isModal() && box->isVisible();
        buttons = box->buttons().size();
        icon = box->icon();
        box->accept();
    });
    inspect.start(0);
    emit driver(driverIndex)->error(message);

    QVERIFY(seen);
    QCOMPARE(text, message);
    QCOMPARE(title, QStringLiteral("Ошибка"));
    QVERIFY(modal);
    QCOMPARE(buttons, 1);
    QCOMPARE(icon, QMessageBox::NoIcon);
    QVERIFY(!QApplication::activeModalWidget());
}

// A second error while the box runs modally replaces the text of the open box
// and returns at once.
void TestMainWindow::errorWhileBoxIsOpenReplacesText() {
    bool secondReturned = false;
    QString textAfterSecond;
    int boxesOpen = 0;
    QTimer inspect;
    inspect.setSingleShot(true);
    connect(&inspect, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        emit driver(2)->error(QStringLiteral("второе"));
        secondReturned = true;
        textAfterSecond = box->text();
        boxesOpen = visibleWindowsTitled(QStringLiteral("Ошибка")).size();
        box->accept();
    });
    inspect.start(0);
    emit driver(0)->error(QStringLiteral("первое"));

    QVERIFY(secondReturned);
    QCOMPARE(textAfterSecond, QStringLiteral("второе"));
    QCOMPARE(boxesOpen, 1);
}

// ---------------------------------------------------------- stop requests

void TestMainWindow::stopSignalIsDelivered_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestMainWindow::stopSignalIsDelivered() {
    QFETCH(int, signalNumber);

    struct sigaction before = {};
    sigaction(signalNumber, nullptr, &before);
    {
        ShutdownSignals watcher;
        QSignalSpy received(&watcher, &ShutdownSignals::received);
        QCOMPARE(raise(signalNumber), 0);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toInt(), signalNumber);
    }
    struct sigaction after = {};
    sigaction(signalNumber, nullptr, &after);
    QCOMPARE(reinterpret_cast<void *>(after.sa_handler),
             reinterpret_cast<void *>(before.sa_handler));
}

void TestMainWindow::stopSignalEndsPanelNormally_data() {
    stopSignalIsDelivered_data();
}

namespace {

// Runs the panel ($0) from a shell inside the testbed, which stops serving the
// instrument as soon as its command ends: the shell stays until the test
// creates the release mark (or a minute has passed), so the instrument can be
// asked after the panel has gone. The panel's process id and exit status go
// to files in the directory $1.
const char panelInShell[] =
    "\"$0\" & echo $! > \"$1/pid.new\" && mv \"$1/pid.new\" \"$1/pid\"; "
    "wait $!; status=$?; echo $status > \"$1/status.new\" && mv \"$1/status.new\" \"$1/status\"; "
    "i=0; while [ ! -e \"$1/release\" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done; "
    "exit $status";

QByteArray fileText(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// One command to the testbed's control socket; its answer line.
QByteArray testbedAnswer(QLocalSocket &control, const QByteArray &command) {
    control.write(command + '\n');
    control.waitForBytesWritten(3000);
    while (!control.canReadLine() && control.waitForReadyRead(5000)) {
    }
    return control.readLine().trimmed();
}

} // namespace

// The panel process leaves its event loop and returns from main, which takes
// the window apart, instead of being killed by the signal: the settings file
// is written and the instrument's output is switched off.
void TestMainWindow::stopSignalEndsPanelNormally() {
    QFETCH(int, signalNumber);

    QTemporaryDir panelDir; // the panel keeps its settings file in its working directory
    QTemporaryDir benchDir; // the control socket and the shell's files
    QVERIFY(panelDir.isValid() && benchDir.isValid());
    const QString socketPath = benchDir.filePath(QStringLiteral("control"));
    const QString pidPath = benchDir.filePath(QStringLiteral("pid"));
    const QString statusPath = benchDir.filePath(QStringLiteral("status"));
    QProcess bench;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    bench.setProcessEnvironment(environment);
    bench.setWorkingDirectory(panelDir.path());
    bench.start(QStringLiteral(RFGEN_TESTBED_PATH),
                {"--model", "quendt", "--control", socketPath, "--", "/bin/sh", "-c", panelInShell,
                 QStringLiteral(RFPANEL_PATH), benchDir.path()});
    QVERIFY(bench.waitForStarted(10000));
    auto releaseShell = [&] {
        QFile(benchDir.filePath(QStringLiteral("release"))).open(QIODevice::WriteOnly);
    };
    qint64 panelPid = 0;
    const auto cleanUp = qScopeGuard([&] {
        // A panel left running by a failed check would outlive the testbed.
        if (panelPid > 0 && !QFile::exists(statusPath))
            ::kill(pid_t(panelPid), SIGKILL);
        releaseShell();
        bench.waitForFinished(20000);
    });

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidPath), 20000);
    panelPid = fileText(pidPath).toLongLong();
    QVERIFY(panelPid > 0);
    // The driver logs the link: an answer means the panel has bound the instrument.
    QByteArray log;
    auto instrumentAnswered = [&] {
        log += bench.readAllStandardError();
        return log.contains(" >> ");
    };
    QTRY_VERIFY2_WITH_TIMEOUT(instrumentAnswered(), log.constData(), 20000);
    const quint64 bit = quint64(1) << (signalNumber - 1);
    QTRY_VERIFY_WITH_TIMEOUT((caughtSignals(panelPid) & bit) != 0, 20000);

    QLocalSocket control;
    control.connectToServer(socketPath);
    QVERIFY(control.waitForConnected(5000));
    QCOMPARE(testbedAnswer(control, "set 0 OUTP ON"), QByteArray("ok"));
    QCOMPARE(testbedAnswer(control, "get 0 OUTP?"), QByteArray("ok 1"));

    QCOMPARE(::kill(pid_t(panelPid), signalNumber), 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(statusPath), 20000);
    QCOMPARE(fileText(statusPath), QByteArray("0")); // a signal's death would read 128 + N
    QCOMPARE(testbedAnswer(control, "get 0 OUTP?"), QByteArray("ok 0"));
    QVERIFY(QFile::exists(panelDir.filePath(settingsFileName)));

    releaseShell();
    QVERIFY(bench.waitForFinished(20000));
    QCOMPARE(bench.exitStatus(), QProcess::NormalExit);
    QCOMPARE(bench.exitCode(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
