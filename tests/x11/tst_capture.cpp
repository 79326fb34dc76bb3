#include "app/Form1.h"
#include "platform/Clipboard.h"
#include "share/Capture.h"

#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

// The screenshot of the main window on a real X server with a window
// manager: the window manager's frame is in the picture, and the picture
// reaches the clipboard that other programs read.
class TestCapture : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void pictureHoldsTheFrame();
    void pictureIsWhatTheScreenShows();
    void clientAreaAloneHasTheClientSize();
    void otherProgramsPasteThePicture();

private:
    Form1 *m_form = nullptr;
};

namespace {

// Share of the pixels in `area` that differ from `colour`.
double differingShare(const QImage &image, const QRect &area, const QColor &colour)
{
    int differing = 0;
    int all = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++all;
            if (image.pixelColor(x, y) != colour)
                ++differing;
        }
    }
    return all ? double(differing) / all : 0.0;
}

} // namespace

void TestCapture::initTestCase()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("No X server here (Xvfb missing?): the capture reads a real screen.");
}

void TestCapture::init()
{
    Form1::Environment environment;
    environment.endpoints = Endpoints::onLocalService(QUrl(QStringLiteral("http://127.0.0.1:9")));
    m_form = new Form1(environment);
    m_form->findChild<QTimer *>(QStringLiteral("Timer3"))->stop(); // no version check here
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form, 30000));
    // The frame margins read 0 until the window manager has framed the window.
    // Wait for the title bar itself: the side borders may come first.
    QTRY_VERIFY_WITH_TIMEOUT(m_form->geometry().top() > m_form->frameGeometry().top(), 10000);
    // Once framed, the window centres its frame: let it settle there.
    const QPoint centre = m_form->screen()->availableGeometry().center();
    QTRY_VERIFY_WITH_TIMEOUT((m_form->frameGeometry().center() - centre).manhattanLength() <= 2,
                             10000);
}

void TestCapture::cleanup()
{
    delete m_form;
    m_form = nullptr;
}

void TestCapture::pictureHoldsTheFrame()
{
    const QRect frame = m_form->frameGeometry();
    const QPoint client = m_form->geometry().topLeft() - frame.topLeft();
    QVERIFY2(client.y() > 0, "the window manager gave the window no title bar");

    QCOMPARE(CaptureForm(m_form).size(), frame.size());
    QVERIFY(frame.width() >= 747);
    QVERIFY(frame.height() > 484);

    // The screen shows the window once the compositor has painted it: wait
    // until the client area in the picture carries the window's background.
    const QColor background = m_form->palette().color(QPalette::Window);
    // Right of the fortune panel, above the status bar: nothing but background.
    const QRect emptyClient(client + QPoint(735, 10), QSize(8, 300));
    QImage picture;
    const auto painted = [&] {
        picture = CaptureForm(m_form).toImage();
        return differingShare(picture, emptyClient, background) == 0.0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(painted(), 10000);

    // The title bar is the window manager's, not the window's background.
    const QRect titleBar(client.x(), 0, 747, client.y());
    QVERIFY2(differingShare(picture, titleBar, background) > 0.5,
             qPrintable(QStringLiteral("title bar %1 x %2 mostly the client colour %3")
                            .arg(titleBar.width())
                            .arg(titleBar.height())
                            .arg(background.name())));
    // The client area is where the frame says: it matches the window's own
    // drawing of itself pixel for pixel, give or take a blinking caret.
    const QImage own = m_form->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int y = 0; y < own.height(); ++y) {
        for (int x = 0; x < own.width(); ++x) {
            if (picture.pixel(client + QPoint(x, y)) != own.pixel(x, y))
                ++differing;
        }
    }
    QVERIFY2(differing < own.width() * own.height() / 100,
             qPrintable(QStringLiteral("%1 pixels differ").arg(differing)));
}

void TestCapture::pictureIsWhatTheScreenShows()
{
    // A window of another colour laid over the corner of the title bar: only
    // a picture read from the screen can contain it.
    const QRect frame = m_form->frameGeometry();
    const int titleHeight = m_form->geometry().top() - frame.top();
    QVERIFY(titleHeight > 0);
    // Placed by us, not by the window manager, and kept above the window.
    QWidget marker(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                                Qt::WindowStaysOnTopHint);
    marker.setAutoFillBackground(true);
    QPalette palette = marker.palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 255));
    marker.setPalette(palette);
    marker.setGeometry(frame.left(), frame.top(), 40, titleHeight);
    marker.show();
    marker.raise();

    const QRect covered(QPoint(0, 0), QSize(40, titleHeight));
    QImage picture;
    const auto markerShows = [&] {
        picture = CaptureForm(m_form).toImage();
        return differingShare(picture, covered, QColor(255, 0, 255)) == 0.0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(markerShows(), 10000);
    QCOMPARE(picture.size(), frame.size());
}

void TestCapture::clientAreaAloneHasTheClientSize()
{
    const QPixmap client = CaptureWindow(m_form, true, 0, 0, 747, 484);
    QCOMPARE(client.size(), QSize(747, 484));
}

void TestCapture::otherProgramsPasteThePicture()
{
    const QString xclip = QStandardPaths::findExecutable(QStringLiteral("xclip"));
    if (xclip.isEmpty())
        QSKIP("xclip is not installed: nothing outside the program can read the clipboard.");

    const QPixmap picture = CaptureForm(m_form);
    QVERIFY(Clipboard::setImage(picture.toImage()));

    // Another program asks for the picture while this one still owns the
    // clipboard; the event loop keeps running to hand it over.
    QProcess paste;
    QSignalSpy done(&paste, &QProcess::finished);
    paste.start(xclip, {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                        QStringLiteral("-t"), QStringLiteral("image/png"), QStringLiteral("-o")});
    QVERIFY(done.wait(20000));
    QCOMPARE(paste.exitStatus(), QProcess::NormalExit);
    QVERIFY2(paste.exitCode() == 0, paste.readAllStandardError().constData());

    QImage pasted;
    QVERIFY(pasted.loadFromData(paste.readAllStandardOutput(), "PNG"));
    QCOMPARE(pasted.size(), m_form->frameGeometry().size());
}

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
