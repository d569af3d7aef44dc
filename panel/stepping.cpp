// The arrow keys and the frequency grid.
#include "app/mainwindow.h"

void MainWindow::on_pushButton_Right_clicked() {}

void MainWindow::on_pushButton_Left_clicked() {}

void MainWindow::on_pushButton_Up_clicked() {}

void MainWindow::on_pushButton_Down_clicked() {}

void MainWindow::setGrid1KHz() {}

void MainWindow::setGrid2KHz() {}

void MainWindow::setGrid5KHz() {}

void MainWindow::setGrid10KHz() {}
