// The mode keys and the FM kind.
#include "app/mainwindow.h"

void MainWindow::on_pushButton_Delta_clicked(bool) {}

void MainWindow::on_pushButton_AM_clicked(bool) {}

void MainWindow::on_pushButton_FM_clicked(bool) {}

void MainWindow::setUpChirpModulation() {}

void MainWindow::setDownChirpModulation() {}

void MainWindow::setFhssModulation() {}
