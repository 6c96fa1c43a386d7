// The anchor of the start-up figure: the smallest Qt Widgets program that shows a window.

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.resize(804, 482);
    window.show();
    return QApplication::exec();
}
