#include "app/Splash.h"
#include "core/RuntimeFiles.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QList<int> fadeIn()
{
    QList<int> values;
    for (int v = 0; v <= 255; v += 15)
        values.append(v);
    return values;
}

QList<int> fadeOut()
{
    QList<int> values = fadeIn();
    std::reverse(values.begin(), values.end());
    return values;
}

QList<int> values(const QSignalSpy &spy)
{
    QList<int> result;
    for (const QList<QVariant> &call : spy)
        result.append(call.at(0).toInt());
    return result;
}

} // namespace

class TestSplash : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loadWritesTheRuntimeFiles();
    void windowLooks();
    void fadesIn();
    void passingTheSplashFadesOutAndOpensTheMainWindow_data();
    void passingTheSplashFadesOutAndOpensTheMainWindow();
    void keysPassTheSplash_data();
    void keysPassTheSplash();
    void secondClickDoesNotRestartTheFadeOut();
    void withoutAClickTheMainWindowNeverOpens();
    void closingTheSplashNeverOpensTheMainWindow_data();
    void closingTheSplashNeverOpensTheMainWindow();
    void shapeIsARoundedRectangle_data();
    void shapeIsARoundedRectangle();
    void shapeIsSetAgainOnActivation();

private:
    // A splash over a fresh folder, counting main-window openings.
    Splash *makeSplash();

    QTemporaryDir *m_dir = nullptr;
    QPointer<Splash> m_splash;
    int m_opened = 0;
    QList<int> m_appliedWhenOpened;
    QSignalSpy *m_spy = nullptr;
};

void TestSplash::initTestCase()
{
    // The test runner, not the last window, decides when the process ends.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestSplash::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_opened = 0;
    m_appliedWhenOpened.clear();
}

void TestSplash::cleanup()
{
    delete m_spy;
    m_spy = nullptr;
    delete m_splash;
    delete m_dir;
    m_dir = nullptr;
}

Splash *TestSplash::makeSplash()
{
    m_splash = new Splash(m_dir->path(), [this] {
        ++m_opened;
        m_appliedWhenOpened = values(*m_spy);
    });
    m_spy = new QSignalSpy(m_splash.data(), &Splash::opacityApplied);
    return m_splash;
}

void TestSplash::loadWritesTheRuntimeFiles()
{
    Splash *splash = makeSplash();
    Q_UNUSED(splash)
    for (const RuntimeFile &file : RuntimeFiles::all()) {
        QFile written(m_dir->filePath(file.fileName));
        QVERIFY2(written.open(QIODevice::ReadOnly), qPrintable(file.fileName));
        QCOMPARE(written.readAll(), RuntimeFiles::resource(file.resourceNumber));
    }
}

void TestSplash::windowLooks()
{
    Splash *splash = makeSplash();
    QCOMPARE(splash->objectName(), QStringLiteral("Form3"));
    QCOMPARE(splash->windowTitle(), QStringLiteral("Form3"));
    QVERIFY(splash->isWindow());
    QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(splash->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(splash->size(), QSize(599, 392));
    QCOMPARE(splash->minimumSize(), splash->maximumSize());
    QVERIFY(splash->fadeInTimer->isActive());
    QCOMPARE(splash->fadeInTimer->objectName(), QStringLiteral("Timer1"));
    QCOMPARE(splash->fadeInTimer->interval(), 50);
    QVERIFY(!splash->fadeOutTimer->isActive());
    QCOMPARE(splash->fadeOutTimer->objectName(), QStringLiteral("Timer2"));
    QCOMPARE(splash->fadeOutTimer->interval(), 50);
    // Clear until the first tick.
    QCOMPARE(splash->windowOpacity(), 0.0);

    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY((splash->geometry().center() - screen.center()).manhattanLength() <= 2);

    // The picture from the top-left corner, its last column and rows cropped,
    // as drawn (compiled in as plain pixels).
    const QImage drawn = splash->grab().toImage();
    const QImage picture = QImage(QFINDTESTDATA("../../assets/splash.png"));
    QCOMPARE(picture.size(), QSize(600, 395));
    for (const QPoint p : {QPoint(300, 200), QPoint(40, 200), QPoint(560, 40), QPoint(598, 200)})
        QCOMPARE(drawn.pixelColor(p), picture.pixelColor(p));
}

void TestSplash::fadesIn()
{
    Splash *splash = makeSplash();
    splash->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_spy->count(), 18, 10000);
    QCOMPARE(values(*m_spy), fadeIn());
    QCOMPARE(splash->windowOpacity(), 1.0);
    QVERIFY(!splash->fadeInTimer->isActive());
    QVERIFY(!splash->fadeOutTimer->isActive());
}

void TestSplash::passingTheSplashFadesOutAndOpensTheMainWindow_data()
{
    QTest::addColumn<int>("key"); // 0: a mouse click
    QTest::newRow("mouse click") << 0;
    QTest::newRow("Space key") << int(Qt::Key_Space);
}

void TestSplash::passingTheSplashFadesOutAndOpensTheMainWindow()
{
    QFETCH(int, key);
    Splash *splash = makeSplash();
    // Pass it exactly when the fade-in has reached 90.
    connect(splash, &Splash::opacityApplied, this, [splash, key](int value) {
        if (value != 90 || splash->fadeOutTimer->isActive())
            return;
        if (key == 0)
            QTest::mouseClick(splash, Qt::LeftButton, {}, QPoint(120, 300));
        else
            QTest::keyClick(splash, Qt::Key(key));
    });
    splash->show();

    QTRY_COMPARE_WITH_TIMEOUT(m_opened, 1, 10000);
    const QList<int> expected = QList<int>{0, 15, 30, 45, 60, 75, 90} + fadeOut();
    // Opened on the tick that applied 0, not before, not after.
    QCOMPARE(m_appliedWhenOpened, expected);
    QTRY_VERIFY(m_splash.isNull());
    QCOMPARE(values(*m_spy), expected);
    QCOMPARE(m_opened, 1);
}

void TestSplash::keysPassTheSplash_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("passes");
    QTest::newRow("Enter passes") << int(Qt::Key_Enter) << true;
    QTest::newRow("Return passes") << int(Qt::Key_Return) << true;
    QTest::newRow("Space passes") << int(Qt::Key_Space) << true;
    QTest::newRow("Escape passes") << int(Qt::Key_Escape) << true;
    QTest::newRow("a letter does nothing") << int(Qt::Key_A) << false;
    QTest::newRow("Tab does nothing") << int(Qt::Key_Tab) << false;
}

void TestSplash::keysPassTheSplash()
{
    QFETCH(int, key);
    QFETCH(bool, passes);
    Splash *splash = makeSplash();
    bool pressed = false;
    connect(splash, &Splash::opacityApplied, this, [splash, key, &pressed](int value) {
        if (value == 30 && !pressed) {
            pressed = true;
            QTest::keyClick(splash, Qt::Key(key));
        }
    });
    splash->show();
    QTRY_VERIFY_WITH_TIMEOUT(m_spy->count() >= 4, 10000);
    // The tick after the key: opaque at once when leaving, else the fade-in goes on.
    QCOMPARE(values(*m_spy).mid(0, 4), QList<int>({0, 15, 30, passes ? 255 : 45}));
    QCOMPARE(splash->fadeOutTimer->isActive() || m_opened == 1, passes);
}

void TestSplash::secondClickDoesNotRestartTheFadeOut()
{
    Splash *splash = makeSplash();
    int clicks = 0;
    connect(splash, &Splash::opacityApplied, this, [splash, &clicks](int value) {
        // First click as the fade-in reaches 90, second as the fade-out reaches 150.
        if ((clicks == 0 && value == 90) || (clicks == 1 && value == 150)) {
            ++clicks;
            QTest::mouseClick(splash, Qt::LeftButton, {}, QPoint(300, 200));
        }
    });
    splash->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_opened, 1, 10000);
    QCOMPARE(clicks, 2);
    QCOMPARE(m_appliedWhenOpened, QList<int>({0, 15, 30, 45, 60, 75, 90}) + fadeOut());
    QTRY_VERIFY(m_splash.isNull());
    QCOMPARE(m_opened, 1);
}

void TestSplash::withoutAClickTheMainWindowNeverOpens()
{
    Splash *splash = makeSplash();
    splash->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_spy->count(), 18, 10000);
    // Behaviour over time, not a timing check: well past the fade-in, nothing
    // more happens until someone clicks.
    QTest::qWait(600);
    QCOMPARE(m_spy->count(), 18);
    QCOMPARE(splash->windowOpacity(), 1.0);
    QVERIFY(splash->isVisible());
    QCOMPARE(m_opened, 0);
}

void TestSplash::closingTheSplashNeverOpensTheMainWindow_data()
{
    QTest::addColumn<int>("closeAt");  // the opacity applied just before closing; -1: at once
    QTest::addColumn<bool>("leaving"); // closed during the fade-out
    QTest::newRow("before the first tick") << -1 << false;
    QTest::newRow("during the fade-in") << 60 << false;
    QTest::newRow("after the fade-in") << 255 << false;
    QTest::newRow("during the fade-out") << 150 << true;
}

void TestSplash::closingTheSplashNeverOpensTheMainWindow()
{
    QFETCH(int, closeAt);
    QFETCH(bool, leaving);
    Splash *splash = makeSplash();
    bool clicked = false;
    bool closed = false;
    connect(splash, &Splash::opacityApplied, this,
            [splash, closeAt, leaving, &clicked, &closed](int value) {
                if (leaving && !clicked && value == 90) {
                    clicked = true;
                    QTest::mouseClick(splash, Qt::LeftButton, {}, QPoint(300, 200));
                } else if (!closed && value == closeAt && clicked == leaving) {
                    closed = true;
                    // As Alt+F4 does: a close request from the window system.
                    QTimer::singleShot(0, splash, &QWidget::close);
                }
            });
    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    if (closeAt < 0) {
        closed = true;
        splash->close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_splash.isNull(), 10000);
    QVERIFY(closed);
    // Give a stray tick the chance it must not take.
    QTest::qWait(200);
    QCOMPARE(m_opened, 0);
    QVERIFY(!m_spy->isEmpty() || closeAt < 0);
}

void TestSplash::shapeIsARoundedRectangle_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("inside");
    QTest::newRow("top-left corner pixel") << QPoint(0, 0) << false;
    QTest::newRow("top-right corner pixel") << QPoint(598, 0) << false;
    QTest::newRow("bottom-left corner pixel") << QPoint(0, 391) << false;
    QTest::newRow("bottom-right corner pixel") << QPoint(598, 391) << false;
    QTest::newRow("outside the corner arc") << QPoint(5, 5) << false;
    QTest::newRow("inside the corner arc") << QPoint(12, 12) << true;
    QTest::newRow("top edge past the arc") << QPoint(40, 1) << true;
    QTest::newRow("left edge past the arc") << QPoint(1, 40) << true;
    QTest::newRow("centre") << QPoint(299, 196) << true;
}

void TestSplash::shapeIsARoundedRectangle()
{
    QFETCH(QPoint, point);
    QFETCH(bool, inside);
    Splash *splash = makeSplash();
    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    QCOMPARE(splash->mask().contains(point), inside);
    QCOMPARE(Splash::shape(QSize(599, 392)), splash->mask());
}

void TestSplash::shapeIsSetAgainOnActivation()
{
    Splash *splash = makeSplash();
    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());

    splash->clearMask();
    QVERIFY(splash->mask().isEmpty());
    splash->activateWindow();
    QTRY_VERIFY(splash->isActiveWindow());
    QCOMPARE(splash->mask(), Splash::shape(splash->size()));
}

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
