#pragma once

#include "journal/journalwindow.h"
#include "link/devicelink.h"
#include "setups.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QModelIndex>
#include <QString>
#include <QVariantMap>

#include <vector>

class QAction;
class QActionGroup;
class QCheckBox;
class QLCDNumber;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSettings;

namespace Ui {
class MainWindow;
}

// The front panel of the instrument: owns the form, the three instrument
// drivers, the error box, the menus and every panel value. Its member functions
// live in the directory of the concern they serve (panel/, link/, remote/,
// settings/); this directory holds construction, destruction and the menus.
class MainWindow : public QMainWindow {
    Q_OBJECT

    // The tests' one rig reads the panel's state.
    friend class Rig;

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void errorSlot(QString e);

protected:
    void timerEvent(QTimerEvent *event) override;

private slots:
    void on_pushButton_Num0_clicked();
    void on_pushButton_Num1_clicked();
    void on_pushButton_Clear_clicked();
    void on_pushButton_Num2_clicked();
    void on_pushButton_Num3_clicked();
    void on_pushButton_Num4_clicked();
    void on_pushButton_Num5_clicked();
    void on_pushButton_Num6_clicked();
    void on_pushButton_Num7_clicked();
    void on_pushButton_Num8_clicked();
    void on_pushButton_Num9_clicked();
    void on_pushButton_Dot_clicked();
    void on_pushButton_OK_clicked();
    void on_pushButton_Units1_clicked();
    void on_pushButton_Units2_clicked();
    void on_pushButton_Units3_clicked();
    void on_pushButton_TurnOn_clicked(bool checked);
    void on_pushButton_Right_clicked();
    void on_pushButton_Left_clicked();
    void on_pushButton_Up_clicked();
    void on_pushButton_Down_clicked();
    void on_pushButton_Delta_clicked(bool checked);
    void on_pushButton_AM_clicked(bool checked);
    void on_pushButton_FM_clicked(bool checked);
    void generator_disconnected();
    void autoconnection();
    void on_listWidget_SelectDevice_clicked(const QModelIndex &index);
    void selectDevice();
    void frequencyChanged(double freq_Hz);
    void amplitudeChanged(double amp_V);
    void attenuationChanged(double att);
    void stateChanged(bool on);
    void netControl(bool on);
    void tFmChanged(double tFm_s);
    void controlLockChanged();
    void setGrid1KHz();
    void setGrid2KHz();
    void setGrid5KHz();
    void setGrid10KHz();
    void setUpChirpModulation();
    void setDownChirpModulation();
    void setFhssModulation();
    void on_pushButton_Param1_clicked(bool checked);
    void on_pushButton_Param2_clicked(bool checked);
    void on_pushButton_Param3_clicked(bool checked);
    void on_pushButton_Param4_clicked(bool checked);
    void on_pushButton_Param5_clicked(bool checked);
    void on_pushButton_Minus_clicked();
    void on_pushButton_Param6_clicked(bool checked);
    void createNetConfingWindow();
    void saveNetConfig();
    void getInfo();
    void showJournal();
    void askAndSaveSetup();
    void askAndDeleteSetup();
    void refreshSetupsMenu();

private:
    // Construction and destruction (app/mainwindow.cpp).
    void setStartValues();
    void colourDisplays();
    void connectDriver(Generator &driver);

    // Menus (app/menus.cpp).
    void createActions();
    void createMenus();
    QAction *createAction(const QString &text, const QString &statusTip, bool checkable,
                          void (MainWindow::*target)());
    void setAmplitudeLevelControl();
    void setAttenuationLevelControl();

    // Panel state and display (panel/display.cpp).
    double toBaseUnit(double value, int unit);
    double fromBaseUnit(double value, int unit);
    double activeValueInBase(int unit);
    void displayValue(double value, int unit);
    void clearActive();
    void showPanelMessage(const QString &text);

    // Keypad (panel/keypad.cpp).
    void enterDigit(int digit);
    // Ends any entry in progress: the next digit starts a new integer part.
    void resetEntry();
    QString continuationText(double value) const;
    bool fitsActiveDisplay(const QString &text) const;
    bool sendToInstrument(bool (Generator::*set)(double &), double &value, double &member);
    void commitNormal();
    void commitDelta();
    void commitFm();
    void pressUnitKey(int key, const QPushButton *button);
    bool applyUnitKey(int key, bool committed);
    void setUnit(int &member, int code);
    void setLevelUnit(int code);

    // Parameter keys (panel/paramkeys.cpp).
    void fitReadoutTexts();
    bool isParamChecked(int number) const;
    bool levelHeldAsAmplitude();
    void deselectOtherParams(int number);
    void setUnitKeyTexts(const char *first, const char *second, const char *third);
    void setActiveReadout(QLCDNumber *display, QLabel *unitLabel);
    void makeActive(QLCDNumber *display, QLabel *unitLabel, int unit);
    void selectOnParamDisplay(const QString &caption, double value, int unit);
    void redrawAndRelease(QLCDNumber *display, QLabel *unitLabel, double value, int unit);
    void selectLevel();
    void releaseLevel();
    void startSweep();
    void redrawSelectedSweepParameter();

    // Stepping and saving the active display (panel/stepping.cpp).
    void pushActiveDisplay();
    void popActiveDisplay();
    void restoreActiveDisplay();
    int unitOfCheckedParameter(int current);
    void takeOverDisplay(QLCDNumber *display, QLabel *unitLabel);
    void abandonEntryOn(const QLCDNumber *display);
    void stepLevel(double direction);
    void stepAttenuation(double direction);
    void stepAmplitude(double direction);
    void stepFrequency(double direction);
    void setGrid(int index);

    // Output switch and instrument reports (panel/feedback.cpp).
    void paintRfSwitch(bool on);
    void showReport(QLCDNumber *display, QLabel *unitLabel, double value, int unit);

    // Modes and FM kind (panel/modes.cpp).
    void resetPanelMode();
    void leaveFmMode();
    void enterMode(int mode);
    void setParameterRow(int mode);
    void fitParameterKeys();
    void blankParameterDisplay();
    void setFmKind(int kind);

    // Keyboard control (panel/keyboard.cpp).
    void actOnKey(int key);
    void showReadoutCaptions();

    // Settings file (settings/settingsfile.cpp).
    void saveSettings();
    void loadSettings();
    void writePanelValues(QVariantMap &file) const;
    void writeDriverSettings(QVariantMap &file) const;
    void readPanelValues(const QSettings &file);
    void applyDriverSettings(const QSettings &file);
    void markDriverChoicesInMenus();
    void showLoadedValues();

    // Saved set-ups (settings/setups.cpp).
    void createSetupsMenu();
    void saveSetupAsked(const rfgen::setups::Setup &setup);
    bool writeSetup(const QString &name, const rfgen::setups::Setup &setup);
    rfgen::setups::Setup panelSetup() const;
    void recallSetup(const QString &name);
    void takePanelKeys(const QMap<QString, QString> &keys);
    void showRecalled(const rfgen::setups::Setup &setup, const rfgen::setups::Recall &recall);
    void showRecalledValue(QLCDNumber *display, QLabel *unitLabel, double value, int unit,
                           bool accepted);
    QString refusedText(const QList<rfgen::setups::Part> &refused) const;
    static QString checkPanelKey(const QString &key, const QString &value);
    // The panel's own keys of a set-up: a unit code or a number member each.
    struct PanelKey;
    static const std::vector<PanelKey> &panelKeys();

    // Device selection and connection (link/connection.cpp).
    void bindDriver(int model, QSerialPortInfo &port);
    void takeDriverChoices(Generator &from);
    void retryConnection();
    void startRetryTimer(int intervalMs);
    void stopRetryTimer();
    void buildPortListWindow();
    bool findListedPort(const QModelIndex &index, QSerialPortInfo &port) const;
    void portListClosed();
    void showOutputOff();
    QString notConnectedTitle() const;

    // Remote control (remote/remotecontrol.cpp).
    void buildNetConfigWindow();
    void refreshNetConfigFields();
    void applyAccessRules();
    // A remote client holds the instrument's lock: the panel sends nothing
    // that would change the instrument, but switching the output off.
    bool controlLocked() const;
    bool keepSweepShown(QPushButton *modeKey, bool checked);

    QMessageBox errorBox;
    Ui::MainWindow *ui;
    Generator *generator;
    Orvex orvexDriver;
    Pylar pylarDriver;
    Quendt quendtDriver;
    QWidget *selectDeviceWindow = nullptr;
    QWidget *infoWindow = nullptr;
    QWidget *netConfigWindow = nullptr;
    // Records every exchange with the instrument, whether its window is open or not.
    CommandJournal *journal = nullptr;
    JournalWindow *journalWindow = nullptr;
    QLineEdit *tcpPortEdit = nullptr;
    QCheckBox *serverCheckBox = nullptr;
    QCheckBox *loopbackCheckBox = nullptr;
    // The server serves this computer only (kept in the settings file).
    bool loopbackOnly = false;
    QMenu *settingsMenu = nullptr;
    QMenu *fmKindMenu = nullptr;
    QMenu *levelControlMenu = nullptr;
    QAction *grid1KHzAction = nullptr;
    QAction *grid2KHzAction = nullptr;
    QAction *grid5KHzAction = nullptr;
    QAction *grid10KHzAction = nullptr;
    QActionGroup *gridGroup = nullptr;
    QAction *upChirpAction = nullptr;
    QAction *downChirpAction = nullptr;
    QAction *fhssAction = nullptr;
    QActionGroup *fmKindGroup = nullptr;
    QAction *netControlAction = nullptr;
    QAction *journalAction = nullptr;
    QAction *infoAction = nullptr;
    QAction *amplitudeLevelAction = nullptr;
    QMenu *setupsMenu = nullptr;
    QAction *attenuationLevelAction = nullptr;
    std::vector<QPushButton *> paramButtons;
    std::vector<QLCDNumber *> displayStack;
    std::vector<QLabel *> unitLabelStack;
    QString titleBase;
    int activeUnit;
    double frequency = 0.0;
    int frequencyUnit = 0;
    double amplitude = 0.0;
    int amplitudeUnit = 0;
    double attenuation = 0.0;
    double attenuationUnit = 0.0;
    double amplitudeStep = 0.0;
    int amplitudeStepUnit = 0;
    double frequencyStep = 0.0;
    int frequencyStepUnit = 0;
    double fFmStart = 0.0;
    int fFmStartUnit = 0;
    double fFmStop = 0.0;
    int fFmStopUnit = 0;
    double fFmStep = 0.0;
    int fFmStepUnit = 0;
    double tFm = 0.0;
    int tFmUnit = 0;
    QLCDNumber *activeDisplay;
    QLabel *activeUnitLabel;
    int panelMode;
    int autoConnectTimerId;
    int entryState;
    bool minusPending;
    QString entryText;

    // Settings file (settings/settingsfile.cpp): only a run that has read the
    // file writes the panel values back, so a run without an instrument never
    // replaces the operator's stored values with start values.
    bool settingsLoaded = false;
    // The file in the settings folder belongs to someone else: it is neither
    // read nor written.
    bool settingsForeign = false;

    // The attenuation on the parameter row is what the instrument holds (its
    // last setting was not refused); normal mode lights the row only then.
    bool attenuationConfirmed = true;

    // Device selection and connection (link/connection.cpp): the port list is
    // open and waiting for the operator's choice.
    bool choosingPort = false;
    // While searching: why ports the search found could not be used.
    QLabel *searchReason = nullptr;
    // Which remote client holds the instrument's lock, if one does.
    QLabel *lockNotice = nullptr;
};
