// Finding the instrument, binding its driver and retrying.
#include "app/mainwindow.h"

void MainWindow::generator_disconnected() {}

void MainWindow::autoconnection() {}

void MainWindow::on_listWidget_SelectDevice_clicked(const QModelIndex &) {}

void MainWindow::selectDevice() {}

void MainWindow::timerEvent(QTimerEvent *event) {
    QMainWindow::timerEvent(event);
}
