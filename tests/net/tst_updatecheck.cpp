#include "HttpServer.h"
#include "core/UpdateCheck.h"
#include "net/InternetTransfer.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using httpkit::Response;

namespace {

// Enough for every wait below; a fault shows as a failed wait, never a hang.
constexpr int AnswerWaitMs = 8000;

Response silent()
{
    return Response::text("V2").deliveredAs(Response::Delivery::Silent);
}

} // namespace

Q_DECLARE_METATYPE(httpkit::Response)

// The notice download and its verdict, against real servers: whatever the
// server answers is the notice, and only no answer at all is none.
class tst_UpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void decide_data();
    void decide();
    void shownNotice_data();
    void shownNotice();

    void answerGivesTheVerdict_data();
    void answerGivesTheVerdict();
    void checkRunsInTheBackgroundAndOnlyOnceAtATime();

private:
    QNetworkAccessManager m_network;
};

void tst_UpdateCheck::decide_data()
{
    QTest::addColumn<QString>("notice");
    QTest::addColumn<UpdateCheck::Verdict>("verdict");

    using V = UpdateCheck::Verdict;
    QTest::newRow("this version's tag") << QStringLiteral("V2") << V::Current;
    QTest::newRow("empty notice") << QStringLiteral("") << V::Unreadable;
    // Exactly the tag: anything else, however close, is another notice.
    QTest::newRow("lower-case tag is not this version") << QStringLiteral("v2") << V::Newer;
}

void tst_UpdateCheck::decide()
{
    QFETCH(QString, notice);
    QFETCH(UpdateCheck::Verdict, verdict);
    QCOMPARE(UpdateCheck::decide(notice), verdict);
}

void tst_UpdateCheck::shownNotice_data()
{
    // How text is cleaned and cut is DownloadedText's; here only what the
    // prompt asks of it: one line of at most 200 characters.
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("shown");

    const QString a200(200, u'a');
    QTest::newRow("short notice as it is") << QStringLiteral("V3") << QStringLiteral("V3");
    QTest::newRow("200 characters are not cut") << a200 << a200;
    QTest::newRow("201 characters are cut to 200") << a200 + u'b' << a200 + QStringLiteral(u"…");
    QTest::newRow("line breaks become spaces")
        << QStringLiteral("V3\r\nnew\tlook") << QStringLiteral("V3  new look");
}

void tst_UpdateCheck::shownNotice()
{
    QFETCH(QString, notice);
    QFETCH(QString, shown);
    QCOMPARE(UpdateCheck::shownNotice(notice), shown);
}

void tst_UpdateCheck::answerGivesTheVerdict_data()
{
    QTest::addColumn<Response>("response"); // with status 0: nobody listens
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<UpdateCheck::Verdict>("verdict");
    QTest::addColumn<QString>("notice");

    using V = UpdateCheck::Verdict;
    const int longEnough = InternetTransfer::DefaultTimeoutMs;
    QTest::newRow("this version's tag")
        << Response::text("V2") << longEnough << V::Current << QStringLiteral("V2");
    QTest::newRow("next version") << Response::text("V3") << longEnough << V::Newer
                                  << QStringLiteral("V3");
    QTest::newRow("tag and a line break")
        << Response::text("V2\n") << longEnough << V::Newer << QStringLiteral("V2\n");
    // The status code does not decide; the body does.
    QTest::newRow("404 with a body") << Response::text("V3 not here").withStatus(404) << longEnough
                                     << V::Newer << QStringLiteral("V3 not here");
    QTest::newRow("500 whose body is this version's tag")
        << Response::text("V2").withStatus(500) << longEnough << V::Current << QStringLiteral("V2");
    QTest::newRow("100 KiB body read up to 64 KiB")
        << Response::text(QByteArray(100 * 1024, 'V')) << longEnough << V::Newer
        << QString(InternetTransfer::MaxBodyBytes, u'V');
    QStringEncoder gbk("GB18030");
    QTest::newRow("GBK notice decoded")
        << Response::text(gbk.encode(QStringLiteral(u"V3 新版")), "text/plain; charset=gbk")
        << longEnough << V::Newer << QStringLiteral(u"V3 新版");
    QTest::newRow("empty body") << Response::text("") << longEnough << V::Unreadable << QString();
    QTest::newRow("404 without a body")
        << Response::text("").withStatus(404) << longEnough << V::Unreadable << QString();
    QTest::newRow("silent server past the time limit")
        << silent() << 300 << V::Unreadable << QString();
    Response dropped = Response::text("V2");
    dropped.delivery = Response::Delivery::CloseAtOnce;
    QTest::newRow("connection closed without an answer")
        << dropped << longEnough << V::Unreadable << QString();
    QTest::newRow("refused connection")
        << Response().withStatus(0) << longEnough << V::Unreadable << QString();
}

void tst_UpdateCheck::answerGivesTheVerdict()
{
    QFETCH(Response, response);
    QFETCH(int, timeoutMs);
    QFETCH(UpdateCheck::Verdict, verdict);
    QFETCH(QString, notice);

    httpkit::Server server([response](const httpkit::Request &) { return response; });
    QUrl url(QStringLiteral("http://127.0.0.1/kwgamejc/xz/jc.txt"));
    if (response.status == 0) {
        url.setPort(httpkit::refusedPort());
    } else {
        QVERIFY(server.listen());
        url.setPort(server.port());
    }
    InternetTransfer inet(&m_network);
    inet.setTimeoutMs(timeoutMs);
    UpdateCheck updateCheck(&inet);
    QSignalSpy done(&updateCheck, &UpdateCheck::finished);
    QVERIFY(updateCheck.start(url));
    QVERIFY(done.wait(AnswerWaitMs));
    QCOMPARE(done.first().at(0).value<UpdateCheck::Verdict>(), verdict);
    QCOMPARE(done.first().at(1).toString(), notice);
    QVERIFY(!updateCheck.isRunning());
    if (response.status != 0) {
        // Qt asks once more when a connection closes without an answer.
        QVERIFY(!server.requests().isEmpty());
        QCOMPARE(server.requests().first().method, QByteArray("GET"));
        QCOMPARE(server.requests().first().path(), QByteArray("/kwgamejc/xz/jc.txt"));
    }
    // Exactly one verdict.
    QTest::qWait(50);
    QCOMPARE(done.size(), 1);
}

void tst_UpdateCheck::checkRunsInTheBackgroundAndOnlyOnceAtATime()
{
    httpkit::Server server([](const httpkit::Request &) { return silent(); });
    QVERIFY(server.listen());
    InternetTransfer inet(&m_network);
    inet.setTimeoutMs(1000);
    UpdateCheck updateCheck(&inet);
    QSignalSpy done(&updateCheck, &UpdateCheck::finished);

    QVERIFY(updateCheck.start(server.baseUrl()));
    // The window's timer ticks again while the notice is on its way.
    QVERIFY(updateCheck.isRunning());
    QCOMPARE(done.count(), 0);
    QVERIFY(!updateCheck.start(server.baseUrl()));
    QTRY_COMPARE(server.requests().size(), 1);

    QVERIFY(done.wait(AnswerWaitMs));
    QCOMPARE(done.first().first().value<UpdateCheck::Verdict>(), UpdateCheck::Verdict::Unreadable);
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(!updateCheck.isRunning());
}

QTEST_GUILESS_MAIN(tst_UpdateCheck)
#include "tst_updatecheck.moc"
