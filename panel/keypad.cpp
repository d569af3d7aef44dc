// Keypad entry and the unit keys.
#include "app/mainwindow.h"

void MainWindow::on_pushButton_Num0_clicked() {}

void MainWindow::on_pushButton_Num1_clicked() {}

void MainWindow::on_pushButton_Clear_clicked() {}

void MainWindow::on_pushButton_Num2_clicked() {}

void MainWindow::on_pushButton_Num3_clicked() {}

void MainWindow::on_pushButton_Num4_clicked() {}

void MainWindow::on_pushButton_Num5_clicked() {}

void MainWindow::on_pushButton_Num6_clicked() {}

void MainWindow::on_pushButton_Num7_clicked() {}

void MainWindow::on_pushButton_Num8_clicked() {}

void MainWindow::on_pushButton_Num9_clicked() {}

void MainWindow::on_pushButton_Dot_clicked() {}

void MainWindow::on_pushButton_OK_clicked() {}

void MainWindow::on_pushButton_Units1_clicked() {}

void MainWindow::on_pushButton_Units2_clicked() {}

void MainWindow::on_pushButton_Units3_clicked() {}

void MainWindow::on_pushButton_Minus_clicked() {}
