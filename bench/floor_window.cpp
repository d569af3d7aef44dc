// The floor for the panel's start figures: the least a Qt widgets program does
// to show one empty window, started the same way as rfpanel.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[]) {
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("rfgen floor"));
    window.resize(1100, 300);
    window.show();
    return app.exec();
}
