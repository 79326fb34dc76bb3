#include "core/SignTable.h"

#include <QTest>

#include <set>

class TestSignTable : public QObject
{
    Q_OBJECT
private slots:
    void rows_data();
    void rows();
    void statusTexts_data();
    void statusTexts();
    void lookupsFindEveryRow();
    void lookupsRejectUnknownKeys();
    void checkOrderWalk();
    void fieldsAreUnique();
};

void TestSignTable::rows_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fetchName");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("dispatcher");
    QTest::addColumn<QString>("slug");
    QTest::addColumn<QString>("dateRange");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<int>("checkOrder");

    auto row = [](int index, const char *button, const char *name, const char *fetchName,
                  const char *code, const char *dispatcher, const char *slug, const char *dateRange,
                  const char *picture, int checkOrder) {
        QTest::newRow(slug) << index << QString::fromUtf8(button) << QString::fromUtf8(name)
                            << QString::fromUtf8(fetchName) << QString::fromUtf8(code)
                            << QString::fromUtf8(dispatcher) << QString::fromUtf8(slug)
                            << QString::fromUtf8(dateRange) << QString::fromUtf8(picture)
                            << checkOrder;
    };
    row(1, "Command1", "白羊座", "白羊座", "my", "bydj", "aries", "03/21-04/19", "imy", 1);
    row(2, "Command2", "金牛座", "金牛座", "jn", "jndj", "taurus", "04/20-05/20", "ijn", 3);
    row(3, "Command3", "双子座", "双子座", "sz", "szdj", "gemini", "05/21-06/21", "isz", 2);
    row(4, "Command4", "巨蟹座", "巨蟹座", "jx", "jxdj", "cancer", "06/22-07/22", "ijx", 4);
    row(5, "Command5", "狮子座", "狮子座", "zz", "zzdj", "leo", "07/23-08/22", "izz", 5);
    row(6, "Command6", "处女座", "处女座", "cv", "cvdj", "virgo", "08/23-09/22", "icv", 6);
    row(7, "Command7", "天秤座", "天秤座", "tc", "tcdj", "libra", "09/23-10/23", "itc", 7);
    row(8, "Command8", "天蝎座", "天蝎座", "tx", "txdj", "scorpio", "10/24-11/22", "itx", 8);
    row(9, "Command9", "射手座", "射手座", "ss", "ssdj", "sagittarius", "11/23-12/21", "iss", 9);
    row(10, "Command10", "摩羯座", "摩羯座", "mj", "mjdj", "capricorn", "12/22-01/19", "imj", 10);
    row(11, "Command11", "水瓶座", "水瓶", "sp", "spdj", "aquarius", "01/20-02/18", "isp", 11);
    row(12, "Command12", "双鱼座", "双鱼座", "sy", "sydj", "pisces", "02/19-03/20", "isy", 12);
}

void TestSignTable::rows()
{
    QFETCH(int, index);
    const SignInfo *sign = SignTable::byIndex(index);
    QVERIFY(sign);
    QCOMPARE(sign->index, index);
    QTEST(sign->button.toString(), "button");
    QTEST(sign->name.toString(), "name");
    QTEST(sign->fetchName.toString(), "fetchName");
    QTEST(sign->code.toString(), "code");
    QTEST(sign->dispatcher.toString(), "dispatcher");
    QTEST(sign->slug.toString(), "slug");
    QTEST(sign->dateRange(), "dateRange");
    QTEST(sign->picture.toString(), "picture");
    QTEST(sign->checkOrder, "checkOrder");
    QCOMPARE(sign->name.size(), 3);
    QCOMPARE(sign->picture.toString(), u"i" + sign->code.toString());
}

void TestSignTable::statusTexts_data()
{
    QTest::addColumn<QString>("slug");
    QTest::addColumn<QString>("fetchingToday");
    QTest::addColumn<QString>("fetchingTomorrow");
    QTest::addColumn<QString>("doneToday");
    QTest::addColumn<QString>("doneTomorrow");

    for (const SignInfo &sign : SignTable::all()) {
        const QString name = sign.name.toString();
        // Only 水瓶座 fetches under a shorter name; it is checked literally below.
        const QString fetchName = sign.slug == u"aquarius" ? QStringLiteral("水瓶") : name;
        QTest::newRow(qPrintable(sign.slug.toString()))
            << sign.slug.toString() << fetchName + u"今日运势获取中..."
            << fetchName + u"明日运势获取中..." << name + u"今日运势获取完毕..."
            << name + u"明日运势获取完毕...";
    }
    QTest::newRow("aquarius literally")
        << QStringLiteral("aquarius") << QStringLiteral("水瓶今日运势获取中...")
        << QStringLiteral("水瓶明日运势获取中...") << QStringLiteral("水瓶座今日运势获取完毕...")
        << QStringLiteral("水瓶座明日运势获取完毕...");
    QTest::newRow("aries literally")
        << QStringLiteral("aries") << QStringLiteral("白羊座今日运势获取中...")
        << QStringLiteral("白羊座明日运势获取中...") << QStringLiteral("白羊座今日运势获取完毕...")
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
        for (QStringView field :
             {sign.button, sign.name, sign.code, sign.dispatcher, sign.slug, sign.picture}) {
            QVERIFY2(seen.insert(field.toString()).second, qPrintable(field.toString()));
        }
    }
}

QTEST_GUILESS_MAIN(TestSignTable)
#include "tst_signtable.moc"
