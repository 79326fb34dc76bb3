#include "app/Form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zhiweige"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zhiwei/icon/zhiweige.svg")));

    Form1::Environment environment;
    environment.appDir = QApplication::applicationDirPath();
    Form1 window(environment);
    window.show();
    return QApplication::exec();
}
