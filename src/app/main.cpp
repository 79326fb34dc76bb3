#include "app/MainWindow.h"
#include "app/Splash.h"
#include "desktop/FixedSize.h"
#include "desktop/ModalFocus.h"
#include "desktop/WaylandDialogs.h"
#include "widgets/Pictures.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zhiweige"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QApplication::setWindowIcon(Pictures::programIcon());
    ModalFocus::keepInFront(&app);
    FixedSize::keep(&app);
    WaylandDialogs::install(&app);

    // Every text of the program is Chinese; so are the buttons of its
    // message boxes (是, 否, 取消), where Qt's translations are installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    // The splash writes the runtime files, fades in, and on a click fades out
    // and opens the main window. Closing the splash first ends the program.
    const QString appDir = QApplication::applicationDirPath();
    std::unique_ptr<MainWindow> window;
    auto *splash = new Splash(appDir, [&window, appDir] {
        MainWindow::Environment environment;
        environment.endpoints = Endpoints::builtIn(appDir);
        environment.appDir = appDir;
        window = std::make_unique<MainWindow>(environment);
        window->show();
    });
    splash->show();
    return QApplication::exec();
}
