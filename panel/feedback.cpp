// The RF output switch and the values the instrument reports.
#include "app/mainwindow.h"

void MainWindow::on_pushButton_TurnOn_clicked(bool) {}

void MainWindow::frequencyChanged(double) {}

void MainWindow::amplitudeChanged(double) {}

void MainWindow::attenuationChanged(double) {}

void MainWindow::stateChanged(bool) {}

void MainWindow::tFmChanged(double) {}
