// The settings file kept between runs.
#include "app/mainwindow.h"

void MainWindow::saveSettings() {}

void MainWindow::loadSettings() {}
