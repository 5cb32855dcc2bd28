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
    QTimer::singleShot(0, &App, &QCoreApplication::quit);
    return QApplication::exec();
}
