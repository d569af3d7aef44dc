#include "app/mainwindow.h"
#include "app/shutdownsignals.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("fusion"));
    // A stop request ends the event loop, so the window below is destroyed as
    // on a normal exit: settings written, RF output switched off.
    ShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &ShutdownSignals::received, &app, &QCoreApplication::quit);
    MainWindow window;
    window.show();
    return app.exec();
}
