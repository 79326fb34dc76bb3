#include "core/FortuneTexts.h"
#include "core/QueryFlow.h"
#include "net/PageFetcher.h"

#include "HttpServer.h"
#include "TestPages.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using httpkit::Response;

Q_DECLARE_METATYPE(const SignInfo *)

// From a query for a sign to the fortune on show, against a real HTTP
// server on 127.0.0.1, with no window: what the flow asks for, what it says
// in the status line, what it completes and what it keeps on show. The
// completion delay is 0 ms here; the window's tests keep a real one.
class TestQueryFlow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void todayQueryCompletesWithThePage();
    void tomorrowQueryAsksForTheDatedPage();
    void tomorrowDateFollowsTheClock_data();
    void tomorrowDateFollowsTheClock();
    void pastMidnightAsksForTheDayAfterNow();
    void resetClearsEveryReportButNotTheFortuneOnShow();
    void failuresKeepTheFortuneOnShow_data();
    void failuresKeepTheFortuneOnShow();
    void samePageTwiceCompletesTwice();
    void latestQueryWins();
    void modeSwitchDuringFetchKeepsTheQueryDay();
    void twoModeSwitches();

private:
    void makeFlow(const QUrl &base, FetchLimits limits = {});
    // Runs a query to its completion.
    void complete(const char *slug);
    static const SignInfo &sign(const char *slug)
    {
        return *SignTable::bySlug(QString::fromLatin1(slug));
    }

    std::unique_ptr<httpkit::Server> m_server;
    std::function<Response(const httpkit::Request &)> m_answer;
    QNetworkAccessManager m_network;
    std::unique_ptr<PageFetcher> m_fetcher;
    std::unique_ptr<QueryFlow> m_flow;
    QDateTime m_now{QDate(2013, 12, 27), QTime(10, 0)};
};

void TestQueryFlow::init()
{
    m_answer = [](const httpkit::Request &) { return Response::html(TestPages::page().toUtf8()); };
    m_server = std::make_unique<httpkit::Server>(
        [this](const httpkit::Request &request) { return m_answer(request); });
    QVERIFY(m_server->listen());
    makeFlow(m_server->baseUrl());
}

void TestQueryFlow::cleanup()
{
    m_flow.reset();
    m_fetcher.reset();
    m_server.reset();
}

void TestQueryFlow::makeFlow(const QUrl &base, FetchLimits limits)
{
    m_flow.reset();
    m_fetcher = std::make_unique<PageFetcher>(&m_network);
    m_fetcher->setLimits(limits);
    m_flow = std::make_unique<QueryFlow>(m_fetcher.get(), base, [this] { return m_now; });
    m_flow->setCompletionDelay(std::chrono::milliseconds(0));
}

void TestQueryFlow::complete(const char *slug)
{
    QSignalSpy completed(m_flow.get(), &QueryFlow::completed);
    m_flow->query(sign(slug));
    QVERIFY(completed.wait(5000));
}

void TestQueryFlow::todayQueryCompletesWithThePage()
{
    QSignalSpy status(m_flow.get(), &QueryFlow::statusChanged);
    QSignalSpy completed(m_flow.get(), &QueryFlow::completed);
    m_flow->query(sign("taurus"));
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().first().toString(), QStringLiteral("金牛座今日运势获取中..."));
    QVERIFY(completed.wait(5000));

    QCOMPARE(m_server->requests().size(), 1);
    const httpkit::Request &request = m_server->requests().first();
    QCOMPARE(request.target, QByteArray("/astro/view/taurus/day/"));
    QCOMPARE(request.header("If-Modified-Since"), QByteArray("0"));

    QCOMPARE(status.last().first().toString(), QStringLiteral("金牛座今日运势获取完毕..."));
    const QueryFlow::OnShow &onShow = m_flow->onShow();
    QCOMPARE(onShow.sign, &sign("taurus"));
    QCOMPARE(onShow.mode, DayMode::Today);
    FortuneReport expected;
    expected.overallStars = 3;
    expected.loveStars = 2;
    expected.workStars = 4;
    expected.financeStars = 5;
    expected.healthIndex = QStringLiteral("85%");
    expected.negotiationIndex = QStringLiteral("70%");
    expected.luckyColour = QStringLiteral("红色");
    expected.luckyNumber = QStringLiteral("7");
    expected.matchingSign = QStringLiteral("天秤座");
    expected.description = QStringLiteral("今天适合学习。");
    QCOMPARE(onShow.fortune, expected);
    QCOMPARE(completed.first().at(2).value<FortuneReport>(), expected);
    QCOMPARE(m_flow->report(sign("taurus")), expected);
    QVERIFY(!m_flow->pendingFlag(sign("taurus")));
    QVERIFY(!m_flow->isFetching());
}

void TestQueryFlow::tomorrowQueryAsksForTheDatedPage()
{
    QSignalSpy status(m_flow.get(), &QueryFlow::statusChanged);
    QSignalSpy mode(m_flow.get(), &QueryFlow::modeChanged);
    m_flow->switchMode();
    QCOMPARE(m_flow->mode(), DayMode::Tomorrow);
    QCOMPARE(mode.size(), 1);
    QCOMPARE(status.takeFirst().first().toString(), QStringLiteral("已切换明日星座运势查询.."));

    QSignalSpy completed(m_flow.get(), &QueryFlow::completed);
    m_flow->query(sign("aquarius"));
    QCOMPARE(status.takeFirst().first().toString(), QStringLiteral("水瓶明日运势获取中..."));
    QVERIFY(completed.wait(5000));
    QCOMPARE(m_server->requests().last().target, QByteArray("/astro/view/aquarius/day/20131228"));
    QCOMPARE(status.takeFirst().first().toString(), QStringLiteral("水瓶座明日运势获取完毕..."));
    QCOMPARE(m_flow->onShow().mode, DayMode::Tomorrow);
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
    m_flow->switchMode();
    complete("aries");
    QTEST(m_server->requests().last().target, "path");
}

void TestQueryFlow::pastMidnightAsksForTheDayAfterNow()
{
    m_now = QDateTime(QDate(2014, 1, 31), QTime(23, 59, 59));
    makeFlow(m_server->baseUrl());
    m_now = m_now.addSecs(2); // the program stays open past midnight
    m_flow->switchMode();
    complete("leo");
    QCOMPARE(m_server->requests().last().target, QByteArray("/astro/view/leo/day/20140202"));
}

void TestQueryFlow::resetClearsEveryReportButNotTheFortuneOnShow()
{
    complete("scorpio");
    const QueryFlow::OnShow before = m_flow->onShow();
    const QString page = m_flow->page();
    m_answer = [](const httpkit::Request &) {
        Response r = Response::html(TestPages::page().toUtf8());
        r.delayMs = 3000;
        return r;
    };
    m_flow->query(sign("sagittarius"));
    QVERIFY(m_flow->isFetching());
    QCOMPARE(m_flow->report(sign("scorpio")), FortuneReport());
    QCOMPARE(m_flow->onShow().sign, before.sign);
    QCOMPARE(m_flow->onShow().fortune, before.fortune);
    QCOMPARE(m_flow->page(), page);
}

void TestQueryFlow::failuresKeepTheFortuneOnShow_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("404 with an error page") << 0;
    QTest::newRow("500 whose body looks like a fortune") << 1;
    QTest::newRow("empty 200") << 2;
    QTest::newRow("200 page without a single section") << 3;
    QTest::newRow("connection reset mid-body") << 4;
    QTest::newRow("silent server") << 5;
    QTest::newRow("refused connection") << 6;
}

void TestQueryFlow::failuresKeepTheFortuneOnShow()
{
    QFETCH(int, kind);
    FetchLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(400);
    limits.totalTimeout = std::chrono::milliseconds(1500);
    makeFlow(m_server->baseUrl(), limits);
    complete("virgo");
    const QueryFlow::OnShow before = m_flow->onShow();
    const QString page = m_flow->page();

    m_answer = [kind](const httpkit::Request &) {
        switch (kind) {
        case 0:
            return Response::status404();
        case 1: {
            Response r = Response::html(TestPages::page().toUtf8());
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
        // Nobody listens at the old address once its server is gone.
        const QUrl base = m_server->baseUrl();
        m_server = std::make_unique<httpkit::Server>(
            [this](const httpkit::Request &request) { return m_answer(request); });
        QVERIFY(m_server->listen());
        QueryFlow *flow = m_flow.release();
        makeFlow(base, limits);
        delete flow;
    }

    QSignalSpy failed(m_flow.get(), &QueryFlow::failed);
    QSignalSpy stored(m_flow.get(), &QueryFlow::pageStored);
    QSignalSpy status(m_flow.get(), &QueryFlow::statusChanged);
    m_flow->query(sign("libra"));
    QVERIFY(failed.wait(5000));
    QCOMPARE(status.last().first().toString(), QStringLiteral("天秤座今日运势获取失败..."));
    QCOMPARE(stored.size(), 0);
    QVERIFY(!m_flow->pendingFlag(sign("libra")));
    QVERIFY(!m_flow->isFetching());
    if (kind != 6) {
        QCOMPARE(m_flow->onShow().sign, before.sign);
        QCOMPARE(m_flow->onShow().fortune, before.fortune);
        QCOMPARE(m_flow->page(), page);
    }
    // Nothing completes later either.
    QSignalSpy completed(m_flow.get(), &QueryFlow::completed);
    QVERIFY(!completed.wait(100));
}

void TestQueryFlow::samePageTwiceCompletesTwice()
{
    complete("capricorn");
    QSignalSpy status(m_flow.get(), &QueryFlow::statusChanged);
    complete("capricorn"); // the same page again still completes
    QCOMPARE(status.last().first().toString(), QStringLiteral("摩羯座今日运势获取完毕..."));
    QVERIFY(!m_flow->pendingFlag(sign("capricorn")));
}

void TestQueryFlow::latestQueryWins()
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
    QSignalSpy completed(m_flow.get(), &QueryFlow::completed);
    m_flow->query(sign("aries"));
    m_flow->query(sign("pisces"));
    QVERIFY(completed.wait(5000));
    // Long after the slow page would have come, nothing else was completed.
    QVERIFY(!completed.wait(1500));
    QCOMPARE(completed.size(), 1);
    QCOMPARE(m_flow->onShow().sign, &sign("pisces"));
    QCOMPARE(m_flow->onShow().fortune.luckyColour, QStringLiteral("双鱼的颜色"));
    for (const SignInfo &row : SignTable::all())
        QVERIFY(!m_flow->pendingFlag(row));
}

void TestQueryFlow::modeSwitchDuringFetchKeepsTheQueryDay()
{
    m_answer = [](const httpkit::Request &) {
        Response r = Response::html(TestPages::page().toUtf8());
        r.delayMs = 300;
        return r;
    };
    QSignalSpy completed(m_flow.get(), &QueryFlow::completed);
    QSignalSpy status(m_flow.get(), &QueryFlow::statusChanged);
    m_flow->query(sign("leo"));
    m_flow->switchMode(); // to tomorrow while today's page loads
    QVERIFY(completed.wait(5000));
    QCOMPARE(status.last().first().toString(), QStringLiteral("狮子座今日运势获取完毕..."));
    QCOMPARE(m_flow->onShow().mode, DayMode::Today);
    QCOMPARE(m_server->requests().last().target, QByteArray("/astro/view/leo/day/"));
}

void TestQueryFlow::twoModeSwitches()
{
    QSignalSpy status(m_flow.get(), &QueryFlow::statusChanged);
    m_flow->switchMode();
    m_flow->switchMode();
    QCOMPARE(m_flow->mode(), DayMode::Today);
    QCOMPARE(status.last().first().toString(), QStringLiteral("已切换今日星座运势查询.."));
    QVERIFY(m_server->requests().isEmpty());
}

QTEST_GUILESS_MAIN(TestQueryFlow)
#include "tst_queryflow.moc"
