#include "core/QueryFlow.h"
#include "net/PageFetcher.h"

#include "HttpServer.h"
#include "TestPages.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using httpkit::Response;

namespace {

// Six flows at once, as six windows would run them, fifty queries each.
constexpr int Windows = 6;
constexpr int QueriesPerWindow = 50;
// The first round of twelve makes whatever is made once; later rounds must
// leave the object count where it was.
constexpr int WarmUpQueries = 12;

// The server's answers by sign: two signs always fail, the others carry their
// own slug and day in the values, half of them in GBK.
bool failsAlways(QStringView slug)
{
    return slug == u"pisces" || slug == u"virgo";
}

Response answer(const httpkit::Request &request)
{
    // /astro/view/<slug>/day/[yyyyMMdd]
    const QList<QByteArray> segments = request.path().split('/');
    const QString slug = QString::fromLatin1(segments.value(3));
    if (slug == u"pisces")
        return Response::status404();
    if (slug == u"virgo")
        return Response::html("<html><body>维护中</body></html>");
    PageSpec shape;
    shape.colour = slug;
    shape.number = QString::fromLatin1(segments.value(5));
    shape.overall = int(slug.size()) % 6;
    const QString page = TestPages::page(shape);
    if (slug.size() % 2 == 0)
        return Response::html(page.toUtf8());
    QStringEncoder gbk("GB18030");
    return Response::html(gbk.encode(page), "gbk");
}

int objectsUnder(const QObject *root)
{
    return int(root->findChildren<QObject *>().size());
}

} // namespace

// Many queries in a row against a real server on 127.0.0.1: every one
// completes with its own sign's page, and nothing piles up from one query to
// the next. Under the sanitizers the leak check at exit sees every query's
// allocations go.
class TestManyQueries : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void everyQueryCompletesAndNothingPilesUp();

private:
    // One flow's run of queries, each started when the last one ended.
    struct Run
    {
        PageFetcher *fetcher = nullptr;
        QueryFlow *flow = nullptr;
        int offset = 0;    // the sign the run starts with
        int done = 0;      // queries that ended
        int target = 0;    // queries to run before stopping
        QString dateAsked; // the day in the last page address, empty for today
        const SignInfo *expected = nullptr;
        QStringList faults;
    };

    void next(Run &run);
    void ended(Run &run, const SignInfo &sign, bool shown);
    int done() const;
    int objects() const;

    httpkit::Server *m_server = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    std::vector<std::unique_ptr<Run>> m_runs;
};

void TestManyQueries::init()
{
    m_server = new httpkit::Server(&answer);
    QVERIFY(m_server->listen());
    m_network = new QNetworkAccessManager;
    for (int w = 0; w < Windows; ++w) {
        auto run = std::make_unique<Run>();
        // One manager for all, as one program has.
        run->fetcher = new PageFetcher(m_network);
        run->flow = new QueryFlow(run->fetcher, m_server->baseUrl(),
                                  [] { return QDateTime(QDate(2013, 12, 27), QTime(10, 0)); });
        run->flow->setCompletionDelay(std::chrono::milliseconds(0));
        run->offset = w * 5;
        Run *r = run.get();
        connect(r->flow, &QueryFlow::completed, this,
                [this, r](const SignInfo &sign) { ended(*r, sign, true); });
        connect(r->flow, &QueryFlow::failed, this,
                [this, r](const SignInfo &sign) { ended(*r, sign, false); });
        m_runs.push_back(std::move(run));
    }
}

void TestManyQueries::cleanup()
{
    for (const auto &run : m_runs) {
        delete run->flow;
        delete run->fetcher;
    }
    m_runs.clear();
    delete m_network;
    m_network = nullptr;
    delete m_server;
    m_server = nullptr;
}

void TestManyQueries::next(Run &run)
{
    if (run.done == QueriesPerWindow / 2)
        run.flow->switchMode(); // the second half asks for tomorrow
    const auto &signs = SignTable::all();
    const int at = (run.offset + run.done) % SignTable::SignCount;
    // Now and then a query is dropped for a newer one before its page comes.
    if (run.done % 7 == 3)
        run.flow->query(signs[(at + 6) % SignTable::SignCount]);
    run.expected = &signs[at];
    run.dateAsked = run.done >= QueriesPerWindow / 2 ? QStringLiteral("20131228") : QString();
    run.flow->query(signs[at]);
}

void TestManyQueries::ended(Run &run, const SignInfo &sign, bool shown)
{
    const QString query = QStringLiteral("query %1 of the run starting at %2 (%3): ")
                              .arg(run.done)
                              .arg(run.offset)
                              .arg(run.expected ? run.expected->slug : QStringView(u"none"));
    if (&sign != run.expected) {
        run.faults << query + u"ended for " + sign.slug;
    } else if (shown == failsAlways(sign.slug)) {
        run.faults << query + (shown ? QStringLiteral("shown") : QStringLiteral("failed"));
    } else if (shown) {
        const QueryFlow::OnShow &onShow = run.flow->onShow();
        if (onShow.fortune.luckyColour != sign.slug ||
            onShow.fortune.luckyNumber != run.dateAsked || onShow.sign != &sign)
            run.faults << query + u"shows " + onShow.fortune.luckyColour + u' ' +
                              onShow.fortune.luckyNumber;
    }
    run.expected = nullptr;
    ++run.done;
    // Not from inside the flow's own signal: the next query starts afresh.
    if (run.done < run.target)
        QTimer::singleShot(0, this, [this, r = &run] { next(*r); });
}

int TestManyQueries::done() const
{
    int total = 0;
    for (const auto &run : m_runs)
        total += run->done;
    return total;
}

int TestManyQueries::objects() const
{
    int total = objectsUnder(m_network);
    for (const auto &run : m_runs)
        total += objectsUnder(run->fetcher) + objectsUnder(run->flow);
    return total;
}

void TestManyQueries::everyQueryCompletesAndNothingPilesUp()
{
    for (const auto &run : m_runs) {
        run->target = WarmUpQueries;
        next(*run);
    }
    QTRY_COMPARE_WITH_TIMEOUT(done(), Windows * WarmUpQueries, 60'000);
    // Replies and fetches go with deleteLater; let them go before counting.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int warm = objects();

    for (const auto &run : m_runs) {
        run->target = QueriesPerWindow;
        next(*run);
    }
    QTRY_COMPARE_WITH_TIMEOUT(done(), Windows * QueriesPerWindow, 240'000);
    for (const auto &run : m_runs) {
        QVERIFY2(run->faults.isEmpty(), qPrintable(run->faults.join(u'\n')));
        QVERIFY(!run->flow->isFetching());
    }
    QTRY_VERIFY2(
        objects() <= warm,
        qPrintable(
            QStringLiteral("%1 objects after the warm-up, %2 now").arg(warm).arg(objects())));
}

QTEST_GUILESS_MAIN(TestManyQueries)
#include "tst_manyqueries.moc"
