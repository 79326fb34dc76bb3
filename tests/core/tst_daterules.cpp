#include "core/DateRules.h"
#include "core/LocalDate.h"
#include "core/ReportText.h"
#include "core/SignTable.h"

#include <QTest>

#include <clocale>

class TestDateRules : public QObject
{
    Q_OBJECT
private slots:
    void tomorrowDate_data();
    void tomorrowDate();
    void pageAddress_data();
    void pageAddress();
    void shortDateIsTheSystems();
};

void TestDateRules::tomorrowDate_data()
{
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QString>("expected");

    QTest::newRow("an ordinary day") << QDate(2013, 12, 27) << "20131228";
    QTest::newRow("a single-digit day") << QDate(2014, 1, 5) << "20140106";
    QTest::newRow("end of January") << QDate(2014, 1, 31) << "20140201";
    QTest::newRow("end of April, 30 days") << QDate(2014, 4, 30) << "20140501";
    QTest::newRow("end of the year") << QDate(2013, 12, 31) << "20140101";
    QTest::newRow("28 February of a leap year") << QDate(2024, 2, 28) << "20240229";
    QTest::newRow("29 February") << QDate(2024, 2, 29) << "20240301";
    QTest::newRow("28 February of a common year") << QDate(2023, 2, 28) << "20230301";
    QTest::newRow("1900 was no leap year") << QDate(1900, 2, 28) << "19000301";
    QTest::newRow("2000 was one") << QDate(2000, 2, 28) << "20000229";
    QTest::newRow("2100 will not be") << QDate(2100, 2, 28) << "21000301";
    QTest::newRow("September to October") << QDate(2026, 9, 30) << "20261001";
}

void TestDateRules::tomorrowDate()
{
    QFETCH(QDate, day);
    QTEST(DateRules::tomorrowDate(day), "expected");
}

void TestDateRules::pageAddress_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("slug");
    QTest::addColumn<bool>("tomorrow");
    QTest::addColumn<QDate>("today");
    QTest::addColumn<QString>("expected");

    const QDate day(2013, 12, 27);
    QTest::newRow("today") << "http://fortune.example"
                           << "aries" << false << day
                           << "http://fortune.example/astro/view/aries/day/";
    QTest::newRow("tomorrow, date straight after the slash")
        << "http://fortune.example"
        << "aquarius" << true << day << "http://fortune.example/astro/view/aquarius/day/20131228";
    QTest::newRow("base with a port and a slash")
        << "http://127.0.0.1:18231/"
        << "sagittarius" << false << day << "http://127.0.0.1:18231/astro/view/sagittarius/day/";
    QTest::newRow("base below a path") << "http://h.example/mirror"
                                       << "leo" << true << QDate(2013, 12, 31)
                                       << "http://h.example/mirror/astro/view/leo/day/20140101";
}

void TestDateRules::pageAddress()
{
    QFETCH(QString, base);
    QFETCH(QString, slug);
    QFETCH(bool, tomorrow);
    QFETCH(QDate, today);
    const SignInfo *sign = SignTable::bySlug(slug);
    QVERIFY(sign);
    const QUrl address = DateRules::pageAddress(
        QUrl(base), *sign, tomorrow ? DayMode::Tomorrow : DayMode::Today, today);
    QTEST(address.toString(), "expected");
}

void TestDateRules::shortDateIsTheSystems()
{
    const QByteArray before = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    QCOMPARE(LocalDate::shortText(QDate(2013, 12, 27)), QStringLiteral("2013-12-27"));
    QCOMPARE(LocalDate::shortText(QDate(2026, 1, 5)), QStringLiteral("2026-01-05"));
    // Elsewhere the system's own short form, as `date +%x` prints it.
    if (std::setlocale(LC_TIME, "zh_CN.UTF-8")) {
        QCOMPARE(LocalDate::shortText(QDate(2013, 12, 27)), QStringLiteral(u"2013年12月27日"));
    } else {
        qWarning("the zh_CN.UTF-8 locale is not generated here (tools/setup-deps.sh does it)");
    }
    std::setlocale(LC_TIME, before.constData());
}

QTEST_GUILESS_MAIN(TestDateRules)
#include "tst_daterules.moc"
