#include "app/MainWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>

// Where the main window opens under a real window manager: its frame, title
// bar and all, centred on the screen's free area, and never out of reach,
// even on a screen scaled so far that the window is larger than it.
class TestPlacement : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void frameIsCentredAndReachable();
};

void TestPlacement::initTestCase()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("No X server here (Xvfb missing?): only a window manager frames windows.");
}

void TestPlacement::frameIsCentredAndReachable()
{
    MainWindow::Environment environment;
    environment.endpoints = Endpoints::onLocalService(QUrl(QStringLiteral("http://127.0.0.1:9")));
    MainWindow form(environment);
    form.findChild<QTimer *>(QStringLiteral("Timer3"))->stop();
    form.show();
    // Generous waits: the machine may be busy with other tests.
    QVERIFY(QTest::qWaitForWindowExposed(&form, 30000));
    // The window manager frames it a little after it is exposed.
    QTRY_VERIFY_WITH_TIMEOUT(form.frameGeometry().top() < form.geometry().top(), 30000);

    const QRect available = form.screen()->availableGeometry();
    const auto where = [&form, &available] {
        return QStringLiteral("frame (%1,%2 %3x%4) on (%5,%6 %7x%8)")
            .arg(form.frameGeometry().x())
            .arg(form.frameGeometry().y())
            .arg(form.frameGeometry().width())
            .arg(form.frameGeometry().height())
            .arg(available.x())
            .arg(available.y())
            .arg(available.width())
            .arg(available.height());
    };
    if (form.frameGeometry().width() <= available.width() &&
        form.frameGeometry().height() <= available.height()) {
        QTRY_VERIFY2_WITH_TIMEOUT(
            (form.frameGeometry().center() - available.center()).manhattanLength() <= 2,
            qPrintable(where()), 30000);
    } else {
        QTRY_VERIFY2_WITH_TIMEOUT(available.contains(form.frameGeometry().topLeft()),
                                  qPrintable(where()), 30000);
    }
    // And it stays there.
    const QRect settled = form.frameGeometry();
    QTest::qWait(300);
    QCOMPARE(form.frameGeometry(), settled);
}

QTEST_MAIN(TestPlacement)
#include "tst_placement.moc"
