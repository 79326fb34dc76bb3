#include "core/PageParser.h"

#include <QTest>

using PageParser::Aspect;
using PageParser::Detail;

namespace {

// A page in the site's layout, with the given sections 1..9 after the <h4>s.
QString pageWith(std::initializer_list<QString> sections, const QString &head = QString(),
                 const QString &tail = QString())
{
    QString page =
        QStringLiteral("<html><body><div class=\"top\">") + head + QStringLiteral("</div>");
    for (const QString &section : sections)
        page += QStringLiteral("<h4>") + section;
    return page + tail + QStringLiteral("</body></html>");
}

QString stars(int n)
{
    return QStringLiteral("<img src=\"/img/star.gif\"/>").repeated(n);
}

QString wellFormedPage()
{
    return pageWith(
        {QStringLiteral("综合运势</h4><p>") + stars(3) + QStringLiteral("</p></div><div>"),
         QStringLiteral("爱情运势</h4><p>") + stars(2) + QStringLiteral("</p></div><div>"),
         QStringLiteral("工作状况</h4><p>") + stars(4) + QStringLiteral("</p></div><div>"),
         QStringLiteral("理财投资</h4><p>") + stars(5) + QStringLiteral("</p></div><div>"),
         QStringLiteral("健康指数</h4><p>85%</p></div><div>"),
         QStringLiteral("商谈指数</h4><p>70%</p></div><div>"),
         QStringLiteral("幸运颜色</h4><p>红色</p></div><div>"),
         QStringLiteral("幸运数字</h4><p>7</p></div><div>"),
         QStringLiteral("速配星座</h4><p>天秤座</p></div>")},
        {}, QStringLiteral("<div class=\"lotconts\">今天适合学习。</div>"));
}

} // namespace

class TestPageParser : public QObject
{
    Q_OBJECT
private slots:
    void sections_data();
    void sections();
    void countStars_data();
    void countStars();
    void cutValue_data();
    void cutValue();
    void cutDescription_data();
    void cutDescription();
    void wholePage();
    void missingSectionsLeaveValuesEmpty();
    void parsingTwiceGivesTheSame();
    void hugePageWithoutMarkers();
};

void TestPageParser::sections_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no heading") << QStringLiteral("abc") << QStringList{"abc"};
    QTest::newRow("empty page") << QString() << QStringList{""};
    QTest::newRow("two headings") << QStringLiteral("a<h4>b<h4>c") << QStringList{"a", "b", "c"};
    QTest::newRow("heading at the very end") << QStringLiteral("a<h4>") << QStringList{"a", ""};
    QTest::newRow("capital H4 is no boundary")
        << QStringLiteral("a<H4>b<h4>c") << QStringList{"a<H4>b", "c"};
    QTest::newRow("adjacent headings") << QStringLiteral("<h4><h4>x") << QStringList{"", "", "x"};
    QTest::newRow("only sections up to 9 are kept, 9 ends at the 10th heading")
        << QStringLiteral("0<h4>1<h4>2<h4>3<h4>4<h4>5<h4>6<h4>7<h4>8<h4>9<h4>10<h4>11")
        << QStringList{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    QTest::newRow("the last section read is kept up to its first div end")
        << QStringLiteral("0<h4>1<h4>2<h4>3<h4>4<h4>5<h4>6<h4>7<h4>8<h4>9</div>x<h4>10")
        << QStringList{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9</div>"};
    QTest::newRow("a 10th heading before the div end still ends it")
        << QStringLiteral("0<h4>1<h4>2<h4>3<h4>4<h4>5<h4>6<h4>7<h4>8<h4>9<h4>10</div>")
        << QStringList{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
}

void TestPageParser::sections()
{
    QFETCH(QString, page);
    QFETCH(QStringList, expected);
    const PageParser::Sections sections(page);
    QCOMPARE(sections.count(), expected.size());
    for (int k = 0; k < expected.size(); ++k)
        QCOMPARE(sections.at(k).toString(), expected[k]);
    QCOMPARE(sections.at(expected.size()).toString(), QString());
    QCOMPARE(sections.hasAnyHeading(), expected.size() > 1);
}

void TestPageParser::countStars_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<int>("expected");

    QTest::newRow("three before the div end, two after")
        << QStringLiteral("综合运势</h4><p>") + stars(3) + QStringLiteral("</p></div>") + stars(2)
        << 3;
    QTest::newRow("five") << stars(5) + QStringLiteral("</div>") << 5;
    QTest::newRow("six") << stars(6) + QStringLiteral("</div>") << 6;
    QTest::newRow("none before the div end") << QStringLiteral("x</div>") + stars(4) << 0;
    QTest::newRow("no div end at all") << stars(3) << 0;
    QTest::newRow("empty section") << QString() << 0;
    QTest::newRow("capitals do not count") << QStringLiteral("STAR.GIF Star.gif</div>") << 0;
    QTest::newRow("a longer name ending in it counts once")
        << QStringLiteral("<img src=bigstar.gif></div>") << 1;
    QTest::newRow("name inside other words counts")
        << QStringLiteral("star.gifstar.gif.png</div>") << 2;
    QTest::newRow("only the first div end matters")
        << QStringLiteral("star.gif</div>star.gif</div>") << 1;
    QTest::newRow("a div end split by the name does not end early")
        << QStringLiteral("star.gif</di star.gif v></div>") << 2;
}

void TestPageParser::countStars()
{
    QFETCH(QString, section);
    QTEST(PageParser::countStars(section), "expected");
}

void TestPageParser::cutValue_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<int>("detail");
    QTest::addColumn<QString>("expected");

    const int health = int(Detail::Health);
    const int number = int(Detail::Number);
    const int colour = int(Detail::Colour);
    QTest::newRow("well formed") << QStringLiteral("健康指数</h4><p>85%</p></div>") << health
                                 << QStringLiteral("85%");
    QTest::newRow("each detail has its own marker")
        << QStringLiteral("速配星座</h4><p>天秤座</p></div>") << int(Detail::Matching)
        << QStringLiteral("天秤座");
    QTest::newRow("text after the div end is dropped")
        << QStringLiteral("幸运数字</h4><p>7</p></div><div>8</div>") << number
        << QStringLiteral("7");
    QTest::newRow("no div end gives nothing")
        << QStringLiteral("幸运数字</h4><p>7</p>") << number << QString();
    QTest::newRow("a missing marker keeps the heading")
        << QStringLiteral("其他</h4><p>7</p></div>") << number << QStringLiteral("其他</h4><p>7");
    QTest::newRow("another detail's marker is not removed")
        << QStringLiteral("健康指数</h4><p>7</p></div>") << number
        << QStringLiteral("健康指数</h4><p>7");
    QTest::newRow("a line break before the div end stays")
        << QStringLiteral("幸运数字</h4><p>7</p>\n</div>") << number << QStringLiteral("7</p>\n<");
    QTest::newRow("markup in a value stays literal")
        << QStringLiteral("幸运颜色</h4><p><b>红</b></p></div>") << colour
        << QStringLiteral("<b>红</b>");
    QTest::newRow("every paragraph joint is removed")
        << QStringLiteral("幸运颜色</h4><p>红</p><p>蓝</p></div>") << colour
        << QStringLiteral("红p>蓝");
    QTest::newRow("the marker is removed everywhere")
        << QStringLiteral("幸运颜色</h4><p>红幸运颜色</h4><p>色</p></div>") << colour
        << QStringLiteral("红色");
    QTest::newRow("removing the marker can join a div end")
        << QStringLiteral("幸运颜色</h4><p>红</di幸运颜色</h4><p>v>蓝") << colour
        << QStringLiteral("红<");
    QTest::newRow("joints go in one pass: a joint the removal forms stays")
        << QStringLiteral("幸运颜色</h4><p>红</</p><p><蓝</p></div>") << colour
        << QStringLiteral("红</p><蓝");
    QTest::newRow("empty value") << QStringLiteral("健康指数</h4><p></p></div>") << health
                                 << QString();
    QTest::newRow("empty section") << QString() << health << QString();
}

void TestPageParser::cutValue()
{
    QFETCH(QString, section);
    QFETCH(int, detail);
    QTEST(PageParser::cutValue(section, Detail(detail)), "expected");
}

void TestPageParser::cutDescription_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QStringLiteral("<div class=\"lotconts\">今天适合学习。</div>")
                           << QStringLiteral("今天适合学习。");
    QTest::newRow("a line break tag leaves its rest")
        << QStringLiteral("<div class=\"lotconts\">今天<br/>适合</div>")
        << QStringLiteral("今天br/>适合");
    QTest::newRow("capital marker is not found")
        << QStringLiteral("<DIV class=\"lotconts\">x</div>") << QString();
    QTest::newRow("single quotes are not found")
        << QStringLiteral("<div class='lotconts'>x</div>") << QString();
    QTest::newRow("no div end after the marker")
        << QStringLiteral("</div><div class=\"lotconts\">x") << QString();
    QTest::newRow("the first block wins, even before the first heading")
        << QStringLiteral("<div class=\"lotconts\">一</div><h4><div class=\"lotconts\">二</div>")
        << QStringLiteral("一");
    QTest::newRow("every < goes, the rest stays")
        << QStringLiteral("<div class=\"lotconts\"><p>好</p></div>") << QStringLiteral("p>好/p>");
    QTest::newRow("no marker") << QStringLiteral("<h4>综合运势</h4>") << QString();
}

void TestPageParser::cutDescription()
{
    QFETCH(QString, page);
    QTEST(PageParser::cutDescription(page), "expected");
}

void TestPageParser::wholePage()
{
    const FortuneReport report = PageParser::parse(wellFormedPage());
    QCOMPARE(report.overallStars, 3);
    QCOMPARE(report.loveStars, 2);
    QCOMPARE(report.workStars, 4);
    QCOMPARE(report.financeStars, 5);
    QCOMPARE(report.healthIndex, QStringLiteral("85%"));
    QCOMPARE(report.negotiationIndex, QStringLiteral("70%"));
    QCOMPARE(report.luckyColour, QStringLiteral("红色"));
    QCOMPARE(report.luckyNumber, QStringLiteral("7"));
    QCOMPARE(report.matchingSign, QStringLiteral("天秤座"));
    QCOMPARE(report.description, QStringLiteral("今天适合学习。"));
    // Stars before the first heading count for no aspect.
    const FortuneReport withStarsInHead =
        PageParser::parse(pageWith({QStringLiteral("综合运势</h4><p></p></div>")}, stars(4)));
    QCOMPARE(withStarsInHead.overallStars, 0);
}

void TestPageParser::missingSectionsLeaveValuesEmpty()
{
    const FortuneReport report = PageParser::parse(
        pageWith({stars(1) + QStringLiteral("</div>"), stars(2) + QStringLiteral("</div>"),
                  stars(3) + QStringLiteral("</div>"), stars(4) + QStringLiteral("</div>"),
                  QStringLiteral("健康指数</h4><p>60%</p></div>"),
                  QStringLiteral("商谈指数</h4><p>61%</p></div>")}));
    QCOMPARE(report.financeStars, 4);
    QCOMPARE(report.negotiationIndex, QStringLiteral("61%"));
    QCOMPARE(report.luckyColour, QString());
    QCOMPARE(report.luckyNumber, QString());
    QCOMPARE(report.matchingSign, QString());
    QCOMPARE(report.description, QString());
    QCOMPARE(PageParser::parse(QString()), FortuneReport());
}

void TestPageParser::parsingTwiceGivesTheSame()
{
    const QString page = wellFormedPage();
    QCOMPARE(PageParser::parse(page), PageParser::parse(page));
}

void TestPageParser::hugePageWithoutMarkers()
{
    // A 5 MB page of noise: nothing found, nothing thrown.
    const QString page = QStringLiteral("<div>noise star.gi</p><").repeated(200'000);
    const FortuneReport report = PageParser::parse(page);
    QCOMPARE(report, FortuneReport());
}

QTEST_GUILESS_MAIN(TestPageParser)
#include "tst_pageparser.moc"
