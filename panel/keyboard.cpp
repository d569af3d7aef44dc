// Keyboard control of the panel: the keypad keys and W/A/S/D for the arrows.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include <QDebug>
#include <QEvent>
#include <QKeyEvent>

// Watches the central widget only. Key presses go on to it after acting, so
// the filter never hides a key from the panel.
bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    if (!ui || watched != ui->centralWidget)
        return false;
    switch (event->type()) {
    case QEvent::WindowDeactivate:
        showReadoutCaptions();
        return true;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        qDebug() << QString::number(key);
        actOnKey(key);
        return false;
    }
    default:
        return false;
    }
}

void MainWindow::showReadoutCaptions() {
    for (QLabel *caption : {ui->label_Amp, ui->label_Freq, ui->label_Param}) {
        caption->setEnabled(true);
        caption->show();
    }
}

// Only the key code counts: Shift, Ctrl and the keypad modifier make no
// difference, so the numeric keypad types like the main keyboard.
void MainWindow::actOnKey(int key) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        enterDigit(key - Qt::Key_0);
        return;
    }
    switch (key) {
    case Qt::Key_Period:
        on_pushButton_Dot_clicked();
        break;
    case Qt::Key_Minus:
        on_pushButton_Minus_clicked();
        break;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        on_pushButton_Clear_clicked();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        on_pushButton_OK_clicked();
        break;
    case Qt::Key_W:
        on_pushButton_Up_clicked();
        break;
    case Qt::Key_S:
        on_pushButton_Down_clicked();
        break;
    case Qt::Key_A:
        on_pushButton_Left_clicked();
        break;
    case Qt::Key_D:
        on_pushButton_Right_clicked();
        break;
    default:
        break;
    }
}
