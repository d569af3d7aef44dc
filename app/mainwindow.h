#pragma once

#include "link/devicelink.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QModelIndex>
#include <QString>

#include <vector>

class QAction;
class QActionGroup;
class QCheckBox;
class QLCDNumber;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace Ui {
class MainWindow;
}

// The front panel of the instrument: owns the form, the three instrument
// drivers, the error box, the menus and every panel value. Its member functions
// live in the directory of the concern they serve (panel/, link/, remote/,
// settings/); this directory holds construction, destruction and the menus.
class MainWindow : public QMainWindow {
    Q_OBJECT

    friend class TestMainWindow;

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

    // Settings file (settings/settingsfile.cpp).
    void saveSettings();
    void loadSettings();

    QMessageBox errorBox;
    Ui::MainWindow *ui;
    Generator *generator;
    Orvex orvexDriver;
    Pylar pylarDriver;
    Quendt quendtDriver;
    QWidget *selectDeviceWindow = nullptr;
    QWidget *infoWindow = nullptr;
    QWidget *netConfigWindow = nullptr;
    QLineEdit *tcpPortEdit = nullptr;
    QCheckBox *serverCheckBox = nullptr;
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
    QAction *infoAction = nullptr;
    QAction *amplitudeLevelAction = nullptr;
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
};
