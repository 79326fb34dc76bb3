#include "app/Form1.h"
#include "finder/Form2.h"
#include "platform/RuntimeFiles.h"
#include "platform/Skin.h"
#include "share/Form4.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <memory>

// The windows' fixed layout on a GNOME-like desktop, whose platform theme
// hands every control the desktop's font (here "Sans <size>", as set in
// gtk-3.0/settings.ini): each caption is still drawn whole, in the window's
// own font.
class TestDesktopFont : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void captionsAreWholeInTheWindowsFont_data();
    void captionsAreWholeInTheWindowsFont();

private:
    QTemporaryDir m_appDir;
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
    // Skinned as the program is: a style sheet stops fonts passing from a
    // window to its controls.
    QVERIFY(m_appDir.isValid());
    QCOMPARE(RuntimeFiles::writeAll(m_appDir.path()).at(1), true);
    QCOMPARE(SkinH_AttachEx(m_appDir.filePath(QStringLiteral("skinh.she")), QString()), 0);
}

void TestDesktopFont::captionsAreWholeInTheWindowsFont_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("Form1") << QStringLiteral("Form1");
    QTest::newRow("Form2") << QStringLiteral("Form2");
    QTest::newRow("Form4") << QStringLiteral("Form4");
}

void TestDesktopFont::captionsAreWholeInTheWindowsFont()
{
    QFETCH(QString, window);
    std::unique_ptr<QWidget> shown;
    if (window == u"Form1") {
        Form1::Environment environment;
        environment.endpoints =
            Endpoints::onLocalService(QUrl(QStringLiteral("http://127.0.0.1:9")));
        auto form = std::make_unique<Form1>(environment);
        form->findChild<QTimer *>(QStringLiteral("Timer3"))->stop();
        shown = std::move(form);
    } else if (window == u"Form2") {
        shown = std::make_unique<Form2>();
    } else {
        shown = std::make_unique<Form4>();
    }
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown.get()));

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

int main(int argc, char *argv[])
{
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
