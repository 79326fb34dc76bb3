#include "HttpServer.h"
#include "app/UpdateCheck.h"
#include "platform/Browser.h"
#include "platform/InternetTransfer.h"
#include "platform/Prompt.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTest>

#include <memory>

using httpkit::Response;

namespace {

// Enough for every wait below; a fault shows as a failed wait, never a hang.
constexpr int AnswerWaitMs = 8000;

const QString Forum = QStringLiteral("https://forum.example.test/kw");
const QString NetworkPrompt =
    QStringLiteral(u"prompt:Kw系列软件|检测网络失败!请您稍后再试|exclamation");

QString promptEntry(const QString &title, const QString &text, Prompt::Icon icon)
{
    return u"prompt:" + title + u'|' + text + u'|' +
           (icon == Prompt::Icon::Exclamation ? u"exclamation" : u"information");
}

QString newerPrompt(const QString &shown)
{
    return promptEntry(QStringLiteral(u"暖暖提示"),
                       u"发现最新版本![" + shown + u"]确定后打开官方论坛!",
                       Prompt::Icon::Information);
}

// A port nothing listens on: taken from the system, then given back.
quint16 refusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        qFatal("cannot listen on 127.0.0.1");
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

Response silent()
{
    Response response = Response::text("V2");
    response.delivery = Response::Delivery::Silent;
    return response;
}

Response withStatus(Response response, int status)
{
    response.status = status;
    return response;
}

} // namespace

Q_DECLARE_METATYPE(httpkit::Response)

class tst_UpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void decide_data();
    void decide();
    void shownNotice_data();
    void shownNotice();

    void currentVersionLetsTheProgramGoOn();
    void newerNoticeIsShownThenForumOpensThenProgramEnds_data();
    void newerNoticeIsShownThenForumOpensThenProgramEnds();
    void noNoticeEndsTheProgramAfterTheNetworkPrompt_data();
    void noNoticeEndsTheProgramAfterTheNetworkPrompt();
    void refusedConnectionEndsTheProgramAfterTheNetworkPrompt();
    void checkRunsInTheBackgroundAndOnlyOnceAtATime();

    void browserOpensOnlyWebAddresses_data();
    void browserOpensOnlyWebAddresses();

private:
    // Runs one check against the address and returns what it did, in order.
    QStringList check(const QUrl &notice, int timeoutMs = InternetTransfer::DefaultTimeoutMs);
    std::unique_ptr<httpkit::Server> serve(const Response &response);

    QNetworkAccessManager m_network;
    QStringList m_log;
};

void tst_UpdateCheck::init()
{
    m_log.clear();
    Prompt::setResponder([this](const Prompt::Request &request) {
        m_log << promptEntry(request.title, request.text, request.icon);
        return Prompt::Answer::Ok;
    });
    Browser::setOpener([this](const QUrl &url) {
        m_log << u"browser:" + url.toString();
        return true;
    });
}

void tst_UpdateCheck::cleanup()
{
    Prompt::setResponder({});
    Browser::setOpener({});
}

std::unique_ptr<httpkit::Server> tst_UpdateCheck::serve(const Response &response)
{
    auto server = std::make_unique<httpkit::Server>(
        [response](const httpkit::Request &) { return response; });
    if (!server->listen())
        qFatal("cannot listen on 127.0.0.1: %s", qPrintable(server->errorString()));
    return server;
}

QStringList tst_UpdateCheck::check(const QUrl &notice, int timeoutMs)
{
    InternetTransfer inet(&m_network);
    inet.setTimeoutMs(timeoutMs);
    UpdateCheck updateCheck(&inet);
    QSignalSpy done(&updateCheck, &UpdateCheck::finished);

    UpdateCheck::Actions actions;
    actions.setStatus = [this](const QString &text) { m_log << u"status:" + text; };
    actions.switchTimerOff = [this] { m_log << QStringLiteral("timer off"); };
    actions.endProgram = [this] { m_log << QStringLiteral("end"); };
    actions.makerForum = QUrl(Forum);
    if (!updateCheck.run(notice, actions))
        return {QStringLiteral("refused to run")};
    if (!done.wait(AnswerWaitMs))
        return m_log << QStringLiteral("no verdict");
    // Nothing more may follow the verdict.
    QTest::qWait(100);
    if (done.count() != 1)
        m_log << QStringLiteral("%1 verdicts").arg(done.count());
    return m_log;
}

void tst_UpdateCheck::decide_data()
{
    QTest::addColumn<QString>("notice");
    QTest::addColumn<UpdateCheck::Verdict>("verdict");

    using V = UpdateCheck::Verdict;
    QTest::newRow("this version's tag") << QStringLiteral("V2") << V::Current;
    QTest::newRow("null notice") << QString() << V::Unreadable;
    QTest::newRow("empty notice") << QStringLiteral("") << V::Unreadable;
    QTest::newRow("next version") << QStringLiteral("V3") << V::Newer;
    QTest::newRow("lower-case tag is not this version") << QStringLiteral("v2") << V::Newer;
    QTest::newRow("tag with a line break after it") << QStringLiteral("V2\n") << V::Newer;
    QTest::newRow("tag with a space before it") << QStringLiteral(" V2") << V::Newer;
    QTest::newRow("full-width tag") << QStringLiteral(u"Ｖ２") << V::Newer;
    QTest::newRow("lone space") << QStringLiteral(" ") << V::Newer;
    QTest::newRow("an error page") << QStringLiteral("<html><body>502</body></html>") << V::Newer;
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

void tst_UpdateCheck::currentVersionLetsTheProgramGoOn()
{
    auto server = serve(Response::text("V2"));
    const QStringList log = check(server->baseUrl().resolved(QUrl(QStringLiteral("/ver.txt"))));
    QCOMPARE(log, QStringList({QStringLiteral(u"status:请选择您的星座查看运势.."),
                               QStringLiteral("timer off")}));
    QCOMPARE(server->requests().size(), 1);
    QCOMPARE(server->requests().first().method, QByteArray("GET"));
    QCOMPARE(server->requests().first().path(), QByteArray("/ver.txt"));
}

void tst_UpdateCheck::newerNoticeIsShownThenForumOpensThenProgramEnds_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<QString>("shown");

    QTest::newRow("next version") << Response::text("V3") << QStringLiteral("V3");
    QTest::newRow("lower-case tag") << Response::text("v2") << QStringLiteral("v2");
    QTest::newRow("tag and a line break") << Response::text("V2\n") << QStringLiteral("V2 ");
    QTest::newRow("tag after a space") << Response::text(" V2") << QStringLiteral(" V2");
    QTest::newRow("markup shown as its characters")
        << Response::text("<b>x</b>") << QStringLiteral("<b>x</b>");
    QTest::newRow("5000 characters cut to 200")
        << Response::text(QByteArray(5000, '7')) << QString(200, u'7') + QStringLiteral(u"…");
    QStringEncoder gbk("GB18030");
    QTest::newRow("GBK notice decoded")
        << Response::text(gbk.encode(QStringLiteral(u"V3 新版")), "text/plain; charset=gbk")
        << QStringLiteral(u"V3 新版");
}

void tst_UpdateCheck::newerNoticeIsShownThenForumOpensThenProgramEnds()
{
    QFETCH(Response, response);
    QFETCH(QString, shown);
    auto server = serve(response);
    const QStringList log = check(server->baseUrl());
    QCOMPARE(log, QStringList({QStringLiteral(u"status:发现新版本.."), newerPrompt(shown),
                               u"browser:" + Forum, QStringLiteral("end")}));
}

void tst_UpdateCheck::noNoticeEndsTheProgramAfterTheNetworkPrompt_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<int>("timeoutMs");

    const int longEnough = InternetTransfer::DefaultTimeoutMs;
    QTest::newRow("empty body") << Response::text("") << longEnough;
    QTest::newRow("404 with a body")
        << withStatus(Response::text("V3 not here"), 404) << longEnough;
    QTest::newRow("500 whose body is this version's tag")
        << withStatus(Response::text("V2"), 500) << longEnough;
    QTest::newRow("silent server past the time limit") << silent() << 300;
    QTest::newRow("body over 64 KiB")
        << Response::text(QByteArray(InternetTransfer::MaxBodyBytes + 1, 'V')) << longEnough;
    Response dropped = Response::text("V2");
    dropped.delivery = Response::Delivery::CloseAtOnce;
    QTest::newRow("connection closed without an answer") << dropped << longEnough;
}

void tst_UpdateCheck::noNoticeEndsTheProgramAfterTheNetworkPrompt()
{
    QFETCH(Response, response);
    QFETCH(int, timeoutMs);
    auto server = serve(response);
    const QStringList log = check(server->baseUrl(), timeoutMs);
    QCOMPARE(log, QStringList({NetworkPrompt, QStringLiteral("end")}));
}

void tst_UpdateCheck::refusedConnectionEndsTheProgramAfterTheNetworkPrompt()
{
    QUrl url(QStringLiteral("http://127.0.0.1/ver.txt"));
    url.setPort(refusedPort());
    const QStringList log = check(url);
    QCOMPARE(log, QStringList({NetworkPrompt, QStringLiteral("end")}));
}

void tst_UpdateCheck::checkRunsInTheBackgroundAndOnlyOnceAtATime()
{
    auto server = serve(silent());
    InternetTransfer inet(&m_network);
    inet.setTimeoutMs(1000);
    UpdateCheck updateCheck(&inet);
    QSignalSpy done(&updateCheck, &UpdateCheck::finished);
    int ends = 0;
    UpdateCheck::Actions actions;
    actions.endProgram = [&ends] { ++ends; };

    QVERIFY(updateCheck.run(server->baseUrl(), actions));
    // The window's timer ticks again while the notice is on its way.
    QVERIFY(updateCheck.isRunning());
    QCOMPARE(done.count(), 0);
    QVERIFY(!updateCheck.run(server->baseUrl(), actions));
    QTRY_COMPARE(server->requests().size(), 1);

    QVERIFY(done.wait(AnswerWaitMs));
    QCOMPARE(done.first().first().value<UpdateCheck::Verdict>(), UpdateCheck::Verdict::Unreadable);
    QCOMPARE(ends, 1);
    QCOMPARE(m_log, QStringList{NetworkPrompt});
    QCOMPARE(server->requests().size(), 1);
    QVERIFY(!updateCheck.isRunning());
}

void tst_UpdateCheck::browserOpensOnlyWebAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("opened");

    QTest::newRow("http") << QStringLiteral("http://bbs.example.test/forum.php") << true;
    QTest::newRow("https") << QStringLiteral("https://bbs.example.test/") << true;
    QTest::newRow("upper-case scheme") << QStringLiteral("HTTPS://bbs.example.test/") << true;
    QTest::newRow("local file") << QStringLiteral("file:///etc/passwd") << false;
    QTest::newRow("script") << QStringLiteral("javascript:x") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("other protocol") << QStringLiteral("ftp://bbs.example.test/") << false;
    QTest::newRow("http without a host") << QStringLiteral("http:/etc/passwd") << false;
}

void tst_UpdateCheck::browserOpensOnlyWebAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, opened);
    const QUrl url(address);
    QCOMPARE(Browser::open(url), opened);
    QCOMPARE(m_log, opened ? QStringList{u"browser:" + url.toString()} : QStringList());
}

QTEST_MAIN(tst_UpdateCheck)
#include "tst_updatecheck.moc"
