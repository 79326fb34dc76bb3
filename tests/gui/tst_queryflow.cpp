#include "app/Form1.h"
#include "platform/ClickLabel.h"
#include "platform/StatusBar.h"
#include "platform/TextBox.h"

#include "HttpServer.h"
#include "TestPages.h"
#include "WindowKit.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using httpkit::Response;

// From a click on a sign button to the fortune on show, against a real HTTP
// server on 127.0.0.1. The one-second completion timers run for real.
class TestQueryFlow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void todayQueryFillsThePanel();
    void tomorrowQueryAsksForTheDatedPage();
    void tomorrowDateFollowsTheClock_data();
    void tomorrowDateFollowsTheClock();
    void pastMidnightAsksForTheDayAfterNow();
    void dispatcherIsTheButtonClick();
    void starRows_data();
    void starRows();
    void missingPartsLeaveNoOldText();
    void valuesStayLiteralText();
    void resetTouchesNoControl();
    void failuresKeepThePanel_data();
    void failuresKeepThePanel();
    void samePageTwiceCompletesTwice();
    void latestClickWins();
    void modeSwitchDuringFetchKeepsTheQueryDay();
    void twoModeSwitches();
    void buttonsStayUsableDuringFetch();

private:
    Form1 *makeForm(FetchLimits limits = {});
    void query(QPushButton *button);
    const SignInfo &sign(const char *slug) { return *SignTable::bySlug(QString::fromLatin1(slug)); }

    httpkit::Server *m_server = nullptr;
    std::function<Response(const httpkit::Request &)> m_answer;
    Form1 *m_form = nullptr;
    QDateTime m_now{QDate(2013, 12, 27), QTime(10, 0)};
};

void TestQueryFlow::init()
{
    m_answer = [](const httpkit::Request &) { return Response::html(TestPages::page().toUtf8()); };
    m_server = new httpkit::Server([this](const httpkit::Request &r) { return m_answer(r); });
    QVERIFY(m_server->listen());
    m_form = makeForm();
}

void TestQueryFlow::cleanup()
{
    delete m_form;
    m_form = nullptr;
    delete m_server;
    m_server = nullptr;
}

Form1 *TestQueryFlow::makeForm(FetchLimits limits)
{
    Form1::Environment environment;
    environment.endpoints = Endpoints::onLocalService(m_server->baseUrl());
    environment.clock = [this] { return m_now; };
    environment.fetchLimits = limits;
    auto *form = new Form1(environment);
    form->Timer3->stop();
    form->show();
    return form;
}

void TestQueryFlow::query(QPushButton *button)
{
    QSignalSpy shown(m_form, &Form1::fortuneShown);
    button->click();
    QVERIFY(shown.wait(5000));
}

void TestQueryFlow::todayQueryFillsThePanel()
{
    QSignalSpy shown(m_form, &Form1::fortuneShown);
    m_form->Command2->click();
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("金牛座今日运势获取中..."));
    QVERIFY(shown.wait(5000));

    QCOMPARE(m_server->requests().size(), 1);
    const httpkit::Request &request = m_server->requests().first();
    QCOMPARE(request.target, QByteArray("/astro/view/taurus/day/"));
    QVERIFY(request.rawHead.contains("\r\nIf-Modified-Since: 0\r\n"));

    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("金牛座今日运势获取完毕..."));
    QCOMPARE(m_form->Label11->text(), QStringLiteral("金牛座"));
    QCOMPARE(m_form->Label12->text(), QStringLiteral("04/20-05/20"));
    QCOMPARE(m_form->Image21->pixmap().toImage(), m_form->ijn->pixmap().toImage());
    QCOMPARE(m_form->Label5->text(), QStringLiteral("健康指数:85%"));
    QCOMPARE(m_form->Label6->text(), QStringLiteral("商谈指数:70%"));
    QCOMPARE(m_form->Label7->text(), QStringLiteral("幸运颜色:红色"));
    QCOMPARE(m_form->Label8->text(), QStringLiteral("幸运数字:7"));
    QCOMPARE(m_form->Label9->text(), QStringLiteral("速配星座:天秤座"));
    QCOMPARE(m_form->Label10->text(), QStringLiteral("今天适合学习。"));
    QVERIFY(m_form->Label14->isHidden());
    QVERIFY(m_form->Label13->isEnabled());
    QVERIFY(!m_form->Timer1->isActive());
    QVERIFY(!m_form->pendingFlag(sign("taurus")));
    const FortuneReport &report = m_form->report(sign("taurus"));
    QCOMPARE(report.overallStars, 3);
    QCOMPARE(report.financeStars, 5);
}

void TestQueryFlow::tomorrowQueryAsksForTheDatedPage()
{
    m_form->Command18->click();
    QCOMPARE(m_form->Command18->text(), QStringLiteral("今日运势"));
    QCOMPARE(m_form->modeText(), QStringLiteral("明日运势"));
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("已切换明日星座运势查询.."));
    QVERIFY(!m_form->Label13->isEnabled());

    QSignalSpy shown(m_form, &Form1::fortuneShown);
    m_form->Command11->click();
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("水瓶明日运势获取中..."));
    QVERIFY(shown.wait(5000));
    QCOMPARE(m_server->requests().last().target, QByteArray("/astro/view/aquarius/day/20131228"));
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("水瓶座明日运势获取完毕..."));
    QCOMPARE(m_form->Label11->text(), QStringLiteral("水瓶座"));
    QVERIFY(m_form->Label13->isEnabled());
}

void TestQueryFlow::tomorrowDateFollowsTheClock_data()
{
    QTest::addColumn<QDate>("today");
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("31 December") << QDate(2013, 12, 31)
                                 << QByteArray("/astro/view/aries/day/20140101");
    QTest::newRow("28 February, leap year")
        << QDate(2024, 2, 28) << QByteArray("/astro/view/aries/day/20240229");
    QTest::newRow("28 February, common year")
        << QDate(2023, 2, 28) << QByteArray("/astro/view/aries/day/20230301");
}

void TestQueryFlow::tomorrowDateFollowsTheClock()
{
    QFETCH(QDate, today);
    m_now = QDateTime(today, QTime(12, 0));
    m_form->Command18->click();
    query(m_form->Command1);
    QTEST(m_server->requests().last().target, "path");
}

void TestQueryFlow::pastMidnightAsksForTheDayAfterNow()
{
    m_now = QDateTime(QDate(2014, 1, 31), QTime(23, 59, 59));
    delete m_form;
    m_form = makeForm();
    QCOMPARE(m_form->loadDate(), QDate(2014, 1, 31));
    m_now = m_now.addSecs(2); // the window stays open past midnight
    m_form->Command18->click();
    query(m_form->Command5);
    QCOMPARE(m_server->requests().last().target, QByteArray("/astro/view/leo/day/20140202"));
    QCOMPARE(m_form->loadDate(), QDate(2014, 1, 31));
}

void TestQueryFlow::dispatcherIsTheButtonClick()
{
    QSignalSpy clicked(m_form->Command12, &QPushButton::clicked);
    QSignalSpy shown(m_form, &Form1::fortuneShown);
    m_form->sydj();
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("双鱼座今日运势获取中..."));
    QVERIFY(shown.wait(5000));
    QCOMPARE(m_form->Label11->text(), QStringLiteral("双鱼座"));
    QCOMPARE(m_server->requests().last().target, QByteArray("/astro/view/pisces/day/"));
    m_form->bydj();
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("白羊座今日运势获取中..."));
}

void TestQueryFlow::starRows_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("shown");
    QTest::newRow("none hides the row") << 0 << 0;
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("two from the left") << 2 << 2;
    QTest::newRow("five") << 5 << 5;
    QTest::newRow("six hides the row") << 6 << 0;
}

void TestQueryFlow::starRows()
{
    QFETCH(int, count);
    QFETCH(int, shown);
    query(m_form->Command1); // a first fortune with stars in every row
    PageSpec spec;
    spec.overall = spec.love = spec.work = spec.finance = count;
    m_answer = [&](const httpkit::Request &) {
        return Response::html(TestPages::page(spec).toUtf8());
    };
    query(m_form->Command3);

    using PageParser::Aspect;
    for (Aspect aspect : {Aspect::Overall, Aspect::Love, Aspect::Work, Aspect::Finance}) {
        const auto row = m_form->starRow(aspect);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(row[i]->isVisible(), i < shown);
    }
    QCOMPARE(m_form->report(sign("gemini")).loveStars, count);
}

void TestQueryFlow::missingPartsLeaveNoOldText()
{
    query(m_form->Command1);
    PageSpec spec;
    spec.sections = 6;
    spec.withDescription = false;
    m_answer = [&](const httpkit::Request &) {
        return Response::html(TestPages::page(spec).toUtf8());
    };
    query(m_form->Command4);
    QCOMPARE(m_form->Label11->text(), QStringLiteral("巨蟹座"));
    QCOMPARE(m_form->Label6->text(), QStringLiteral("商谈指数:70%"));
    QCOMPARE(m_form->Label7->text(), QStringLiteral("幸运颜色:"));
    QCOMPARE(m_form->Label8->text(), QStringLiteral("幸运数字:"));
    QCOMPARE(m_form->Label9->text(), QStringLiteral("速配星座:"));
    QCOMPARE(m_form->Label10->text(), QString());
}

void TestQueryFlow::valuesStayLiteralText()
{
    PageSpec spec;
    spec.colour = QStringLiteral("<b>红</b>");
    spec.description = QStringLiteral("好<br/>运");
    m_answer = [&](const httpkit::Request &) {
        return Response::html(TestPages::page(spec).toUtf8());
    };
    query(m_form->Command1);
    QCOMPARE(m_form->Label7->text(), QStringLiteral("幸运颜色:<b>红</b>"));
    QCOMPARE(m_form->Label7->textFormat(), Qt::PlainText);
    QCOMPARE(m_form->Label10->text(), QStringLiteral("好br/>运"));
}

void TestQueryFlow::resetTouchesNoControl()
{
    query(m_form->Command8);
    const PanelSnapshot before = PanelSnapshot::of(*m_form);
    m_answer = [](const httpkit::Request &) {
        Response r = Response::html(TestPages::page().toUtf8());
        r.delayMs = 3000;
        return r;
    };
    m_form->Command9->click();
    QVERIFY(m_form->isFetching());
    // The reset cleared every report while the panel still shows 天蝎座.
    QCOMPARE(m_form->report(sign("scorpio")), FortuneReport());
    QCOMPARE(PanelSnapshot::of(*m_form), before);
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("射手座今日运势获取中..."));
}

void TestQueryFlow::failuresKeepThePanel_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("404 with an error page") << 0;
    QTest::newRow("500") << 1;
    QTest::newRow("empty 200") << 2;
    QTest::newRow("200 page without a single section") << 3;
    QTest::newRow("connection reset mid-body") << 4;
    QTest::newRow("silent server") << 5;
    QTest::newRow("refused connection") << 6;
}

void TestQueryFlow::failuresKeepThePanel()
{
    QFETCH(int, kind);
    delete m_form;
    FetchLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(400);
    limits.totalTimeout = std::chrono::milliseconds(1500);
    m_form = makeForm(limits);
    query(m_form->Command6);
    const PanelSnapshot before = PanelSnapshot::of(*m_form);

    m_answer = [kind](const httpkit::Request &) {
        switch (kind) {
        case 0:
            return Response::status404();
        case 1: {
            Response r = Response::html(TestPages::page().toUtf8()); // even a fortune-looking body
            r.status = 500;
            return r;
        }
        case 2:
            return Response::html(QByteArray());
        case 3:
            return Response::html("<html><body>维护中</body></html>");
        case 4: {
            Response r = Response::html(TestPages::page().toUtf8());
            r.delivery = Response::Delivery::ResetMidBody;
            return r;
        }
        default: {
            Response r;
            r.delivery = Response::Delivery::Silent;
            return r;
        }
        }
    };
    if (kind == 6) {
        const QUrl base = m_server->baseUrl();
        delete m_server;
        m_server = new httpkit::Server([](const httpkit::Request &) { return Response(); });
        QVERIFY(m_server->listen());
        delete m_form;
        Form1::Environment environment;
        environment.endpoints = Endpoints::onLocalService(base); // nobody listens there now
        environment.clock = [this] { return m_now; };
        m_form = new Form1(environment);
        m_form->Timer3->stop();
    }

    QSignalSpy failed(m_form, &Form1::queryFailed);
    QSignalSpy stored(m_form, &Form1::pageStored);
    const PanelSnapshot panelBefore = kind == 6 ? PanelSnapshot::of(*m_form) : before;
    m_form->Command7->click();
    QVERIFY(failed.wait(5000));
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("天秤座今日运势获取失败..."));
    QCOMPARE(stored.size(), 0);
    QVERIFY(!m_form->pendingFlag(sign("libra")));
    QVERIFY(!m_form->Timer1->isActive());
    QCOMPARE(PanelSnapshot::of(*m_form), panelBefore);
    QVERIFY(!m_form->isFetching());
}

void TestQueryFlow::samePageTwiceCompletesTwice()
{
    query(m_form->Command10);
    QCOMPARE(m_form->Label11->text(), QStringLiteral("摩羯座"));
    query(m_form->Command10); // the same page again still completes
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("摩羯座今日运势获取完毕..."));
    QVERIFY(!m_form->pendingFlag(sign("capricorn")));
}

void TestQueryFlow::latestClickWins()
{
    // 白羊座's page is slow; 双鱼座's comes at once.
    m_answer = [](const httpkit::Request &request) {
        PageSpec spec;
        if (request.path().contains("aries")) {
            spec.colour = QStringLiteral("白羊的颜色");
            Response r = Response::html(TestPages::page(spec).toUtf8());
            r.delayMs = 800;
            return r;
        }
        spec.colour = QStringLiteral("双鱼的颜色");
        return Response::html(TestPages::page(spec).toUtf8());
    };
    QSignalSpy shown(m_form, &Form1::fortuneShown);
    m_form->Command1->click();
    m_form->Command12->click();
    QVERIFY(shown.wait(5000));
    QCOMPARE(m_form->Label11->text(), QStringLiteral("双鱼座"));
    QCOMPARE(m_form->Label7->text(), QStringLiteral("幸运颜色:双鱼的颜色"));
    // Long after the slow page would have come, nothing else was shown.
    QVERIFY(!shown.wait(2500));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(m_form->Label11->text(), QStringLiteral("双鱼座"));
    QCOMPARE(m_form->Label7->text(), QStringLiteral("幸运颜色:双鱼的颜色"));
    for (const SignInfo &row : SignTable::all())
        QVERIFY(!m_form->pendingFlag(row));
}

void TestQueryFlow::modeSwitchDuringFetchKeepsTheQueryDay()
{
    m_answer = [](const httpkit::Request &) {
        Response r = Response::html(TestPages::page().toUtf8());
        r.delayMs = 500;
        return r;
    };
    QSignalSpy shown(m_form, &Form1::fortuneShown);
    m_form->Command5->click();
    m_form->Command18->click(); // to tomorrow while today's page loads
    QVERIFY(shown.wait(5000));
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("狮子座今日运势获取完毕..."));
    QCOMPARE(m_server->requests().last().target, QByteArray("/astro/view/leo/day/"));
}

void TestQueryFlow::twoModeSwitches()
{
    m_form->Command18->click();
    m_form->Command18->click();
    QCOMPARE(m_form->Command18->text(), QStringLiteral("明日运势"));
    QCOMPARE(m_form->modeText(), QStringLiteral("今日运势"));
    QVERIFY(!m_form->Label13->isEnabled());
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("已切换今日星座运势查询.."));
    QVERIFY(m_server->requests().isEmpty());
}

void TestQueryFlow::buttonsStayUsableDuringFetch()
{
    m_answer = [](const httpkit::Request &) {
        Response r = Response::html(TestPages::page().toUtf8());
        r.delayMs = 1000;
        return r;
    };
    m_form->Command3->click();
    QVERIFY(m_form->isFetching());
    for (QPushButton *button : m_form->signButtons())
        QVERIFY(button->isEnabled());
    QVERIFY(m_form->Command18->isEnabled());
    // And the event loop keeps running: a timer fires while the page loads.
    QTimer tick;
    QSignalSpy ticks(&tick, &QTimer::timeout);
    tick.start(20);
    QVERIFY(ticks.wait(1000));
    QVERIFY(m_form->isFetching());
}

QTEST_MAIN(TestQueryFlow)
#include "tst_queryflow.moc"
