// The parameter keys: what the keypad edits in each mode.
#include "app/mainwindow.h"

void MainWindow::on_pushButton_Param1_clicked(bool) {}

void MainWindow::on_pushButton_Param2_clicked(bool) {}

void MainWindow::on_pushButton_Param3_clicked(bool) {}

void MainWindow::on_pushButton_Param4_clicked(bool) {}

void MainWindow::on_pushButton_Param5_clicked(bool) {}

void MainWindow::on_pushButton_Param6_clicked(bool) {}
