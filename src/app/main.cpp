#include "app/Splash.h"
#include "app/WindowLibrary.h"
#include "desktop/FixedSize.h"
#include "desktop/ModalFocus.h"
#include "widgets/Pictures.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

int main(int argc, char *argv[])
{
    // The music uses Qt Multimedia's sound output alone. From Qt 6.5 on, the
    // first output also loads a media backend (FFmpeg's: some 20 MB of
    // codecs, and probes of the video hardware) unless none is named; the
    // output plays the same without it. Set before any thread starts, and
    // only where the person has not chosen one.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "none");
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zhiweige"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QApplication::setWindowIcon(Pictures::programIcon());
    ModalFocus::keepInFront(&app);
    FixedSize::keep(&app);

    // Every text of the program is Chinese; so are the buttons of its
    // message boxes (是, 否, 取消), where Qt's translations are installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    // The splash writes the runtime files, fades in, and on a click fades out
    // and opens the main window. Closing the splash first ends the program.
    const QString appDir = QApplication::applicationDirPath();
    const Endpoints endpoints = Endpoints::builtIn(appDir);
    std::unique_ptr<QWidget> window;
    auto *splash = new Splash(appDir, [&window, &endpoints, appDir] {
        window.reset(WindowLibrary::openMainWindow(endpoints, appDir));
        if (!window)
            QApplication::exit(1);
    });
    // The main window's library loads with the fade's first step, once the
    // splash is on the screen.
    QObject::connect(splash, &Splash::opacityApplied, splash, &WindowLibrary::load,
                     Qt::SingleShotConnection);
    splash->show();
    return QApplication::exec();
}
