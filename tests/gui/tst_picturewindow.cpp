#include "share/Capture.h"
#include "share/PictureWindow.h"

#include "ControlTable.h"
#include "WindowKit.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

// The screenshot window: where its controls sit, how it shows the picture,
// how it closes; and the picture it is given on a screen that cannot be read.
class TestPictureWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void window();
    void controls_data();
    void controls();
    void message();
    void pictureIsStretchedOverImage1();
    void closing_data();
    void closing();
    void captureIsTheClientAreaWhereNoFrameCanBeSeen();

private:
    PictureWindow *m_form = nullptr;
};

namespace {

// Four coloured quarters: stretched or cropped, each lands somewhere else.
QPixmap quarters(QSize size)
{
    QPixmap picture(size);
    QPainter painter(&picture);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    painter.fillRect(0, 0, w, h, Qt::red);
    painter.fillRect(w, 0, size.width() - w, h, Qt::green);
    painter.fillRect(0, h, w, size.height() - h, Qt::blue);
    painter.fillRect(w, h, size.width() - w, size.height() - h, Qt::yellow);
    return picture;
}

} // namespace

void TestPictureWindow::init()
{
    m_form = new PictureWindow;
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
}

void TestPictureWindow::cleanup()
{
    delete m_form;
    m_form = nullptr;
}

void TestPictureWindow::window()
{
    ControlTable::checkFixedWindow(m_form, "Form4", "截图窗口", {482, 460}, false);
    QVERIFY(m_form->isModal());
    QVERIFY(m_form->windowIcon().isNull());

    const QPoint screenCentre = m_form->screen()->availableGeometry().center();
    const QPoint windowCentre = m_form->frameGeometry().center();
    QVERIFY2((windowCentre - screenCentre).manhattanLength() <= 1,
             qPrintable(QStringLiteral("window centre %1,%2; screen centre %3,%4")
                            .arg(windowCentre.x())
                            .arg(windowCentre.y())
                            .arg(screenCentre.x())
                            .arg(screenCentre.y())));

    // Not even the icon of the window that opens it.
    QWidget owner;
    QPixmap dot(16, 16);
    dot.fill(Qt::red);
    owner.setWindowIcon(QIcon(dot));
    PictureWindow owned(&owner);
    QVERIFY(owned.windowIcon().isNull());
}

void TestPictureWindow::controls_data()
{
    using ControlTable::row;
    ControlTable::addColumns();
    row("Frame2", "Form4", {24, 16, 433, 305}, "");
    row("Image1", "Frame2", {8, 16, 417, 281}, "");
    row("Frame1", "Form4", {24, 328, 433, 57}, "");
    row("Label1", "Frame1", {1, 24, 432, 19},
        "恭喜!运势已截图到剪贴板!直接粘贴到有需要的地方即可!");
    row("Command1", "Form4", {24, 400, 433, 41}, "确定");
}

void TestPictureWindow::controls()
{
    ControlTable::check(m_form);
}

void TestPictureWindow::message()
{
    QLabel *label = controlOf<QLabel>(m_form, "Label1");
    QCOMPARE(label->alignment(), Qt::AlignCenter);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    const QFont font = label->font();
    QVERIFY(font.bold());
    QCOMPARE(font.pointSizeF(), 10.5);
    const QStringList families = font.families();
    QVERIFY2(families.size() >= 2, qPrintable(families.join(u',')));
    QVERIFY(families.first() == u"Microsoft YaHei" || families.first() == u"微软雅黑");
    QVERIFY(families.contains(QStringLiteral("WenQuanYi Micro Hei")));
    QVERIFY(families.indexOf(QStringLiteral("WenQuanYi Micro Hei")) > 0);

    const QString failed = QStringLiteral("复制失败!剪贴板正被其他程序占用,请稍后再试!");
    m_form->setMessage(failed);
    QCOMPARE(label->text(), failed);
    QCOMPARE(label->geometry(), QRect(1, 24, 432, 19));
}

void TestPictureWindow::pictureIsStretchedOverImage1()
{
    m_form->showPicture(quarters({747, 510}));
    QLabel *image = controlOf<QLabel>(m_form, "Image1");
    QCOMPARE(image->size(), QSize(417, 281));
    QVERIFY(image->hasScaledContents());
    QCOMPARE(image->pixmap().size(), QSize(747, 510));

    // What is on show: each quarter fills a quarter of 417 x 281, so the
    // proportions of the picture are not kept.
    const QImage shown = image->grab().toImage();
    QCOMPARE(shown.size() / shown.devicePixelRatio(), QSize(417, 281));
    const auto at = [&](int x, int y) -> QColor {
        return shown.pixelColor(
            QPointF(x * shown.devicePixelRatio(), y * shown.devicePixelRatio()).toPoint());
    };
    QCOMPARE(at(2, 2), QColor(Qt::red));
    QCOMPARE(at(414, 2), QColor(Qt::green));
    QCOMPARE(at(2, 278), QColor(Qt::blue));
    QCOMPARE(at(414, 278), QColor(Qt::yellow));
    QCOMPARE(at(200, 132), QColor(Qt::red));
    QCOMPARE(at(216, 148), QColor(Qt::yellow));
}

void TestPictureWindow::closing_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("确定 accepts") << false;
    QTest::newRow("Escape closes") << true;
}

void TestPictureWindow::closing()
{
    QFETCH(bool, byEscape);
    QSignalSpy finished(m_form, &QDialog::finished);
    if (byEscape)
        QTest::keyClick(m_form, Qt::Key_Escape);
    else
        QTest::mouseClick(controlOf<QPushButton>(m_form, "Command1"), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!m_form->isVisible());
    if (!byEscape)
        QCOMPARE(m_form->result(), int(QDialog::Accepted));
}

void TestPictureWindow::captureIsTheClientAreaWhereNoFrameCanBeSeen()
{
    QWidget window;
    window.setWindowTitle(QStringLiteral("澄川知微阁 V2"));
    window.setFixedSize(747, 484);
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 30));
    window.setPalette(palette);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // No screen to read, no frame to see: the picture is the client area as
    // the window draws itself, with no made-up frame around it.
    const QPixmap picture = pictureOfWindow(&window);
    QVERIFY(window.frameGeometry().size() != window.size());
    QCOMPARE(picture.size(), window.size());
    QCOMPARE(picture.toImage(), window.grab().toImage());

    // PictureWindow shows it stretched, the way the main window hands it over.
    m_form->showPicture(picture);
    QCOMPARE(controlOf<QLabel>(m_form, "Image1")->pixmap().size(), window.size());
}

QTEST_MAIN(TestPictureWindow)
#include "tst_picturewindow.moc"
