// Prints where the panel's controls lie, so the end-to-end tests can click
// them on the real program's window. Builds the very same window on the same
// display, lays it out and reports, one line each:
//   window WIDTH HEIGHT
//   widget OBJECTNAME X Y WIDTH HEIGHT        (main window coordinates)
//   menu TITLE X Y WIDTH HEIGHT               (a menu bar title)
//   menuitem TITLE ROW                        (row of an item in the settings menu)
//   remote KIND X Y WIDTH HEIGHT              (the remote-control window's widgets)
// Run it without simulated instruments: it lays the window out and exits.
#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextStream>

namespace {

QTextStream out(stdout);

void printRect(const QString &kind, const QString &name, const QRect &r) {
    out << kind << ' ' << name << ' ' << r.x() << ' ' << r.y() << ' ' << r.width() << ' '
        << r.height() << '\n';
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

void printWidgets(MainWindow &window) {
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        const QString name = widget->objectName();
        if (!name.startsWith(QLatin1String("pushButton_")) &&
            !name.startsWith(QLatin1String("lcdNumber_")) &&
            !name.startsWith(QLatin1String("label_")))
            continue;
        if (widget->isVisibleTo(&window))
            printRect(QStringLiteral("widget"), name,
                      QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size()));
    }
}

// The remote-control indicator is hidden at start; its place is where it
// appears once shown.
void printHiddenIndicator(MainWindow &window) {
    auto *indicator = window.findChild<QLabel *>(QStringLiteral("label_netControl"));
    if (!indicator)
        return;
    indicator->show();
    settle();
    printRect(QStringLiteral("widget"), indicator->objectName(),
              QRect(indicator->mapTo(&window, QPoint(0, 0)), indicator->size()));
    indicator->hide();
    settle();
}

QAction *printMenus(MainWindow &window) {
    QAction *remoteAction = nullptr;
    QMenuBar *bar = window.menuBar();
    for (QAction *title : bar->actions()) {
        printRect(QStringLiteral("menu"), title->text(),
                  QRect(bar->mapTo(&window, bar->actionGeometry(title).topLeft()),
                        bar->actionGeometry(title).size()));
        if (!title->menu())
            continue;
        int row = 0;
        for (QAction *item : title->menu()->actions()) {
            if (item->isSeparator())
                continue;
            out << "menuitem " << item->text() << ' ' << row++ << '\n';
            if (item->text() == QStringLiteral("Удаленное управление"))
                remoteAction = item;
        }
    }
    return remoteAction;
}

void printRemoteWindow(QAction *remoteAction) {
    if (!remoteAction)
        return;
    remoteAction->trigger();
    settle();
    for (QWidget *top : QApplication::topLevelWidgets()) {
        auto *edit = top->findChild<QLineEdit *>();
        if (!edit || !top->isVisible())
            continue;
        printRect(QStringLiteral("remote"), QStringLiteral("window"), top->rect());
        printRect(QStringLiteral("remote"), QStringLiteral("port"),
                  QRect(edit->mapTo(top, QPoint(0, 0)), edit->size()));
        if (auto *box = top->findChild<QCheckBox *>())
            printRect(QStringLiteral("remote"), QStringLiteral("server"),
                      QRect(box->mapTo(top, QPoint(0, 0)), box->size()));
        if (auto *save = top->findChild<QPushButton *>())
            printRect(QStringLiteral("remote"), QStringLiteral("save"),
                      QRect(save->mapTo(top, QPoint(0, 0)), save->size()));
        top->close();
        return;
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("fusion"));
    MainWindow window;
    window.show();
    settle();
    out << "window " << window.width() << ' ' << window.height() << '\n';
    printWidgets(window);
    printHiddenIndicator(window);
    printRemoteWindow(printMenus(window));
    out.flush();
    return 0;
}
