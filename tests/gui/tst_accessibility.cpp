#include "app/MainWindow.h"
#include "core/QueryFlow.h"
#include "finder/SignFinderDialog.h"
#include "share/PictureWindow.h"
#include "widgets/ClickLabel.h"
#include "widgets/Prompt.h"
#include "widgets/StatusBar.h"

#include "HttpServer.h"
#include "TestPages.h"
#include "WindowKit.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// What a screen reader and a keyboard find in the main window. Run twice by
// CTest: at scale 1, and with QT_SCALE_FACTOR=2 for the layout at scale 2.
class TestAccessibility : public QObject, private MainWindowFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void everyControlHasAName();
    void everyShownTextIsReadable();
    void shareLabelIsAPressableLink();
    void tabWalksInReadingOrder();
    void enterAndSpacePressButtons();
    void shareMenuOpensFromTheKeyboard();
    void escapeClosesTheDialogs();
    void layoutAtTheScreensScale();

private:
    QAccessibleInterface *accessible(QObject *object) const
    {
        return QAccessible::queryAccessibleInterface(object);
    }
};

void TestAccessibility::init()
{
    Prompt::setResponder([](const Prompt::Request &) { return Prompt::Answer::Ok; });
    QVERIFY(serve([](const httpkit::Request &) {
        PageSpec spec;
        spec.overall = 3;
        return httpkit::Response::html(TestPages::page(spec).toUtf8());
    }));
    environment.completionDelay = std::chrono::milliseconds(0);
    QVERIFY(open(Wait::Active));
}

void TestAccessibility::cleanup()
{
    close();
    Prompt::setResponder({});
}

void TestAccessibility::everyControlHasAName()
{
    QList<QWidget *> used;
    for (QPushButton *button : form()->findChildren<QPushButton *>())
        used << button;
    used << control("Label16") << control("Image21") << control("Label10");
    for (int panel = 1; panel <= StatusBar::PanelCount; ++panel)
        used << control<StatusBar>("S1")->panel(panel);
    for (QWidget *widget : used) {
        QAccessibleInterface *face = accessible(widget);
        QVERIFY(face);
        QVERIFY2(!face->text(QAccessible::Name).isEmpty(), qPrintable(widget->objectName()));
    }
    QCOMPARE(accessible(control("Command11"))->text(QAccessible::Name), QStringLiteral("水瓶座"));
    QCOMPARE(accessible(control("Command11"))->text(QAccessible::Description),
             QStringLiteral("查看水瓶座的运势（01/20-02/18）"));
    QCOMPARE(accessible(control("Command11"))->role(), QAccessible::Button);
    // The values read as they show.
    QCOMPARE(accessible(control("Label5"))->text(QAccessible::Name),
             QStringLiteral("健康指数:100%"));
}

// What a screen reader can read of one node: its name, description, value
// and, where it has one, its whole text.
static QString readable(QAccessibleInterface *face)
{
    QString all = face->text(QAccessible::Name) + u'\n' + face->text(QAccessible::Description) +
                  u'\n' + face->text(QAccessible::Value);
    if (QAccessibleTextInterface *text = face->textInterface())
        all += u'\n' + text->text(0, text->characterCount());
    return all;
}

void TestAccessibility::everyShownTextIsReadable()
{
    QSignalSpy shown(flowOf(*form()), &QueryFlow::completed);
    QTest::mouseClick(control("Command3"), Qt::LeftButton);
    QVERIFY(shown.wait(5000));

    // Walk the tree as a screen reader does, from the window down.
    QHash<QObject *, QString> heard;
    QList<QAccessibleInterface *> pending = {accessible(form())};
    while (!pending.isEmpty()) {
        QAccessibleInterface *face = pending.takeLast();
        heard[face->object()] += readable(face);
        for (int i = 0; i < face->childCount(); ++i)
            pending << face->child(i);
    }

    // Every text drawn for a sighted person is in what its own node reads.
    int texts = 0;
    for (QWidget *widget : form()->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(form()))
            continue;
        QString drawn;
        if (auto *label = qobject_cast<QLabel *>(widget); label && label->pixmap().isNull())
            drawn = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            drawn = button->text();
        else if (auto *box = qobject_cast<QGroupBox *>(widget))
            drawn = box->title();
        if (drawn.isEmpty())
            continue;
        ++texts;
        QVERIFY2(heard.contains(widget), qPrintable(widget->objectName() + u" is not in the tree"));
        QVERIFY2(
            heard.value(widget).contains(drawn),
            qPrintable(widget->objectName() + u": " + drawn + u" not in " + heard.value(widget)));
    }
    QVERIFY(texts > 30);
    // The day's description reads as text, not only as its name.
    QAccessibleTextInterface *description = accessible(control("Label10"))->textInterface();
    QVERIFY(description);
    QVERIFY(description->characterCount() > 0);
    QCOMPARE(description->text(0, description->characterCount()),
             control<QLabel>("Label10")->text());
}

void TestAccessibility::shareLabelIsAPressableLink()
{
    QAccessibleInterface *face = accessible(control("Label16"));
    QCOMPARE(face->role(), QAccessible::Link);
    QCOMPARE(face->text(QAccessible::Name), QStringLiteral("运势分享设定"));
    QAccessibleActionInterface *actions = face->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    actions->doAction(QAccessibleActionInterface::pressAction());
    QTRY_VERIFY(control<QMenu>("fxsd")->isVisible());
    control<QMenu>("fxsd")->close();
}

void TestAccessibility::tabWalksInReadingOrder()
{
    const QStringList expected = {"Command1",  "Command2",  "Command3",  "Command4",  "Command5",
                                  "Command6",  "Command7",  "Command8",  "Command9",  "Command10",
                                  "Command11", "Command12", "Command18", "Label16",   "Command17",
                                  "Command16", "Command13", "Command14", "Command15", "Command1"};
    control("Command1")->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), control("Command1"));
    QStringList walked = {QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(walked, expected);
}

void TestAccessibility::enterAndSpacePressButtons()
{
    QSignalSpy shown(flowOf(*form()), &QueryFlow::completed);
    control("Command5")->setFocus();
    QTest::keyClick(control("Command5"), Qt::Key_Return);
    QCOMPARE(control<StatusBar>("S1")->panelText(2), QStringLiteral("狮子座今日运势获取中..."));
    QVERIFY(shown.wait(5000));
    control("Command18")->setFocus();
    QTest::keyClick(control("Command18"), Qt::Key_Space);
    QCOMPARE(control<QPushButton>("Command18")->text(), QStringLiteral("今日运势"));
    QTest::keyClick(control("Command18"), Qt::Key_Enter);
    QCOMPARE(control<QPushButton>("Command18")->text(), QStringLiteral("明日运势"));
}

void TestAccessibility::shareMenuOpensFromTheKeyboard()
{
    control("Label16")->setFocus();
    QTest::keyClick(control("Label16"), Qt::Key_Return);
    QTRY_VERIFY(control<QMenu>("fxsd")->isVisible());
    control<QMenu>("fxsd")->close();
    QTRY_VERIFY(!control<QMenu>("fxsd")->isVisible());
    QTest::keyClick(form(), Qt::Key_Menu);
    QTRY_VERIFY(control<QMenu>("fxsd")->isVisible());
    control<QMenu>("fxsd")->close();
}

void TestAccessibility::escapeClosesTheDialogs()
{
    SignFinderDialog finder(form());
    finder.show();
    QVERIFY(QTest::qWaitForWindowActive(&finder));
    QTest::keyClick(&finder, Qt::Key_Escape);
    QVERIFY(!finder.isVisible());

    PictureWindow screenshot(form());
    screenshot.show();
    QVERIFY(QTest::qWaitForWindowActive(&screenshot));
    QTest::keyClick(&screenshot, Qt::Key_Escape);
    QVERIFY(!screenshot.isVisible());
}

void TestAccessibility::layoutAtTheScreensScale()
{
    const qreal scale = form()->devicePixelRatio();
    // The same layout in logical pixels, drawn at the screen's scale.
    QCOMPARE(form()->size(), QSize(747, 484));
    const QImage picture = form()->grab().toImage();
    QCOMPARE(picture.size(), QSize(qRound(747 * scale), qRound(484 * scale)));
    // Pictures come at the screen's scale, not blown up.
    for (QLabel *image : {control<QLabel>("Image1"), control<QLabel>("Image21")}) {
        QCOMPARE(image->pixmap().devicePixelRatio(), scale > 1 ? 2.0 : 1.0);
        QCOMPARE(image->pixmap().deviceIndependentSize().toSize(), image->size());
    }
    // Every caption fits its label: nothing clipped.
    for (QLabel *label : form()->findChildren<QLabel *>()) {
        if (label->pixmap().isNull() && !label->wordWrap() && label != control("Label14") &&
            label->isVisibleTo(form()))
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
    }
    for (QPushButton *button : form()->findChildren<QPushButton *>()) {
        const int textWidth = button->fontMetrics().horizontalAdvance(button->text());
        QVERIFY2(textWidth < button->width(), qPrintable(button->objectName()));
    }
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
