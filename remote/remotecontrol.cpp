// The remote-control window and indicator.
#include "app/mainwindow.h"

void MainWindow::netControl(bool) {}

void MainWindow::createNetConfingWindow() {}

void MainWindow::saveNetConfig() {}
