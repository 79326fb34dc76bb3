// The pages the offline service makes up must read back, through the
// program's own page cutting, as a complete and plausible fortune.

#include "FortunePages.h"

#include "core/PageParser.h"
#include "core/SignTable.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringEncoder>
#include <QTest>

using PageParser::Aspect;
using PageParser::Detail;

namespace {

const QDate SomeDay(2026, 12, 7);

// True when every character of the encoded text took one or two bytes, that
// is when the text stays inside GBK, the two-byte part of GB18030.
bool onlyGbk(const QByteArray &gb18030)
{
    for (qsizetype i = 0; i < gb18030.size(); ++i) {
        const auto lead = uchar(gb18030[i]);
        if (lead < 0x80)
            continue;
        if (lead == 0x80 || lead == 0xFF || i + 1 >= gb18030.size())
            return false;
        const auto trail = uchar(gb18030[++i]);
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF)
            return false; // 0x30..0x39 here opens a four-byte sequence
    }
    return true;
}

int percentOf(const QString &value)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d{2})%$"));
    const QRegularExpressionMatch match = shape.match(value);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

class FortunePagesTest : public QObject
{
    Q_OBJECT

private slots:
    void readsBackAsAFortune_data();
    void readsBackAsAFortune();
    void hasTheSiteMarkupAroundTheValues_data();
    void hasTheSiteMarkupAroundTheValues();
    void isTheSizeOfARealPage_data();
    void isTheSizeOfARealPage();
    void sameSignAndDayGiveTheSamePage();
    void charsetOnlyChangesTheMetaTag();
    void holdsOnlyGbkCharacters();
    void changesFromDayToDay_data();
    void changesFromDayToDay();
    void differsFromSignToSign();
    void staysInRangeAcrossMonths();
    void slugLookupMatchesTheSignTable();

private:
    static void addSignDayRows();
};

void FortunePagesTest::addSignDayRows()
{
    QTest::addColumn<int>("sign");
    QTest::addColumn<QDate>("date");
    const QDate days[] = {SomeDay, QDate(2028, 2, 29), QDate(2026, 12, 31), QDate(2027, 1, 1),
                          QDate(2000, 3, 1)};
    for (const SignInfo &sign : SignTable::all()) {
        for (const QDate &day : days) {
            QTest::addRow("%s %s", qPrintable(sign.slug.toString()),
                          qPrintable(day.toString(Qt::ISODate)))
                << sign.index << day;
        }
    }
}

void FortunePagesTest::readsBackAsAFortune_data()
{
    addSignDayRows();
}

void FortunePagesTest::readsBackAsAFortune()
{
    QFETCH(int, sign);
    QFETCH(QDate, date);
    const SignInfo &info = *SignTable::byIndex(sign);
    const FortuneReport report = PageParser::parse(FortunePages::pageForSlug(info.slug, date));

    for (Aspect aspect : {Aspect::Overall, Aspect::Love, Aspect::Work, Aspect::Finance}) {
        const int stars = PageParser::starsOf(report, aspect);
        QVERIFY2(stars >= 1 && stars <= 5, qPrintable(QString::number(stars)));
    }

    const int health = percentOf(report.healthIndex);
    QVERIFY2(health >= 60 && health <= 99, qPrintable(report.healthIndex));
    const int negotiation = percentOf(report.negotiationIndex);
    QVERIFY2(negotiation >= 60 && negotiation <= 99, qPrintable(report.negotiationIndex));

    QVERIFY(!report.luckyColour.isEmpty());
    for (const QChar c : report.luckyColour)
        QVERIFY2(c.script() == QChar::Script_Han, qPrintable(report.luckyColour));

    static const QRegularExpression number(QStringLiteral("^(0|[1-9]\\d?)$"));
    QVERIFY2(number.match(report.luckyNumber).hasMatch(), qPrintable(report.luckyNumber));

    const SignInfo *match = SignTable::byName(report.matchingSign);
    QVERIFY2(match, qPrintable(report.matchingSign));
    QVERIFY(match->index != sign);

    QVERIFY2(report.description.size() >= 60 && report.description.size() <= 200,
             qPrintable(report.description));
    QVERIFY(!report.description.contains(u'<'));
    QVERIFY(!report.description.contains(u'>'));
}

void FortunePagesTest::hasTheSiteMarkupAroundTheValues_data()
{
    addSignDayRows();
}

// Each section opens with exactly the marker the program looks for, the star
// pictures sit before the section's first </div>, and nothing else in the page
// looks like a section heading, a star or a description.
void FortunePagesTest::hasTheSiteMarkupAroundTheValues()
{
    QFETCH(int, sign);
    QFETCH(QDate, date);
    const QString page = FortunePages::pageForSlug(SignTable::byIndex(sign)->slug, date);

    QCOMPARE(page.count(u"<h4>"), 9);
    QCOMPARE(page.count(u"<h4", Qt::CaseInsensitive), 9);
    QCOMPARE(page.count(PageParser::descriptionMarker()), 1);

    const PageParser::Sections sections(page);
    QCOMPARE(sections.count(), 10);
    const QStringView starTitles[] = {u"综合运势", u"爱情运势", u"工作状况", u"理财投资"};
    int starsInBlock = 0;
    for (int k = 1; k <= 4; ++k) {
        const QStringView section = sections.at(k);
        const QString opening =
            starTitles[k - 1].toString() +
            u"</h4><p class=\"stars\"><img src=\"/static/img/star.gif\" alt=\"★\"/>";
        QVERIFY2(section.startsWith(opening), qPrintable(section.left(80).toString()));
        QVERIFY(section.contains(u"</p></div><div class=\"item\">"));
        starsInBlock += PageParser::countStars(section);
    }
    // No star picture anywhere but in the four rating sections.
    QCOMPARE(page.count(u"star.gif"), starsInBlock);

    static const QRegularExpression valueShape(QStringLiteral("^[^<]+</p></div>"));
    for (Detail detail :
         {Detail::Health, Detail::Negotiation, Detail::Colour, Detail::Number, Detail::Matching}) {
        const QStringView section = sections.at(int(detail));
        QVERIFY2(section.startsWith(PageParser::detailMarker(detail)),
                 qPrintable(section.left(40).toString()));
        const QStringView rest = section.sliced(PageParser::detailMarker(detail).size());
        QVERIFY2(valueShape.match(rest.toString()).hasMatch(),
                 qPrintable(rest.left(40).toString()));
    }

    // The description follows the last value.
    const qsizetype lastValue = page.lastIndexOf(PageParser::detailMarker(Detail::Matching));
    QVERIFY(lastValue > 0);
    QVERIFY(page.indexOf(PageParser::descriptionMarker()) > lastValue);

    const SignInfo &info = *SignTable::byIndex(sign);
    const QString title = info.name + u"今日运势 " +
                          QStringLiteral("%1年%2月%3日")
                              .arg(date.year())
                              .arg(date.month(), 2, 10, QLatin1Char('0'))
                              .arg(date.day(), 2, 10, QLatin1Char('0'));
    QVERIFY2(page.contains(QString(u"<title>" + title)), qPrintable(title));
    QVERIFY(page.startsWith(u"<!DOCTYPE html>"));
    QVERIFY(page.contains(u"<meta charset=\"utf-8\">"));
    QVERIFY(page.trimmed().endsWith(u"</html>"));
}

void FortunePagesTest::isTheSizeOfARealPage_data()
{
    addSignDayRows();
}

void FortunePagesTest::isTheSizeOfARealPage()
{
    QFETCH(int, sign);
    QFETCH(QDate, date);
    const SignInfo &info = *SignTable::byIndex(sign);
    const qsizetype utf8 = FortunePages::pageForSlug(info.slug, date).toUtf8().size();
    QStringEncoder gbk("GB18030");
    const qsizetype gbkSize =
        QByteArray(gbk.encode(FortunePages::pageForSlug(info.slug, date, "gbk"))).size();
    for (const qsizetype size : {utf8, gbkSize})
        QVERIFY2(size >= 20 * 1024 && size <= 60 * 1024, qPrintable(QString::number(size)));
}

void FortunePagesTest::sameSignAndDayGiveTheSamePage()
{
    for (const SignInfo &sign : SignTable::all()) {
        const QString first = FortunePages::pageForSlug(sign.slug, SomeDay);
        QCOMPARE(FortunePages::pageForSlug(sign.slug, SomeDay), first);
        QCOMPARE(FortunePages::pageForSlug(sign.slug, SomeDay), first);
    }
}

void FortunePagesTest::charsetOnlyChangesTheMetaTag()
{
    const SignInfo &sign = *SignTable::byIndex(7);
    QString gbk = FortunePages::pageForSlug(sign.slug, SomeDay, "gbk");
    QCOMPARE(gbk.count(u"<meta charset=\"gbk\">"), 1);
    gbk.replace(QStringLiteral("<meta charset=\"gbk\">"),
                QStringLiteral("<meta charset=\"utf-8\">"));
    QCOMPARE(gbk, FortunePages::pageForSlug(sign.slug, SomeDay, "utf-8"));
}

void FortunePagesTest::holdsOnlyGbkCharacters()
{
    QStringEncoder encoder("GB18030");
    QVERIFY(encoder.isValid());
    QStringList pages{FortunePages::indexPage("gbk"), FortunePages::makerForumPage("gbk"),
                      FortunePages::partnerForumPage("gbk"), FortunePages::notFoundPage("gbk")};
    // A month of every sign meets every phrase, colour and name the pages use.
    for (const SignInfo &sign : SignTable::all()) {
        for (int day = 0; day < 31; ++day)
            pages.append(FortunePages::pageForSlug(sign.slug, SomeDay.addDays(day), "gbk"));
    }
    for (const QString &page : std::as_const(pages)) {
        const QByteArray bytes = encoder.encode(page);
        QVERIFY(!encoder.hasError());
        QVERIFY2(onlyGbk(bytes), qPrintable(page.left(200)));
    }
}

void FortunePagesTest::changesFromDayToDay_data()
{
    QTest::addColumn<int>("sign");
    for (const SignInfo &sign : SignTable::all())
        QTest::newRow(qPrintable(sign.slug.toString())) << sign.index;
}

void FortunePagesTest::changesFromDayToDay()
{
    QFETCH(int, sign);
    const SignInfo &info = *SignTable::byIndex(sign);
    QList<FortuneReport> week;
    for (int day = 0; day < 7; ++day) {
        const FortuneReport report =
            PageParser::parse(FortunePages::pageForSlug(info.slug, SomeDay.addDays(day)));
        QVERIFY2(!week.contains(report), qPrintable(QStringLiteral("day %1 repeats").arg(day)));
        week.append(report);
    }
}

void FortunePagesTest::differsFromSignToSign()
{
    for (const QDate &day : {SomeDay, QDate(2028, 2, 29)}) {
        QList<FortuneReport> reports;
        QSet<QString> descriptions;
        for (const SignInfo &sign : SignTable::all()) {
            const FortuneReport report =
                PageParser::parse(FortunePages::pageForSlug(sign.slug, day));
            QVERIFY2(!reports.contains(report), qPrintable(sign.slug.toString()));
            reports.append(report);
            descriptions.insert(report.description);
        }
        // The descriptions are made of a few phrase tables, yet should rarely meet.
        QVERIFY2(descriptions.size() >= 10, qPrintable(QString::number(descriptions.size())));
    }
}

// Over four months of every sign: one star turns up but stays rare, every
// rating from one to five appears, and the values keep their ranges.
void FortunePagesTest::staysInRangeAcrossMonths()
{
    std::array<int, 6> starTally{};
    QSet<QString> colours;
    QSet<QString> numbers;
    int pages = 0;
    for (const SignInfo &sign : SignTable::all()) {
        for (int day = 0; day < 120; ++day) {
            const FortuneReport report = PageParser::parse(
                FortunePages::pageForSlug(sign.slug, QDate(2026, 9, 1).addDays(day)));
            ++pages;
            for (int stars :
                 {report.overallStars, report.loveStars, report.workStars, report.financeStars}) {
                QVERIFY(stars >= 1 && stars <= 5);
                ++starTally[stars];
            }
            QVERIFY(report.description.size() >= 60 && report.description.size() <= 200);
            const int health = percentOf(report.healthIndex);
            QVERIFY(health >= 60 && health <= 99);
            colours.insert(report.luckyColour);
            numbers.insert(report.luckyNumber);
        }
    }
    const int ratings = pages * 4;
    for (int stars = 1; stars <= 5; ++stars)
        QVERIFY2(starTally[stars] > 0, qPrintable(QString::number(stars)));
    QVERIFY2(starTally[1] * 8 < ratings, qPrintable(QString::number(starTally[1])));
    QVERIFY(colours.size() >= 6);
    QVERIFY(numbers.size() >= 50);
}

void FortunePagesTest::slugLookupMatchesTheSignTable()
{
    for (const SignInfo &sign : SignTable::all()) {
        QVERIFY(FortunePages::knowsSlug(sign.slug));
        const QString heading = u"<h1>" + sign.name;
        QVERIFY(FortunePages::pageForSlug(sign.slug, SomeDay).contains(heading));
        const QString link = u"/astro/view/" + sign.slug + u"/day/";
        QVERIFY(FortunePages::indexPage().contains(link));
    }
    QVERIFY(!FortunePages::knowsSlug(u"ophiuchus"));
    QVERIFY(FortunePages::pageForSlug(u"ophiuchus", SomeDay).isEmpty());
    QVERIFY(FortunePages::pageForSlug(u"aries", QDate()).isEmpty());
}

QTEST_GUILESS_MAIN(FortunePagesTest)
#include "tst_servicepages.moc"
