#include "core/ReportText.h"

#include <QTest>

// The copied fortune: fifteen CR LF lines that repeat the panel as shown.
class TestReportText : public QObject
{
    Q_OBJECT
private slots:
    void wholeReport();
    void lineShape();
    void spacerLinesAreOneSpace();
    void captionsAsTheyStand_data();
    void captionsAsTheyStand();
    void starCounts_data();
    void starCounts();
    void tomorrowMode();
    void messages();
    void footerStaysLast();
    void footerText_data();
    void footerText();

private:
    static ReportText::ShownFortune scorpioToday();
};

namespace {

const QString Date = QStringLiteral("2013-12-27");
const QString Footer = QStringLiteral("本信息由澄川知微阁提供!官方论坛:HTTP://bbs.example.org/");

} // namespace

ReportText::ShownFortune TestReportText::scorpioToday()
{
    ReportText::ShownFortune shown;
    shown.signName = QStringLiteral("天蝎座");
    shown.modeText = QStringLiteral("今日运势");
    shown.overallStars = 3;
    shown.loveStars = 4;
    shown.workStars = 2;
    shown.financeStars = 5;
    shown.captions = {
        QStringLiteral("健康指数:85%"),    QStringLiteral("商谈指数:70%"),
        QStringLiteral("幸运颜色:紫色"),   QStringLiteral("幸运数字:7"),
        QStringLiteral("速配星座:双鱼座"), QStringLiteral("今天适合整理思路，不宜冲动消费。")};
    return shown;
}

void TestReportText::wholeReport()
{
    const QString expected = QStringLiteral("天蝎座今日运势\r\n"
                                            "[2013-12-27]:\r\n"
                                            "综合运势:3颗星\r\n"
                                            "爱情运势:4颗星\r\n"
                                            "工作状况:2颗星\r\n"
                                            "理财投资:5颗星\r\n"
                                            "健康指数:85%\r\n"
                                            "商谈指数:70%\r\n"
                                            "幸运颜色:紫色\r\n"
                                            "幸运数字:7\r\n"
                                            "速配星座:双鱼座\r\n"
                                            " \r\n"
                                            "今天适合整理思路，不宜冲动消费。\r\n"
                                            " \r\n") +
                             Footer;
    QCOMPARE(ReportText::build(scorpioToday(), Date, Footer), expected);
}

void TestReportText::lineShape()
{
    const QString report = ReportText::build(scorpioToday(), Date, Footer);
    QCOMPARE(report.split(QStringLiteral("\r\n")).size(), 15);
    // Every break is a CR LF pair: no lone CR or LF anywhere.
    QCOMPARE(report.count(u'\n'), 14);
    QCOMPARE(report.count(u'\r'), 14);
    QVERIFY(!report.endsWith(u'\n'));
    QVERIFY(!report.endsWith(u'\r'));
}

void TestReportText::spacerLinesAreOneSpace()
{
    ReportText::ShownFortune shown = scorpioToday();
    shown.captions = {};
    const QStringList lines = ReportText::build(shown, Date, Footer).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 15);
    QCOMPARE(lines[11], QStringLiteral(" "));
    QCOMPARE(lines[13], QStringLiteral(" "));
    // Empty captions stay empty lines, not spacers.
    for (int i : {6, 7, 8, 9, 10, 12})
        QCOMPARE(lines[i], QString());
}

void TestReportText::captionsAsTheyStand_data()
{
    QTest::addColumn<int>("label"); // 5..10
    QTest::addColumn<QString>("caption");

    QTest::newRow("markup in Label5 is not interpreted")
        << 5 << QStringLiteral("健康指数:<b>90%</b>");
    QTest::newRow("entity in Label8 is not decoded") << 8 << QStringLiteral("幸运数字:&amp;3");
    QTest::newRow("trailing spaces in Label7 are kept") << 7 << QStringLiteral("幸运颜色:红  ");
    QTest::newRow("CR inside Label10 is kept") << 10 << QStringLiteral("上半天\r下半天");
    QTest::newRow("LF inside Label10 is kept") << 10 << QStringLiteral("上半天\n下半天");
    QTest::newRow("prefix-less Label9") << 9 << QStringLiteral("双鱼座");
}

void TestReportText::captionsAsTheyStand()
{
    QFETCH(int, label);
    QFETCH(QString, caption);
    ReportText::ShownFortune shown = scorpioToday();
    shown.captions[label - 5] = caption;
    const QString report = ReportText::build(shown, Date, Footer);

    // Line of each label: Label5..Label9 are lines 7..11, Label10 line 13.
    const int line = label == 10 ? 13 : label + 2;
    const QString head = ReportText::build(scorpioToday(), Date, Footer)
                             .split(QStringLiteral("\r\n"))
                             .mid(0, line - 1)
                             .join(QStringLiteral("\r\n"));
    QVERIFY(report.startsWith(head + QStringLiteral("\r\n") + caption + QStringLiteral("\r\n")));
    QVERIFY(report.endsWith(Footer));
}

void TestReportText::starCounts_data()
{
    QTest::addColumn<int>("overall");
    QTest::addColumn<int>("love");
    QTest::addColumn<int>("work");
    QTest::addColumn<int>("finance");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("a 0 count is written, not dropped")
        << 1 << 5 << 0 << 3
        << QStringList{"综合运势:1颗星", "爱情运势:5颗星", "工作状况:0颗星", "理财投资:3颗星"};
    QTest::newRow("two digits without padding")
        << 10 << 0 << 0 << 0
        << QStringList{"综合运势:10颗星", "爱情运势:0颗星", "工作状况:0颗星", "理财投资:0颗星"};
}

void TestReportText::starCounts()
{
    QFETCH(int, overall);
    QFETCH(int, love);
    QFETCH(int, work);
    QFETCH(int, finance);
    QFETCH(QStringList, lines);
    ReportText::ShownFortune shown = scorpioToday();
    shown.overallStars = overall;
    shown.loveStars = love;
    shown.workStars = work;
    shown.financeStars = finance;
    QCOMPARE(ReportText::build(shown, Date, Footer).split(QStringLiteral("\r\n")).mid(2, 4), lines);
}

void TestReportText::tomorrowMode()
{
    ReportText::ShownFortune shown = scorpioToday();
    shown.signName = QStringLiteral("白羊座");
    shown.modeText = QStringLiteral("明日运势");
    const QStringList lines = ReportText::build(shown, QStringLiteral("2013-12-28"), Footer)
                                  .split(QStringLiteral("\r\n"));
    QCOMPARE(lines[0], QStringLiteral("白羊座明日运势"));
    QCOMPARE(lines[1], QStringLiteral("[2013-12-28]:"));
}

void TestReportText::messages()
{
    QCOMPARE(ReportText::copiedMessage(QStringLiteral("天蝎座"), QStringLiteral("今日运势")),
             QStringLiteral("天蝎座今日运势已复制!"));
    QCOMPARE(ReportText::copiedMessage(QStringLiteral("水瓶座"), QStringLiteral("明日运势")),
             QStringLiteral("水瓶座明日运势已复制!"));
}

void TestReportText::footerStaysLast()
{
    const QString footer = ReportText::footerText(QUrl(QStringLiteral("http://bbs.example.org")));
    const QString report = ReportText::build(scorpioToday(), Date, footer);
    QCOMPARE(report.split(QStringLiteral("\r\n")).last(),
             QStringLiteral("本信息由澄川知微阁提供!官方论坛:HTTP://bbs.example.org/"));
}

void TestReportText::footerText_data()
{
    QTest::addColumn<QString>("forum");
    QTest::addColumn<QString>("expected");

    QTest::newRow("host only gets a slash")
        << "http://bbs.example.com"
        << "本信息由澄川知微阁提供!官方论坛:HTTP://bbs.example.com/";
    QTest::newRow("path keeps its slash")
        << "http://127.0.0.1:18231/bbs/"
        << "本信息由澄川知微阁提供!官方论坛:HTTP://127.0.0.1:18231/bbs/";
    QTest::newRow("https") << "https://forum.example/"
                           << "本信息由澄川知微阁提供!官方论坛:HTTPS://forum.example/";
}

void TestReportText::footerText()
{
    QFETCH(QString, forum);
    QTEST(ReportText::footerText(QUrl(forum)), "expected");
}

QTEST_APPLESS_MAIN(TestReportText)
#include "tst_reporttext.moc"
