#include "app/MainWindow.h"
#include "core/RuntimeFiles.h"
#include "finder/SignFinderDialog.h"
#include "share/PictureWindow.h"
#include "widgets/Skin.h"

#include "WindowKit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <memory>

// The windows' fixed layout on a GNOME-like desktop, whose platform theme
// hands every control the desktop's font (here "Sans <size>", as set in
// gtk-3.0/settings.ini): each caption is still drawn whole, in the window's
// own font, and each window is the same pixel for pixel as without the
// theme. The pictures without it come from this program run again with no
// desktop settings (ZHIWEI_PLAIN_PICTURES=<folder>).
class TestDesktopFont : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void captionsAreWholeInTheWindowsFont_data();
    void captionsAreWholeInTheWindowsFont();
    void windowIsTheSameAsWithoutTheTheme_data();
    void windowIsTheSameAsWithoutTheTheme();

private:
    QTemporaryDir m_appDir;
    QTemporaryDir m_plainPictures;
};

namespace {

// The width a control has for its caption, as its style lays it out.
int roomForCaption(QWidget *widget)
{
    if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        return button->style()
            ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
            .width();
    }
    if (auto *frame = qobject_cast<QGroupBox *>(widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        option.lineWidth = 1;
        return frame->style()
            ->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame)
            .width();
    }
    auto *label = static_cast<QLabel *>(widget);
    return label->contentsRect().width() - 2 * label->margin();
}

QString captionOf(QWidget *widget)
{
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    if (auto *frame = qobject_cast<QGroupBox *>(widget))
        return frame->title();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->pixmap().isNull() ? label->text() : QString();
    return {};
}

const char *const Windows[] = {"Form1", "Form2", "Form4"};

// The window on screen, skinned as the program's windows are.
std::unique_ptr<QWidget> openWindow(const QString &name)
{
    std::unique_ptr<QWidget> shown;
    if (name == u"Form1") {
        MainWindowFixture main(QUrl(QStringLiteral("http://127.0.0.1:9")));
        main.open();
        shown = main.release();
    } else if (name == u"Form2")
        shown = std::make_unique<SignFinderDialog>();
    else
        shown = std::make_unique<PictureWindow>();
    shown->show();
    if (!QTest::qWaitForWindowExposed(shown.get()))
        return nullptr;
    // Active as a window the person just opened, focus frame and all.
    shown->activateWindow();
    if (!QTest::qWaitForWindowActive(shown.get()))
        return nullptr;
    return shown;
}

bool skinLikeTheProgram(const QString &appDir)
{
    // A style sheet stops fonts passing from a window to its controls.
    return RuntimeFiles::writeAll(appDir).at(1) && Skin::attachFile(appDir + u"/skinh.she") == 0;
}

// Without the theme: each window's picture saved in folder.
int savePlainPictures(const QString &folder)
{
    QTemporaryDir appDir;
    if (!appDir.isValid() || !skinLikeTheProgram(appDir.path()))
        return 1;
    for (const char *name : Windows) {
        const std::unique_ptr<QWidget> shown = openWindow(QLatin1String(name));
        if (!shown || !shown->grab().save(folder + u'/' + QLatin1String(name) + u".png"))
            return 1;
    }
    return 0;
}

} // namespace

void TestDesktopFont::initTestCase()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("No X server here (Xvfb missing?): the desktop theme needs one.");
    if (qgetenv("QT_QPA_PLATFORMTHEME") != "gtk3" || QApplication::font().family() != u"Sans" ||
        QApplication::font().pointSize() !=
            qEnvironmentVariableIntValue("ZHIWEI_DESKTOP_FONT_SIZE"))
        QSKIP(qPrintable(u"the GTK platform theme is not in use (qt6-gtk-platformtheme missing?): "
                         u"the application font is " +
                         QApplication::font().toString()));
    QVERIFY(m_appDir.isValid());
    QVERIFY(skinLikeTheProgram(m_appDir.path()));

    // The same windows on the same display, with no desktop settings.
    QVERIFY(m_plainPictures.isValid());
    QProcess plain;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORMTHEME", "XDG_CURRENT_DESKTOP", "XDG_CONFIG_HOME",
                             "ZHIWEI_DESKTOP_FONT_SIZE"})
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("ZHIWEI_PLAIN_PICTURES"), m_plainPictures.path());
    plain.setProcessEnvironment(environment);
    plain.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    plain.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(plain.waitForFinished(60000));
    QCOMPARE(plain.exitCode(), 0);
}

void TestDesktopFont::captionsAreWholeInTheWindowsFont_data()
{
    QTest::addColumn<QString>("window");
    for (const char *name : Windows)
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestDesktopFont::captionsAreWholeInTheWindowsFont()
{
    QFETCH(QString, window);
    const std::unique_ptr<QWidget> shown = openWindow(window);
    QVERIFY(shown);

    const QFont desktop = QApplication::font();
    const auto isDesktops = [&desktop](const QFont &font) {
        return font.family() == desktop.family() && font.pointSizeF() == desktop.pointSizeF();
    };
    QVERIFY2(!isDesktops(shown->font()),
             qPrintable(u"the window wears the desktop's font " + shown->font().toString()));
    int checked = 0;
    for (QWidget *control : shown->findChildren<QWidget *>()) {
        const QString caption = captionOf(control);
        if (caption.isEmpty() || !control->isVisibleTo(shown.get()) ||
            control->window() != shown.get())
            continue;
        ++checked;
        const QString what = control->objectName() + u" \"" + caption + u'"';
        QVERIFY2(!isDesktops(control->font()),
                 qPrintable(what + u" is drawn in the desktop's " + control->font().toString()));
        const int needed = control->fontMetrics().horizontalAdvance(caption);
        QVERIFY2(
            needed <= roomForCaption(control),
            qPrintable(
                what +
                QStringLiteral(" needs %1 px, has %2").arg(needed).arg(roomForCaption(control))));
    }
    QVERIFY(checked >= 2);
}

void TestDesktopFont::windowIsTheSameAsWithoutTheTheme_data()
{
    captionsAreWholeInTheWindowsFont_data();
}

void TestDesktopFont::windowIsTheSameAsWithoutTheTheme()
{
    QFETCH(QString, window);
    const std::unique_ptr<QWidget> shown = openWindow(window);
    QVERIFY(shown);
    const QImage themed = shown->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage plain(m_plainPictures.filePath(window + u".png"));
    QVERIFY(!plain.isNull());
    plain = plain.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(themed.size(), plain.size());

    int differing = 0;
    QRect where;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            if (themed.pixel(x, y) != plain.pixel(x, y)) {
                ++differing;
                where |= QRect(x, y, 1, 1);
            }
        }
    }
    if (differing > 0) {
        themed.save(QDir::temp().filePath(window + u"-themed.png"));
        plain.save(QDir::temp().filePath(window + u"-plain.png"));
    }
    QVERIFY2(differing == 0,
             qPrintable(QStringLiteral("%1 pixels differ, within (%2,%3 %4x%5); both pictures "
                                       "saved as %6-themed.png and %6-plain.png in %7")
                            .arg(differing)
                            .arg(where.x())
                            .arg(where.y())
                            .arg(where.width())
                            .arg(where.height())
                            .arg(window, QDir::tempPath())));
}

int main(int argc, char *argv[])
{
    if (const QString folder = qEnvironmentVariable("ZHIWEI_PLAIN_PICTURES"); !folder.isEmpty()) {
        QApplication app(argc, argv);
        return savePlainPictures(folder);
    }
    // A desktop of the GNOME family, with its font in the GTK settings: Qt
    // loads the gtk3 theme, which hands that font to every control.
    const QByteArray size = qgetenv("ZHIWEI_DESKTOP_FONT_SIZE");
    QTemporaryDir config;
    if (!size.isEmpty() && config.isValid()) {
        QDir(config.path()).mkpath(QStringLiteral("gtk-3.0"));
        QFile settings(config.filePath(QStringLiteral("gtk-3.0/settings.ini")));
        if (settings.open(QIODevice::WriteOnly))
            settings.write("[Settings]\ngtk-font-name=Sans " + size + "\n");
        settings.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        qputenv("QT_QPA_PLATFORMTHEME", "gtk3");
    }
    QApplication app(argc, argv);
    TestDesktopFont test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopfont.moc"
