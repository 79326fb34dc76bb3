#include "core/SignFinder.h"
#include "core/SignTable.h"

#include <QDate>
#include <QTest>

#include <utility>

// Birthdays to signs: every day of a leap year against a calendar of first
// days built here, the edges of each sign, and the messages a person reads.
class TestSignFinder : public QObject
{
    Q_OBJECT
private slots:
    void everyDayOfALeapYear();
    void edges_data();
    void edges();
    void impossibleBirthdaysHaveNoSign_data();
    void impossibleBirthdaysHaveNoSign();
    void dayListLengths_data();
    void dayListLengths();
    void messages_data();
    void messages();
};

namespace {

// The day each sign begins, in calendar order; a sign lasts until the day
// before the next one begins.
struct FirstDay
{
    int month;
    int day;
    const char *name;
};

constexpr FirstDay FirstDays[] = {
    {1, 20, "水瓶座"}, {2, 19, "双鱼座"},  {3, 21, "白羊座"},  {4, 20, "金牛座"},
    {5, 21, "双子座"}, {6, 22, "巨蟹座"},  {7, 23, "狮子座"},  {8, 23, "处女座"},
    {9, 23, "天秤座"}, {10, 24, "天蝎座"}, {11, 23, "射手座"}, {12, 22, "摩羯座"},
};

QString expectedSign(QDate date)
{
    // Before 20 January the year's last sign is still running.
    QString name = QString::fromUtf8(FirstDays[11].name);
    for (const FirstDay &first : FirstDays) {
        if (std::pair(date.month(), date.day()) >= std::pair(first.month, first.day))
            name = QString::fromUtf8(first.name);
    }
    return name;
}

QString nameOf(const SignInfo *sign)
{
    return sign ? sign->name.toString() : QStringLiteral("(none)");
}

} // namespace

void TestSignFinder::everyDayOfALeapYear()
{
    int days = 0;
    for (QDate date(2024, 1, 1); date.year() == 2024; date = date.addDays(1)) {
        const SignInfo *sign = SignFinder::signForBirthday(date.month(), date.day());
        QCOMPARE(nameOf(sign) + u' ' + date.toString(Qt::ISODate),
                 expectedSign(date) + u' ' + date.toString(Qt::ISODate));
        ++days;
    }
    QCOMPARE(days, 366);
}

void TestSignFinder::edges_data()
{
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::addColumn<QString>("sign");

    auto row = [](const char *name, int month, int day, const char *sign) {
        QTest::newRow(name) << month << day << QString::fromUtf8(sign);
    };
    row("20 Jan starts 水瓶座", 1, 20, "水瓶座");
    row("19 Jan ends 摩羯座", 1, 19, "摩羯座");
    row("18 Feb ends 水瓶座", 2, 18, "水瓶座");
    row("19 Feb starts 双鱼座", 2, 19, "双鱼座");
    row("29 Feb is 双鱼座", 2, 29, "双鱼座");
    row("20 Mar ends 双鱼座", 3, 20, "双鱼座");
    row("21 Mar starts 白羊座", 3, 21, "白羊座");
    row("19 Apr ends 白羊座", 4, 19, "白羊座");
    row("20 Apr starts 金牛座", 4, 20, "金牛座");
    row("20 May ends 金牛座", 5, 20, "金牛座");
    row("21 May starts 双子座", 5, 21, "双子座");
    row("21 Jun ends 双子座", 6, 21, "双子座");
    row("22 Jun starts 巨蟹座", 6, 22, "巨蟹座");
    row("22 Jul ends 巨蟹座", 7, 22, "巨蟹座");
    row("23 Jul starts 狮子座", 7, 23, "狮子座");
    row("22 Aug ends 狮子座", 8, 22, "狮子座");
    row("23 Aug starts 处女座", 8, 23, "处女座");
    row("22 Sep ends 处女座", 9, 22, "处女座");
    row("23 Sep starts 天秤座", 9, 23, "天秤座");
    row("23 Oct ends 天秤座", 10, 23, "天秤座");
    row("24 Oct starts 天蝎座", 10, 24, "天蝎座");
    row("22 Nov ends 天蝎座", 11, 22, "天蝎座");
    row("23 Nov starts 射手座", 11, 23, "射手座");
    row("21 Dec ends 射手座", 12, 21, "射手座");
    row("22 Dec starts 摩羯座", 12, 22, "摩羯座");
    row("31 Dec is 摩羯座", 12, 31, "摩羯座");
    row("1 Jan is 摩羯座", 1, 1, "摩羯座");
}

void TestSignFinder::edges()
{
    QFETCH(int, month);
    QFETCH(int, day);
    QFETCH(QString, sign);
    const SignInfo *found = SignFinder::signForBirthday(month, day);
    QCOMPARE(nameOf(found), sign);
    // The finder hands back the table's own row, which the main window dispatches.
    QCOMPARE(found, SignTable::byName(sign));
}

void TestSignFinder::impossibleBirthdaysHaveNoSign_data()
{
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");

    QTest::newRow("month 0") << 0 << 15;
    QTest::newRow("month 13") << 13 << 15;
    QTest::newRow("month -1") << -1 << 15;
    // Day 0 of January would pass 摩羯座's "day <= 19" and day 32 of December
    // 摩羯座's "day >= 22".
    QTest::newRow("day 0 of January") << 1 << 0;
    QTest::newRow("day 32 of December") << 12 << 32;
    QTest::newRow("day 32 of January") << 1 << 32;
    QTest::newRow("day 31 of April") << 4 << 31;
}

void TestSignFinder::impossibleBirthdaysHaveNoSign()
{
    QFETCH(int, month);
    QFETCH(int, day);
    QCOMPARE(nameOf(SignFinder::signForBirthday(month, day)), QStringLiteral("(none)"));
}

void TestSignFinder::dayListLengths_data()
{
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("days");

    constexpr int Lengths[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int month = 1; month <= 12; ++month)
        QTest::addRow("month %d has %d days", month, Lengths[month - 1])
            << month << Lengths[month - 1];
}

void TestSignFinder::dayListLengths()
{
    QFETCH(int, month);
    QFETCH(int, days);
    QCOMPARE(SignFinder::daysInMonth(month), days);
    // The last day on every list has a sign.
    QVERIFY(SignFinder::signForBirthday(month, days));
}

void TestSignFinder::messages_data()
{
    QTest::addColumn<QString>("monthText");
    QTest::addColumn<int>("day");
    QTest::addColumn<QString>("message");

    auto row = [](const char *name, const char *month, int day, const char *message) {
        QTest::newRow(name) << QString::fromUtf8(month) << day << QString::fromUtf8(message);
    };
    row("射手座", "11", 23, "您的生日为:11月23日,星座为射手座!");
    row("狮子座 keeps its leading 的", "7", 23, "您的生日为:7月23日,的星座为狮子座!");
    row("水瓶座", "1", 20, "您的生日为:1月20日,星座为水瓶座!");
    row("双鱼座 on a leap day", "2", 29, "您的生日为:2月29日,星座为双鱼座!");
    row("白羊座", "4", 1, "您的生日为:4月1日,星座为白羊座!");
    row("金牛座", "5", 5, "您的生日为:5月5日,星座为金牛座!");
    row("双子座", "6", 1, "您的生日为:6月1日,星座为双子座!");
    row("巨蟹座", "7", 1, "您的生日为:7月1日,星座为巨蟹座!");
    row("处女座", "9", 9, "您的生日为:9月9日,星座为处女座!");
    row("天秤座", "10", 1, "您的生日为:10月1日,星座为天秤座!");
    row("天蝎座", "11", 11, "您的生日为:11月11日,星座为天蝎座!");
    row("摩羯座", "12", 31, "您的生日为:12月31日,星座为摩羯座!");
}

void TestSignFinder::messages()
{
    QFETCH(QString, monthText);
    QFETCH(int, day);
    QFETCH(QString, message);
    const SignInfo *sign = SignFinder::signForBirthday(monthText.toInt(), day);
    QVERIFY(sign);
    QCOMPARE(SignFinder::birthdayMessage(monthText, day, *sign), message);
}

QTEST_APPLESS_MAIN(TestSignFinder)
#include "tst_signfinder.moc"
