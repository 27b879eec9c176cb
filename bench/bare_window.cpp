// The yardstick of the start-up benchmark: a bare Qt Widgets main window of the same size as the
// program's, with nothing in it.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(640, 480);
    window.show();
    return app.exec();
}
