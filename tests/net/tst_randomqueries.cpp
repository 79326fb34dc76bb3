#include "core/QueryFlow.h"
#include "net/PageFetcher.h"

#include "HttpServer.h"
#include "RandomSite.h"
#include "WaitUntil.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include <memory>

using httpkit::Response;

// Thousands of random queries, day switches, cancels and pauses against a
// server that is slow or broken at random: every completion shows one sign
// with that sign's own page for the day it was asked for.
class TestRandomQueries : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void randomQueries();

private:
    bool completionDue() const
    {
        const auto timers = m_flow->findChildren<QTimer *>();
        return std::any_of(timers.begin(), timers.end(),
                           [](const QTimer *timer) { return timer->isActive(); });
    }
    void checkCompletion(const SignInfo &sign, DayMode mode, const FortuneReport &fortune);

    RandomSite m_site{20};
    std::unique_ptr<httpkit::Server> m_server;
    QNetworkAccessManager m_network;
    std::unique_ptr<PageFetcher> m_fetcher;
    std::unique_ptr<QueryFlow> m_flow;
    const SignInfo *m_asked = nullptr;
    DayMode m_askedDay = DayMode::Today;
};

void TestRandomQueries::initTestCase()
{
    m_server = std::make_unique<httpkit::Server>(
        [this](const httpkit::Request &request) { return m_site.answer(request); });
    QVERIFY(m_server->listen());
    m_fetcher = std::make_unique<PageFetcher>(&m_network);
    FetchLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(150);
    limits.totalTimeout = std::chrono::milliseconds(300);
    m_fetcher->setLimits(limits);
    m_flow = std::make_unique<QueryFlow>(m_fetcher.get(), m_server->baseUrl());
    m_flow->setCompletionDelay(std::chrono::milliseconds(m_site.random().bounded(2) * 20));
    connect(m_flow.get(), &QueryFlow::completed, this, &TestRandomQueries::checkCompletion);
}

void TestRandomQueries::checkCompletion(const SignInfo &sign, DayMode mode,
                                        const FortuneReport &fortune)
{
    const QString seed = QStringLiteral(" (seed %1)").arg(m_site.seed());
    // Only the latest query may complete, and for the day it was asked for.
    QVERIFY2(&sign == m_asked, qPrintable(u"completed " + sign.name + seed));
    QVERIFY2(mode == m_askedDay, qPrintable(u"the other day for " + sign.name + seed));
    const PageSpec spec = RandomSite::pageOf(sign, mode == DayMode::Tomorrow);
    QVERIFY2(fortune.luckyColour == spec.colour && fortune.luckyNumber == spec.number &&
                 fortune.matchingSign == spec.matching && fortune.description == spec.description &&
                 fortune.overallStars == spec.overall && fortune.loveStars == spec.love &&
                 fortune.workStars == spec.work && fortune.financeStars == spec.finance,
             qPrintable(sign.name + u" shows " + fortune.luckyColour + u' ' + fortune.description +
                        seed));
    QCOMPARE(m_flow->onShow().sign, &sign);
}

void TestRandomQueries::randomQueries()
{
    const int actions = qEnvironmentVariableIsSet("ZHIWEI_RANDOM_ACTIONS")
                            ? qEnvironmentVariableIntValue("ZHIWEI_RANDOM_ACTIONS")
                            : 2000;
    QSignalSpy completed(m_flow.get(), &QueryFlow::completed);
    QSignalSpy failed(m_flow.get(), &QueryFlow::failed);
    for (int i = 0; i < actions && !QTest::currentTestFailed(); ++i) {
        const quint32 pick = m_site.random().bounded(100);
        if (pick < 50) {
            m_asked = &SignTable::all()[m_site.random().bounded(12)];
            m_askedDay = m_flow->mode();
            m_flow->query(*m_asked);
        } else if (pick < 65) {
            m_flow->switchMode();
        } else if (pick < 70) {
            m_flow->cancel();
        } else if (pick < 80) {
            // Until the query under way has ended, however busy the machine.
            QVERIFY(waitUntil([this] { return !m_flow->isFetching() && !completionDue(); }, 10000));
        } else {
            QTest::qWait(int(m_site.random().bounded(5)));
        }
    }
    // Enough fortunes were shown for the check to mean something.
    QVERIFY2(
        completed.size() > actions / 40,
        qPrintable(
            QStringLiteral("%1 completions (seed %2)").arg(completed.size()).arg(m_site.seed())));
    qInfo("%d actions: %d completions, %d failures", actions, int(completed.size()),
          int(failed.size()));
}

QTEST_GUILESS_MAIN(TestRandomQueries)
#include "tst_randomqueries.moc"
