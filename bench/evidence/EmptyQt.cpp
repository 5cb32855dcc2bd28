// The smallest Qt Widgets program, built like the real one: a window that
// is shown, and the program ends as soon as it has been shown. The yardstick
// for start-up time and memory.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char **argv) {
    QApplication App(argc, argv);
    QWidget W;
    W.resize(640, 480);
    W.show();
    // exit(), not quit(): no close events, like the program's own hook.
    QTimer::singleShot(0, &App, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}
