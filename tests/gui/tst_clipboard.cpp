#include "desktop/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTest>

// The clipboard layer on the offscreen platform, whose clipboard lives inside
// the process: what arrives, and what a refused copy leaves behind.
class TestClipboard : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void textArrivesExactly_data();
    void textArrivesExactly();
    void textReplacesAPicture();
    void refusedTextLeavesThePreviousContent();
    void imageRoundTripsItsSize();
    void refusedImageLeavesThePreviousContent();
    void nullImageIsRefused();
};

void TestClipboard::cleanup()
{
    Clipboard::setRefusingForTesting(false);
}

void TestClipboard::textArrivesExactly_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("CR LF lines are kept")
        << QStringLiteral("天蝎座今日运势\r\n[2013-12-27]:\r\n \r\n本信息由澄川知微阁提供!");
    QTest::newRow("a lone space line") << QStringLiteral(" ");
    QTest::newRow("markup stays text") << QStringLiteral("<b>健康指数:90%</b>");
}

void TestClipboard::textArrivesExactly()
{
    QFETCH(QString, text);
    QVERIFY(Clipboard::setText(text));
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QVERIFY(!data->hasHtml());
}

void TestClipboard::textReplacesAPicture()
{
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QVERIFY(Clipboard::setImage(picture));
    QVERIFY(Clipboard::setText(QStringLiteral("白羊座今日运势")));
    // The clipboard was cleared first: no picture rides along with the text.
    QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasImage());
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("白羊座今日运势"));
}

void TestClipboard::refusedTextLeavesThePreviousContent()
{
    QVERIFY(Clipboard::setText(QStringLiteral("before")));
    Clipboard::setRefusingForTesting(true);
    QVERIFY(!Clipboard::setText(QStringLiteral("after")));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    Clipboard::setRefusingForTesting(false);
    QVERIFY(Clipboard::setText(QStringLiteral("after")));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("after"));
}

void TestClipboard::imageRoundTripsItsSize()
{
    QImage picture(751, 512, QImage::Format_RGB32);
    picture.fill(QColor(200, 10, 10));
    QVERIFY(Clipboard::setImage(picture));
    const QImage stored = QGuiApplication::clipboard()->image();
    QCOMPARE(stored.size(), QSize(751, 512));
    QCOMPARE(stored.pixelColor(375, 256), QColor(200, 10, 10));
    QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasText());
}

void TestClipboard::refusedImageLeavesThePreviousContent()
{
    QVERIFY(Clipboard::setText(QStringLiteral("the copied report")));
    Clipboard::setRefusingForTesting(true);
    QImage picture(20, 20, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QVERIFY(!Clipboard::setImage(picture));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("the copied report"));
    QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasImage());
}

void TestClipboard::nullImageIsRefused()
{
    QVERIFY(Clipboard::setText(QStringLiteral("kept")));
    QVERIFY(!Clipboard::setImage(QImage()));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
}

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
