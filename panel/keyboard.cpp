// Keyboard control of the panel.
#include "app/mainwindow.h"

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    return QMainWindow::eventFilter(watched, event);
}
