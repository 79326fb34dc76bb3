// The floor for any Qt Widgets program: one window, shown. The figures of
// tools/measure.sh put 知微阁 beside it.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.resize(599, 392);
    window.show();
    return QApplication::exec();
}
