#include "net/Charset.h"

#include <QStringEncoder>
#include <QTest>

namespace {

const QString Marker = QStringLiteral(u"健康指数</h4><p>85%</p></div>");
const QString Sentence = QStringLiteral(u"今日整体运势平稳，适合与老朋友小聚，财运略有起色。");
const QString Markers = QStringLiteral(u"健康指数</h4><p>商谈指数</h4><p>幸运颜色</h4><p>"
                                       u"幸运数字</h4><p>速配星座</h4><p>");

QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

QByteArray page(const QByteArray &head, const QByteArray &body)
{
    return "<html><head>" + head + "<title>t</title></head><body>" + body + "</body></html>";
}

} // namespace

class tst_Charset : public QObject
{
    Q_OBJECT

private slots:
    void detect_data();
    void detect();
    void decode_data();
    void decode();
    void decodeReportsCharsetUsed();
    void decodeMarksInvalidBytes();
    void largePageKeepsMarkersToTheEnd();
};

void tst_Charset::detect_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("charset");

    const QByteArray utf8 = page({}, Marker.toUtf8());
    const QByteArray gb = page({}, gbk(Marker));

    QTest::newRow("header utf-8") << gb << QByteArray("text/html; charset=utf-8")
                                  << QByteArray("UTF-8");
    QTest::newRow("header gbk reads as GB18030")
        << utf8 << QByteArray("text/html; charset=gbk") << QByteArray("GB18030");
    QTest::newRow("header GB2312 in capitals reads as GB18030")
        << utf8 << QByteArray("text/html; charset=GB2312") << QByteArray("GB18030");
    QTest::newRow("header x-gbk reads as GB18030")
        << utf8 << QByteArray("text/html;charset=X-GBK") << QByteArray("GB18030");
    QTest::newRow("header gb_2312-80 reads as GB18030")
        << utf8 << QByteArray("text/html; charset=gb_2312-80") << QByteArray("GB18030");
    QTest::newRow("header CP936 reads as GB18030")
        << utf8 << QByteArray("text/html; charset=CP936") << QByteArray("GB18030");
    QTest::newRow("header charset in double quotes")
        << utf8 << QByteArray("text/html; charset=\"gbk\"") << QByteArray("GB18030");
    QTest::newRow("header charset in single quotes")
        << utf8 << QByteArray("text/html; charset='gbk'") << QByteArray("GB18030");
    QTest::newRow("header twice, a redirect's and the page's: the page's counts")
        << utf8 << QByteArray("text/html; charset=utf-8, text/html; charset=gbk")
        << QByteArray("GB18030");
    QTest::newRow("header charset among other parameters")
        << utf8 << QByteArray("text/html; format=flowed; CharSet = GBK ; q=1")
        << QByteArray("GB18030");
    QTest::newRow("header EUC-CN, another name of GB2312, reads as GB18030")
        << utf8 << QByteArray("text/html; charset=EUC-CN") << QByteArray("GB18030");
    QTest::newRow("header windows-936 reads as GB18030")
        << utf8 << QByteArray("text/html; charset=windows-936") << QByteArray("GB18030");
    QTest::newRow("header label with stray marks ICU skips reads as GB18030")
        << utf8 << QByteArray("text/html; charset=\"gb2312\xFF\xFF\"") << QByteArray("GB18030");
    QTest::newRow("meta csGB2312 reads as GB18030")
        << page("<meta charset=csGB2312>", "x") << QByteArray() << QByteArray("GB18030");
    QTest::newRow("header ISO-8859-1 is honoured")
        << utf8 << QByteArray("text/html; charset=iso-8859-1") << QByteArray("ISO-8859-1");

    QTest::newRow("meta charset quoted")
        << page("<meta charset=\"gbk\">", "x") << QByteArray("text/html") << QByteArray("GB18030");
    QTest::newRow("meta charset unquoted, tag in capitals")
        << page("<META CHARSET=GB2312>", "x") << QByteArray() << QByteArray("GB18030");
    QTest::newRow("meta charset self-closing")
        << page("<meta charset='utf-8'/>", gbk(Marker)) << QByteArray() << QByteArray("UTF-8");
    QTest::newRow("meta http-equiv content")
        << page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">", "x")
        << QByteArray("text/html") << QByteArray("GB18030");
    QTest::newRow("meta http-equiv content, unquoted, odd case")
        << page("<Meta HTTP-EQUIV=content-type CONTENT='text/html;charset=GBK'>", "x")
        << QByteArray() << QByteArray("GB18030");
    QTest::newRow("meta after an unrelated meta")
        << page("<meta name=\"keywords\" content=\"a,b\"><meta charset=gbk>", "x") << QByteArray()
        << QByteArray("GB18030");
    QTest::newRow("meta utf-16 label in an ASCII page means UTF-8")
        << page("<meta charset=utf-16>", Marker.toUtf8()) << QByteArray() << QByteArray("UTF-8");
    QTest::newRow("meta utf-7 label in an ASCII page is not believed")
        << page("<meta charset=utf-7>", "C++ " + Marker.toUtf8()) << QByteArray()
        << QByteArray("UTF-8");
    QTest::newRow("meta utf-32 label in an ASCII page is not believed")
        << page("<meta charset=\"UTF-32\">", gbk(Marker)) << QByteArray() << QByteArray("GB18030");
    QTest::newRow("meta EBCDIC label in an ASCII page is not believed")
        << page("<meta charset=ibm037>", "x") << QByteArray() << QByteArray("UTF-8");
    QTest::newRow("meta after one that cannot be true")
        << page("<meta charset=utf-32><meta charset=gbk>", "x") << QByteArray()
        << QByteArray("GB18030");
    QTest::newRow("header utf-7 is honoured")
        << page({}, "x") << QByteArray("text/html; charset=utf-7") << QByteArray("UTF-7");
    QTest::newRow("meta past the first few KB is not looked for")
        << page(QByteArray(64 * 1024, ' ') + "<meta charset=gbk>", "x") << QByteArray()
        << QByteArray("UTF-8");
    QTest::newRow("metadata tag is no meta")
        << page("<metadata charset=gbk>", "x") << QByteArray() << QByteArray("UTF-8");

    QTest::newRow("header wins over meta")
        << page("<meta charset=gbk>", Marker.toUtf8()) << QByteArray("text/html; charset=UTF-8")
        << QByteArray("UTF-8");
    QTest::newRow("utf-8 BOM wins over header and meta")
        << "\xEF\xBB\xBF" + page("<meta charset=gbk>", Marker.toUtf8())
        << QByteArray("text/html; charset=gbk") << QByteArray("UTF-8");

    QTest::newRow("valid utf-8 without any label") << utf8 << QByteArray() << QByteArray("UTF-8");
    QTest::newRow("GBK bytes without any label read as GB18030")
        << gb << QByteArray("text/html") << QByteArray("GB18030");
    QTest::newRow("utf-8 cut inside a character is not utf-8")
        << Marker.toUtf8().left(2) << QByteArray() << QByteArray("GB18030");
    QTest::newRow("utf-8 encoded surrogate is not utf-8")
        << QByteArray("ok \xED\xA0\x80") << QByteArray() << QByteArray("GB18030");
    QTest::newRow("overlong utf-8 is not utf-8")
        << QByteArray("ok \xC0\xAF") << QByteArray() << QByteArray("GB18030");
    QTest::newRow("unknown header label falls back to sniffing utf-8")
        << utf8 << QByteArray("text/html; charset=klingon") << QByteArray("UTF-8");
    QTest::newRow("unknown header label falls back to meta")
        << page("<meta charset=gbk>", "x") << QByteArray("text/html; charset=klingon")
        << QByteArray("GB18030");
    QTest::newRow("unknown meta label falls back to sniffing GB18030")
        << page("<meta charset=klingon>", gbk(Marker)) << QByteArray() << QByteArray("GB18030");
    QTest::newRow("empty charset parameter falls back")
        << gb << QByteArray("text/html; charset=") << QByteArray("GB18030");
    QTest::newRow("empty body without label")
        << QByteArray() << QByteArray() << QByteArray("UTF-8");
}

void tst_Charset::detect()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, charset);
    QCOMPARE(Charset::detect(body, contentType), charset);
}

void tst_Charset::decode_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("text");

    const QString text = Marker + Sentence;
    const QString markers = Markers + Sentence;

    QTest::newRow("utf-8 labelled in header")
        << text.toUtf8() << QByteArray("text/html; charset=utf-8") << text;
    QTest::newRow("utf-8 without label") << text.toUtf8() << QByteArray() << text;
    QTest::newRow("utf-8 with BOM, header says gbk")
        << "\xEF\xBB\xBF" + text.toUtf8() << QByteArray("text/html; charset=gbk") << text;
    QTest::newRow("GB18030 bytes, header gbk")
        << gbk(text) << QByteArray("text/html; charset=gbk") << text;
    QTest::newRow("GB18030 bytes, header GB2312")
        << gbk(text) << QByteArray("text/html; charset=GB2312") << text;
    QTest::newRow("GB18030 bytes without label") << gbk(text) << QByteArray() << text;
    const QString gbkOnly = QStringLiteral(u"今日運勢：鎔金");
    QTest::newRow("GBK-only characters, header EUC-CN")
        << gbk(gbkOnly) << QByteArray("text/html; charset=euc-cn") << gbkOnly;
    QTest::newRow("GB18030 bytes, unknown label")
        << gbk(text) << QByteArray("text/html; charset=nope") << text;
    QTest::newRow("all detail markers from GB18030 bytes")
        << gbk(markers) << QByteArray() << markers;
    QTest::newRow("all detail markers from utf-8 bytes")
        << markers.toUtf8() << QByteArray() << markers;

    const QByteArray gbMeta = "<meta charset=gb2312>";
    QTest::newRow("GB18030 bytes labelled only in meta")
        << gbMeta + gbk(text) << QByteArray("text/html") << QString::fromLatin1(gbMeta) + text;
    QTest::newRow("empty body") << QByteArray() << QByteArray("text/html; charset=gbk")
                                << QString();
}

void tst_Charset::decode()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, text);
    QCOMPARE(Charset::decode(body, contentType), text);
}

void tst_Charset::decodeReportsCharsetUsed()
{
    QByteArray used;
    const QString text = Charset::decode(gbk(Marker), "text/html; charset=GBK", &used);
    QCOMPARE(text, Marker);
    QCOMPARE(used, QByteArray("GB18030"));
}

void tst_Charset::decodeMarksInvalidBytes()
{
    // A page that lies about its charset still comes out, damaged but not lost.
    const QString text = Charset::decode(gbk(Marker), "text/html; charset=utf-8");
    QVERIFY(!text.isNull());
    QVERIFY(text.contains(QChar::ReplacementCharacter));
    QVERIFY(text.endsWith(u"</p></div>"));
}

void tst_Charset::largePageKeepsMarkersToTheEnd()
{
    // A big unlabelled GBK page: the check for utf-8 must not stop the decode
    // early, and the last marker must survive.
    QByteArray body = gbk(Markers);
    const QByteArray filler = gbk(Sentence) + "<br>\n";
    body.reserve(5 * 1024 * 1024 + 1024);
    while (body.size() < 5 * 1024 * 1024)
        body += filler;
    body += gbk(Marker);

    QByteArray used;
    const QString text = Charset::decode(body, {}, &used);
    QCOMPARE(used, QByteArray("GB18030"));
    QVERIFY(text.startsWith(Markers));
    QVERIFY(text.endsWith(Marker));
    QVERIFY(!text.contains(QChar::ReplacementCharacter));
}

QTEST_APPLESS_MAIN(tst_Charset)
#include "tst_charset.moc"
