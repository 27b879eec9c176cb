// The yardsticks of the start-up benchmark: a bare Qt Widgets main window of the program's size with
// nothing in it, and (built with KVENDAR_BARE_TEXT) the same with one line of text, which makes Qt
// set up its fonts as any window with a word in it must.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
#ifdef KVENDAR_BARE_TEXT
    window.setCentralWidget(new QLabel(QStringLiteral("Что для Вас важнее?")));
#endif
    window.resize(640, 480);
    window.show();
    return app.exec();
}
