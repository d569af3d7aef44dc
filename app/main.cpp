#include "app/language.h"
#include "app/mainwindow.h"
#include "app/shutdownsignals.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    // The panel draws nothing with OpenGL; without this Qt's xcb platform loads
    // the GLX integration and Mesa with it: 50 MiB more and a slower start.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // The face keeps its proportions on high-density screens: Qt scales it by
    // the screen's factor, fractional ones (1.25, 1.5) included.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("fusion"));
    installPanelLanguage();
    // A stop request ends the event loop, so the window below is destroyed as
    // on a normal exit: settings written, RF output switched off.
    ShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &ShutdownSignals::received, &app, &QCoreApplication::quit);
    MainWindow window;
    window.show();
    return app.exec();
}
