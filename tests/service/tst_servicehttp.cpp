// The offline service answered over a real socket on 127.0.0.1, read with
// the same network stack the program uses.

#include "FortunePages.h"
#include "FortuneService.h"

#include "core/PageParser.h"
#include "core/SignTable.h"

#include "HttpClient.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

using httpkit::Answer;

const QDate SomeDay(2026, 12, 7);

} // namespace

class FortuneServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void todayPathFollowsTheClock();
    void datedPathServesThatDay_data();
    void datedPathServesThatDay();
    void unknownPathsAnswer404_data();
    void unknownPathsAnswer404();
    void onlyGetAndHeadAreServed();
    void noticeIsV2UntilSet();
    void forumsAndIndexAnswer_data();
    void forumsAndIndexAnswer();
    void gbkPagesAreTheSameTextInGb18030();
    void unknownCharsetIsRefused();
    void delayHoldsTheAnswerBack();
    void announcesEveryRequest();
    void everyAnswerNamesTheService_data();
    void everyAnswerNamesTheService();
    void headsWithBareLineFeedsEnd_data();
    void headsWithBareLineFeedsEnd();

private:
    Answer get(const QByteArray &path);
    Answer send(const QByteArray &method, const QByteArray &path);

    std::unique_ptr<FortuneService> m_service;
    httpkit::Client m_client;
};

void FortuneServiceTest::init()
{
    m_service = std::make_unique<FortuneService>();
    m_service->setClock([] { return SomeDay; });
    QVERIFY2(m_service->listen(0), qPrintable(m_service->errorString()));
    QVERIFY(m_service->port() != 0);
}

void FortuneServiceTest::cleanup()
{
    m_service.reset();
}

Answer FortuneServiceTest::get(const QByteArray &path)
{
    return send("GET", path);
}

Answer FortuneServiceTest::send(const QByteArray &method, const QByteArray &path)
{
    return m_client.send(method, httpkit::localUrl(m_service->port(), path));
}

void FortuneServiceTest::todayPathFollowsTheClock()
{
    const SignInfo &aries = *SignTable::bySlug(u"aries");
    Answer answer = get("/astro/view/aries/day/");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.contentType, QByteArray("text/html; charset=utf-8"));
    QCOMPARE(answer.body, FortunePages::pageForSlug(aries.slug, SomeDay).toUtf8());
    QCOMPARE(answer.body, get("/astro/view/aries/day/20261207").body);

    // The clock is asked on every request, so a long-running service moves
    // on to the next day by itself.
    const QDate leapDay(2028, 2, 29);
    m_service->setClock([leapDay] { return leapDay; });
    answer = get("/astro/view/aries/day/");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, FortunePages::pageForSlug(aries.slug, leapDay).toUtf8());
    QVERIFY(QString::fromUtf8(answer.body).contains(u"2028年02月29日"));
}

void FortuneServiceTest::datedPathServesThatDay_data()
{
    QTest::addColumn<QString>("slug");
    QTest::addColumn<QDate>("date");
    QTest::newRow("aries on the leap day") << QStringLiteral("aries") << QDate(2028, 2, 29);
    QTest::newRow("pisces on new year's eve") << QStringLiteral("pisces") << QDate(2026, 12, 31);
    QTest::newRow("aquarius in another year") << QStringLiteral("aquarius") << QDate(2031, 6, 15);
    QTest::newRow("sagittarius, the longest slug") << QStringLiteral("sagittarius") << SomeDay;
}

void FortuneServiceTest::datedPathServesThatDay()
{
    QFETCH(QString, slug);
    QFETCH(QDate, date);
    const Answer answer =
        get("/astro/view/" + slug.toLatin1() + "/day/" + date.toString(u"yyyyMMdd").toLatin1());
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.contentType, QByteArray("text/html; charset=utf-8"));
    const QString page = QString::fromUtf8(answer.body);
    QCOMPARE(page, FortunePages::pageForSlug(slug, date));
    QVERIFY(PageParser::parse(page).overallStars > 0);
}

void FortuneServiceTest::unknownPathsAnswer404_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("unknown slug") << QByteArray("/astro/view/ophiuchus/day/");
    QTest::newRow("slug in capitals") << QByteArray("/astro/view/ARIES/day/");
    QTest::newRow("no such day") << QByteArray("/astro/view/aries/day/20270229");
    QTest::newRow("month thirteen") << QByteArray("/astro/view/aries/day/20261301");
    QTest::newRow("seven digits") << QByteArray("/astro/view/aries/day/2026127");
    QTest::newRow("nine digits") << QByteArray("/astro/view/aries/day/202612070");
    QTest::newRow("dashed date") << QByteArray("/astro/view/aries/day/2026-12-07");
    QTest::newRow("slash after the date") << QByteArray("/astro/view/aries/day/20261207/");
    QTest::newRow("no slash after day") << QByteArray("/astro/view/aries/day");
    QTest::newRow("week instead of day") << QByteArray("/astro/view/aries/week/");
    QTest::newRow("sign without a page") << QByteArray("/astro/view/aries/");
    QTest::newRow("notice in another folder") << QByteArray("/kwgamejc/jc.txt");
    QTest::newRow("forum without its slash") << QByteArray("/bbs");
    QTest::newRow("anything else") << QByteArray("/favicon.ico");
}

void FortuneServiceTest::unknownPathsAnswer404()
{
    QFETCH(QByteArray, path);
    const Answer answer = get(path);
    QCOMPARE(answer.status, 404);
    QCOMPARE(answer.contentType, QByteArray("text/html; charset=utf-8"));
    QVERIFY(QString::fromUtf8(answer.body).contains(u"404"));
    QVERIFY(!answer.body.contains("<h4>"));
}

void FortuneServiceTest::onlyGetAndHeadAreServed()
{
    const Answer head = send("HEAD", "/astro/view/aries/day/");
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());

    const Answer post = send("POST", "/astro/view/aries/day/");
    QCOMPARE(post.status, 405);
}

void FortuneServiceTest::noticeIsV2UntilSet()
{
    Answer answer = get("/kwgamejc/xz/jc.txt");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, QByteArray("V2"));
    QVERIFY(answer.contentType.startsWith("text/plain"));

    m_service->setNotice("V3");
    QCOMPARE(get("/kwgamejc/xz/jc.txt").body, QByteArray("V3"));

    // Sent byte for byte: line breaks and all.
    const QByteArray twoLines = "V4\r\n\xe6\x96\xb0\xe7\x89\x88\xe6\x9c\xac\n";
    m_service->setNotice(twoLines);
    QCOMPARE(get("/kwgamejc/xz/jc.txt").body, twoLines);

    m_service->setNotice({});
    answer = get("/kwgamejc/xz/jc.txt");
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.body.isEmpty());
}

void FortuneServiceTest::forumsAndIndexAnswer_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("maker forum") << QByteArray("/bbs/") << QStringLiteral("Kw系列软件论坛");
    QTest::newRow("partner forum") << QByteArray("/yunfan/") << QStringLiteral("云帆联盟");
    QTest::newRow("index") << QByteArray("/") << QStringLiteral("/astro/view/capricorn/day/");
}

void FortuneServiceTest::forumsAndIndexAnswer()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, expected);
    const Answer answer = get(path);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.contentType, QByteArray("text/html; charset=utf-8"));
    QVERIFY(QString::fromUtf8(answer.body).contains(expected));
}

void FortuneServiceTest::gbkPagesAreTheSameTextInGb18030()
{
    const QByteArray paths[] = {
        "/astro/view/taurus/day/", "/astro/view/libra/day/20280229", "/bbs/", "/yunfan/", "/",
        "/astro/view/nowhere/day/"};
    QList<Answer> utf8;
    for (const QByteArray &path : paths)
        utf8.append(get(path));

    QVERIFY(m_service->setCharset("GBK"));
    QCOMPARE(m_service->charset(), QByteArray("gbk"));
    for (qsizetype i = 0; i < qsizetype(std::size(paths)); ++i) {
        const Answer gbk = get(paths[i]);
        QCOMPARE(gbk.status, utf8[i].status);
        QCOMPARE(gbk.contentType, QByteArray("text/html; charset=gbk"));
        QVERIFY(gbk.body != utf8[i].body);

        QStringDecoder strictUtf8(QStringDecoder::Utf8);
        const QString misread = strictUtf8.decode(gbk.body);
        Q_UNUSED(misread);
        QVERIFY2(strictUtf8.hasError(), "GBK bytes must not pass for UTF-8");

        QStringDecoder decoder("GB18030");
        QVERIFY(decoder.isValid());
        QString text = decoder.decode(gbk.body);
        QVERIFY(!decoder.hasError());
        QCOMPARE(text.count(u"<meta charset=\"gbk\">"), 1);
        text.replace(QStringLiteral("<meta charset=\"gbk\">"),
                     QStringLiteral("<meta charset=\"utf-8\">"));
        QCOMPARE(text, QString::fromUtf8(utf8[i].body));
    }

    // The notice is not a page: its bytes go out as they were set.
    m_service->setNotice("V3");
    QCOMPARE(get("/kwgamejc/xz/jc.txt").body, QByteArray("V3"));
}

void FortuneServiceTest::unknownCharsetIsRefused()
{
    QVERIFY(!m_service->setCharset("latin1"));
    QCOMPARE(m_service->charset(), QByteArray("utf-8"));
    QVERIFY(m_service->setCharset("gbk"));
    QVERIFY(!m_service->setCharset("big5"));
    QCOMPARE(m_service->charset(), QByteArray("gbk"));
    QVERIFY(m_service->setCharset("UTF-8"));
    QCOMPARE(get("/").contentType, QByteArray("text/html; charset=utf-8"));
}

// Only a lower bound: a busy machine can make an answer late, never early.
void FortuneServiceTest::delayHoldsTheAnswerBack()
{
    constexpr int DelayMs = 400;
    m_service->setDelayMs(DelayMs);
    QElapsedTimer clock;
    clock.start();
    const Answer answer = get("/kwgamejc/xz/jc.txt");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, QByteArray("V2"));
    // Qt's coarse timers may fire up to 5% early.
    QVERIFY2(clock.elapsed() >= DelayMs * 9 / 10, qPrintable(QString::number(clock.elapsed())));
}

// What the idle end counts on: every request is told, whatever its answer.
void FortuneServiceTest::announcesEveryRequest()
{
    QSignalSpy announced(m_service.get(), &FortuneService::requestReceived);
    get("/astro/view/leo/day/");
    send("HEAD", "/kwgamejc/xz/jc.txt");
    get("/nothing");
    QCOMPARE(announced.size(), 3);
    const auto request = [&announced](int i) {
        return announced.at(i).at(0).value<http::Request>();
    };
    QCOMPARE(request(0).path(), QByteArray("/astro/view/leo/day/"));
    QCOMPARE(request(1).method, QByteArray("HEAD"));
    QCOMPARE(request(2).path(), QByteArray("/nothing"));
}

// How a launcher tells this service from another program on its port.
void FortuneServiceTest::everyAnswerNamesTheService_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("a page") << QByteArray("GET") << QByteArray("/astro/view/leo/day/");
    QTest::newRow("the index, asked with HEAD") << QByteArray("HEAD") << QByteArray("/");
    QTest::newRow("a 404") << QByteArray("GET") << QByteArray("/nothing");
    QTest::newRow("a 405") << QByteArray("POST") << QByteArray("/");
}

void FortuneServiceTest::everyAnswerNamesTheService()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QCOMPARE(send(method, path).server, QByteArray("zhiwei-fortune-service"));
}

// A head whose lines end in a bare LF is answered; a first line that is not
// a request line is refused at once; either way the connection ends (the
// answered ones ask for it: an HTTP/1.1 connection otherwise stays open).
void FortuneServiceTest::headsWithBareLineFeedsEnd_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::newRow("bare LF") << QByteArray(
                                    "GET /kwgamejc/xz/jc.txt HTTP/1.1\nConnection: close\n\n")
                             << QByteArray("HTTP/1.1 200 OK");
    QTest::newRow("bare LF after a header")
        << QByteArray("GET /kwgamejc/xz/jc.txt HTTP/1.1\nHost: 127.0.0.1\nConnection: close\n\n")
        << QByteArray("HTTP/1.1 200 OK");
    QTest::newRow("CR LF, then a bare LF")
        << QByteArray("GET /kwgamejc/xz/jc.txt HTTP/1.1\r\nConnection: close\r\n\n")
        << QByteArray("HTTP/1.1 200 OK");
    // Only an answer to the second, which asks for the close, ends the connection.
    QTest::newRow("two requests in one write")
        << QByteArray("GET /kwgamejc/xz/jc.txt HTTP/1.1\n\nGET / HTTP/1.1\nConnection: close\n\n")
        << QByteArray("HTTP/1.1 200 OK");
    QTest::newRow("HTTP/0.9 line")
        << QByteArray("GET /kwgamejc/xz/jc.txt\n") << QByteArray("HTTP/1.1 400 Bad Request");
    QTest::newRow("an empty line first")
        << QByteArray("\nGET / HTTP/1.1\n\n") << QByteArray("HTTP/1.1 400 Bad Request");
}

void FortuneServiceTest::headsWithBareLineFeedsEnd()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_service->port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(request);
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT(
        (answer += socket.readAll(), socket.state() == QAbstractSocket::UnconnectedState), 5000);
    answer += socket.readAll();
    QVERIFY2(answer.startsWith(QByteArray(statusLine + "\r\n")), answer.constData());
}

QTEST_GUILESS_MAIN(FortuneServiceTest)
#include "tst_servicehttp.moc"
