#include "core/SignTable.h"

#include <QDate>
#include <QTest>

#include <set>

class TestSignTable : public QObject
{
    Q_OBJECT
private slots:
    void rowsFollowTheButtons();
    void datesTileTheYear();
    void statusTexts_data();
    void statusTexts();
    void lookupsFindEveryRow();
    void lookupsRejectUnknownKeys();
    void checkOrderWalk();
    void fieldsAreUnique();
};

void TestSignTable::rowsFollowTheButtons()
{
    QCOMPARE(SignTable::all().size(), 12);
    for (const SignInfo &sign : SignTable::all()) {
        QCOMPARE(&SignTable::all().at(SignTable::position(sign)), &sign);
        QCOMPARE(sign.button.toString(), QStringLiteral("Command%1").arg(sign.index));
        QCOMPARE(sign.name.size(), 3);
        QCOMPARE(sign.picture.toString(), u"i" + sign.code.toString());
    }
}

void TestSignTable::datesTileTheYear()
{
    // Each sign starts the day after the one before it ends, once round a
    // leap year: no day in two signs, none in no sign.
    qint64 days = 0;
    for (const SignInfo &sign : SignTable::all()) {
        const SignInfo &next = SignTable::all().at((SignTable::position(sign) + 1) % 12);
        const QDate first(2024, sign.firstMonth, sign.firstDay);
        QDate last(2024, sign.lastMonth, sign.lastDay);
        if (last < first)
            last = last.addYears(1);
        const QDate after = last.addDays(1);
        QCOMPARE(after, QDate(after.year(), next.firstMonth, next.firstDay));
        days += first.daysTo(last) + 1;
    }
    QCOMPARE(days, 366);
    QCOMPARE(SignTable::byIndex(10)->dateRange(), QStringLiteral("12/22-01/19"));
}

void TestSignTable::statusTexts_data()
{
    QTest::addColumn<QString>("slug");
    QTest::addColumn<QString>("fetchingToday");
    QTest::addColumn<QString>("fetchingTomorrow");
    QTest::addColumn<QString>("doneToday");
    QTest::addColumn<QString>("doneTomorrow");

    // Only 水瓶座 fetches under a shorter name.
    QTest::newRow("aquarius, fetched as 水瓶")
        << QStringLiteral("aquarius") << QStringLiteral("水瓶今日运势获取中...")
        << QStringLiteral("水瓶明日运势获取中...") << QStringLiteral("水瓶座今日运势获取完毕...")
        << QStringLiteral("水瓶座明日运势获取完毕...");
    QTest::newRow("aries") << QStringLiteral("aries") << QStringLiteral("白羊座今日运势获取中...")
                           << QStringLiteral("白羊座明日运势获取中...")
                           << QStringLiteral("白羊座今日运势获取完毕...")
                           << QStringLiteral("白羊座明日运势获取完毕...");
}

void TestSignTable::statusTexts()
{
    QFETCH(QString, slug);
    const SignInfo *sign = SignTable::bySlug(slug);
    QVERIFY(sign);
    QTEST(SignTable::fetchingText(*sign, DayMode::Today), "fetchingToday");
    QTEST(SignTable::fetchingText(*sign, DayMode::Tomorrow), "fetchingTomorrow");
    QTEST(SignTable::doneText(*sign, DayMode::Today), "doneToday");
    QTEST(SignTable::doneText(*sign, DayMode::Tomorrow), "doneTomorrow");
    // "..." is three ASCII full stops, never an ellipsis character.
    QVERIFY(SignTable::doneText(*sign, DayMode::Today).endsWith(u"..."));
    QCOMPARE(SignTable::failedText(*sign, DayMode::Tomorrow), sign->name + u"明日运势获取失败...");
}

void TestSignTable::lookupsFindEveryRow()
{
    for (const SignInfo &sign : SignTable::all()) {
        QCOMPARE(SignTable::byIndex(sign.index), &sign);
        QCOMPARE(SignTable::byCode(sign.code), &sign);
        QCOMPARE(SignTable::byName(sign.name), &sign);
        QCOMPARE(SignTable::bySlug(sign.slug), &sign);
    }
}

void TestSignTable::lookupsRejectUnknownKeys()
{
    QCOMPARE(SignTable::byIndex(0), nullptr);
    QCOMPARE(SignTable::byIndex(13), nullptr);
    QCOMPARE(SignTable::byCode(u"MY"), nullptr);
    QCOMPARE(SignTable::byName(u"水瓶"), nullptr);
    QCOMPARE(SignTable::byName(u"星座名称"), nullptr);
    QCOMPARE(SignTable::byName(u" 白羊座"), nullptr);
    QCOMPARE(SignTable::bySlug(u"Aries"), nullptr);
}

void TestSignTable::checkOrderWalk()
{
    QStringList walked;
    for (const SignInfo *sign : SignTable::inCheckOrder())
        walked << sign->name.toString();
    QCOMPARE(walked, QStringList({"白羊座", "双子座", "金牛座", "巨蟹座", "狮子座", "处女座",
                                  "天秤座", "天蝎座", "射手座", "摩羯座", "水瓶座", "双鱼座"}));
}

void TestSignTable::fieldsAreUnique()
{
    std::set<QString> seen;
    for (const SignInfo &sign : SignTable::all()) {
        for (QStringView field : {sign.button, sign.name, sign.code, sign.slug, sign.picture}) {
            QVERIFY2(seen.insert(field.toString()).second, qPrintable(field.toString()));
        }
    }
}

QTEST_GUILESS_MAIN(TestSignTable)
#include "tst_signtable.moc"
